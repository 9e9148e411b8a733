#include "script/checkpoint_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "script/script.h"
#include "sound/sound.h"

namespace {

constexpr std::uint8_t kSaveOffset = kCheckpointByteOffset;

std::string describeByte(std::uint8_t b) {
    char buf[32];
    if (b >= 0x21 && b < 0x7F)
        std::snprintf(buf, sizeof buf, "0x%02X '%c'", b, b);
    else
        std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

struct Reader {
    std::string_view plain;
    CheckpointDamage* damage;
    std::size_t p = 0;

    bool fail(const std::string& field, std::size_t at, const std::string& message) {
        if (damage) *damage = {field, at, message};
        return false;
    }
    // A fixed-width decimal field.
    bool digits(int count, int* value, const std::string& field) {
        int v = 0;
        for (int k = 0; k < count; ++k, ++p) {
            if (p >= plain.size()) return fail(field, p, "the file ends inside this field");
            const auto c = static_cast<std::uint8_t>(plain[p]);
            if (c < '0' || c > '9')
                return fail(field, p, "found " + describeByte(c) + " where a digit belongs");
            v = v * 10 + (c - '0');
        }
        *value = v;
        return true;
    }
    // The one space between two fields.
    bool space(const std::string& after) {
        if (p >= plain.size()) return fail("space after " + after, p, "the file ends before it");
        if (plain[p] != ' ')
            return fail("space after " + after, p,
                        "found " + describeByte(static_cast<std::uint8_t>(plain[p])) +
                            " where a space belongs");
        ++p;
        return true;
    }
    bool range(int value, int limit, const std::string& field, std::size_t at,
               const std::string& what) {
        if (value < limit) return true;
        return fail(field, at,
                    what + " " + std::to_string(value) + " does not exist: they are 0 to " +
                        std::to_string(limit - 1));
    }
};

} // namespace

bool readCheckpointRecord(std::span<const std::uint8_t> stored, CheckpointRecord* cp,
                          CheckpointDamage* damage) {
    *cp = CheckpointRecord{};
    std::string plain(stored.begin(),
                      stored.begin() + std::min(stored.size(), kCheckpointReadBytes));
    for (char& c : plain)
        c = static_cast<char>(static_cast<std::uint8_t>(c) - kSaveOffset);
    Reader r{plain, damage};

    int value = 0;
    if (!r.digits(3, &value, "block") || !r.range(value, kBlockCount, "block", 0, "block"))
        return false;
    cp->block = value;
    if (!r.space("block")) return false;
    const std::size_t labelEnd = plain.find(' ', r.p);
    if (labelEnd == std::string::npos)
        return r.fail("label", r.p, "no space ends the label name before the end of the file");
    if (labelEnd == r.p) return r.fail("label", r.p, "the label name is empty");
    if (labelEnd - r.p > static_cast<std::size_t>(kMaxLabelName))
        return r.fail("label", r.p,
                      "the label name is " + std::to_string(labelEnd - r.p) +
                          " bytes; a name holds at most " + std::to_string(kMaxLabelName));
    cp->label = plain.substr(r.p, labelEnd - r.p);
    r.p = labelEnd + 1;
    std::size_t at = r.p;
    if (!r.digits(2, &value, "background") ||
        !r.range(value, kBackgroundCount, "background", at, "background"))
        return false;
    cp->background = value;
    if (!r.space("background") || !r.digits(1, &value, "layer count")) return false;
    cp->layerCount = value;
    for (int k = 0; k < cp->layerCount; ++k) {
        const std::string field =
            "picture " + std::to_string(k + 1) + " of " + std::to_string(cp->layerCount);
        if (!r.space(k == 0 ? std::string("layer count")
                            : "picture " + std::to_string(k) + " of " +
                                  std::to_string(cp->layerCount)))
            return false;
        at = r.p;
        if (!r.digits(2, &value, field) || !r.range(value, kCharPictureCount, field, at, "picture"))
            return false;
        cp->pictures[k] = value;
    }
    if (!r.space(cp->layerCount ? "picture " + std::to_string(cp->layerCount) + " of " +
                                      std::to_string(cp->layerCount)
                                : std::string("layer count")))
        return false;
    at = r.p;
    if (!r.digits(2, &value, "music") ||
        !r.range(value, kSoundSlotCount, "music", at, "sound slot"))
        return false;
    cp->music = value;
    return true;
}

bool readCheckpointBytes(const std::string& path, std::string* bytes, std::string* reason) {
    // Opened without waiting (a pipe by that name would block) and checked once open, so the
    // reason given is the true one for the file that was actually read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        *reason = error == ENOENT ? "there is no such file"
                                  : "cannot be read: " + std::string(std::strerror(error));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *reason = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
        return false;
    }
    bytes->assign(kCheckpointReadBytes, '\0');
    std::size_t got = 0;
    ssize_t n = 0;
    while (got < bytes->size() && (n = ::read(fd, bytes->data() + got, bytes->size() - got)) > 0)
        got += static_cast<std::size_t>(n);
    const int error = errno;
    ::close(fd);
    if (n < 0) {
        *reason = "cannot be read: " + std::string(std::strerror(error));
        return false;
    }
    bytes->resize(got);
    return true;
}
