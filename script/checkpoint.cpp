// The checkpoint: "Data.sav", written at marked labels and restored by a continued game.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/files.h"
#include "base/message.h"
#include "base/places.h"
#include "base/replace_file.h"
#include "script/checkpoint_record.h"
#include "script/script.h"
#include "sound/sound.h"

namespace {

constexpr std::uint8_t kSaveOffset = kCheckpointByteOffset;

} // namespace

std::array<std::uint8_t, kCheckpointSize> makeCheckpointRecord(std::string_view label) {
    label = label.substr(0, kMaxLabelName);
    char number[8];
    std::snprintf(number, sizeof number, "%03d ", g_script.currentBlock % 1000);
    std::string record = number;
    record.append(label);
    std::snprintf(number, sizeof number, " %02d ", currentBackground % 100);
    record += number;

    std::string pictures;
    int count = 0;
    for (const PictureLayer& layer : g_layers) {
        if (!layer.visible) continue;
        if (count == 9) {
            // The count has one digit: the tenth layer cannot be recorded.
            reportProblem("checkpoint: ten layers are visible; only the first nine are saved");
            break;
        }
        std::snprintf(number, sizeof number, "%02d ", layer.imageNo % 100);
        pictures += number;
        ++count;
    }
    record += static_cast<char>('0' + count);
    record += ' ';
    record += pictures;
    std::snprintf(number, sizeof number, "%02d", currentBgm < 0 ? 0 : currentBgm % 100);
    record += number;

    std::array<std::uint8_t, kCheckpointSize> out{};
    std::copy_n(record.begin(), std::min<std::size_t>(record.size(), out.size()), out.begin());
    return out;
}

namespace {

// What this run last put on disk, so that a script that passes the same marked label again and
// again (a loop that never waits) does not write and sync the same bytes every frame.
struct CheckpointWrites {
    std::string path;
    std::array<std::uint8_t, kCheckpointSize> bytes{};
    bool written = false;
    bool failureReported = false; // reported once, and again only after a write has succeeded
};
CheckpointWrites g_writes;

// True when `path` is, or leads by links to, a regular file holding exactly `bytes`. A checkpoint
// that is a link is replaced through it, so it is compared through it too.
bool fileHolds(const std::string& path, const std::array<std::uint8_t, kCheckpointSize>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    std::array<std::uint8_t, kCheckpointSize + 1> held{};
    std::size_t got = 0;
    ssize_t n = 0;
    while (got < held.size() && (n = ::read(fd, held.data() + got, held.size() - got)) > 0)
        got += static_cast<std::size_t>(n);
    ::close(fd);
    return n >= 0 && got == bytes.size() && std::equal(bytes.begin(), bytes.end(), held.begin());
}

// Writes the scrambled record unless this run already wrote these very bytes and they are
// still on disk: nothing is lost then, the file already holds them. A failure is shown once,
// and again only after a write has succeeded in between, so a script that keeps landing on a
// marked label in a folder the player cannot write does not open a message box every frame.
// Returns whether the file had to be written; nothing when it could not be.
std::optional<bool> storeCheckpoint(const std::string& path,
                                    const std::array<std::uint8_t, kCheckpointSize>& bytes) {
    if (g_writes.written && g_writes.path == path && g_writes.bytes == bytes &&
        fileHolds(path, bytes))
        return false;
    const std::string reason = replaceFile(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!reason.empty()) {
        g_writes.written = false;
        if (!g_writes.failureReported) {
            g_writes.failureReported = true;
            reportProblem("Data.sav: " + reason);
            showMessage("Data.sav の書き込みに失敗");
        }
        return std::nullopt;
    }
    g_writes = {path, bytes, true, false};
    return true;
}

// Reads the file for a continue; false after a line on standard error with the true reason.
bool readCheckpointForContinue(const std::string& path, CheckpointRecord* cp) {
    std::string bytes, reason;
    CheckpointDamage damage;
    if (!readCheckpointBytes(path, &bytes, &reason)) {
        reportProblem("Data.sav " + reason + "; the game starts from the beginning");
        return false;
    }
    if (!readCheckpointRecord({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                              cp, &damage)) {
        reportProblem("Data.sav is damaged at byte " + std::to_string(damage.offset) + " (" +
                      damage.field + "): " + damage.message +
                      "; the game starts from the beginning");
        return false;
    }
    return true;
}

} // namespace

void forgetCheckpointWrites() {
    g_writes = {};
}

std::optional<std::array<std::uint8_t, kCheckpointSize>> lastCheckpointWrite() {
    if (!g_writes.written) return std::nullopt;
    std::array<std::uint8_t, kCheckpointSize> plain = g_writes.bytes;
    for (std::uint8_t& b : plain)
        b = static_cast<std::uint8_t>(b - kSaveOffset);
    return plain;
}

bool rewriteCheckpoint(const std::array<std::uint8_t, kCheckpointSize>& plain) {
    std::array<std::uint8_t, kCheckpointSize> bytes = plain;
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(b + kSaveOffset);
    return storeCheckpoint(savePath(kCheckpointPath, SaveUse::Write), bytes).has_value();
}

void writeCheckpoint(std::string_view label) {
    std::array<std::uint8_t, kCheckpointSize> bytes = makeCheckpointRecord(label);
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(b + kSaveOffset);

    const std::string path = savePath(kCheckpointPath, SaveUse::Write);
    const std::optional<bool> written = storeCheckpoint(path, bytes);
    if (!written) return;
    g_script.saveWritten = true;
    if (traceEnabled())
        traceEvent("checkpoint_write", {{"label", sjisToUtf8(label)},
                                        {"block", g_script.currentBlock},
                                        {"written", *written ? 1 : 0}});
}

void restoreCheckpoint() {
    CheckpointRecord cp;
    if (!readCheckpointForContinue(savePath(kCheckpointPath, SaveUse::Read), &cp)) {
        showMessage("Data.sav の読み込み失敗");
        return;
    }
    const std::optional<bool> marked = findLabel(cp.block, cp.label);
    if (!marked) {
        showMessage("ラベル *" + sjisToUtf8(cp.label) + " (ブロック " + std::to_string(cp.block) +
                    ") の検索に失敗");
        return;
    }

    ScriptState& s = g_script;
    s.currentBlock = cp.block;
    s.revealPos = 0;
    s.removedBytes = 0;
    buildNextPage();
    currentBackground = cp.background;
    for (int k = 0; k < cp.layerCount; ++k) {
        g_layers[k].visible = true;
        g_layers[k].imageNo = cp.pictures[k];
    }
    if (cp.music == 0) {
        currentBgm = -1;
    } else {
        currentBgm = cp.music;
        playSlotPrimary(cp.music);
    }
    if (traceEnabled())
        traceEvent("checkpoint_restore", {{"label", sjisToUtf8(cp.label)}, {"block", cp.block}});
    if (*marked) writeCheckpoint(cp.label);
}
