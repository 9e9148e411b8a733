#include "tools/checkpoint_fields.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "base/files.h"
#include "script/script.h"
#include "sound/sound.h"

namespace {

constexpr std::uint8_t kSaveOffset = 30; // every byte is stored as (plain + 30) mod 256

std::string describeByte(std::uint8_t b) {
    char buf[32];
    if (b >= 0x21 && b < 0x7F)
        std::snprintf(buf, sizeof buf, "0x%02X '%c'", b, b);
    else
        std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

struct Reader {
    std::span<const std::uint8_t> plain;
    CheckpointFields& out;

    void damage(const std::string& field, std::size_t at, const std::string& message) {
        out.damage.push_back({field, at, message});
    }

    // A fixed-width decimal field; -1 when it is cut off or holds a non-digit.
    int digits(const std::string& field, std::size_t at, int width) {
        int value = 0;
        bool ok = true;
        for (int k = 0; k < width; ++k) {
            if (at + k >= plain.size()) {
                damage(field, at + k, "the file ends inside this field");
                return -1;
            }
            std::uint8_t c = plain[at + k];
            if (c < '0' || c > '9') {
                damage(field, at + k, "found " + describeByte(c) + " where a digit belongs");
                ok = false;
            } else {
                value = value * 10 + (c - '0');
            }
        }
        return ok ? value : -1;
    }

    // The one space between two fields; false when the file ends before it.
    bool space(const std::string& before, std::size_t at) {
        if (at >= plain.size()) {
            damage("space after " + before, at, "the file ends before this space");
            return false;
        }
        if (plain[at] != ' ')
            damage("space after " + before, at,
                   "found " + describeByte(plain[at]) + " where a space belongs");
        return true;
    }
};

bool isLoadedBackground(int n) {
    return n >= 0 && n <= 7 && n != 4;
}
bool isLoadedSlot(int n) {
    return n == 0 || n == 1 || n == 50 || n == 51 || n == 52;
}

} // namespace

CheckpointFields readCheckpointFields(std::span<const std::uint8_t> stored) {
    CheckpointFields out;
    std::vector<std::uint8_t> plain(stored.begin(), stored.end());
    for (std::uint8_t& b : plain)
        b = static_cast<std::uint8_t>(b - kSaveOffset);
    Reader r{plain, out};

    if (plain.size() != static_cast<std::size_t>(kCheckpointSize))
        r.damage("file", std::min(plain.size(), static_cast<std::size_t>(kCheckpointSize)),
                 "the file is " + std::to_string(plain.size()) + " bytes; a checkpoint is " +
                     std::to_string(kCheckpointSize));

    out.block = r.digits("block", 0, 3);
    if (out.block > 1)
        r.damage("block", 0,
                 "block " + std::to_string(out.block) + " does not exist: only 0 and 1 do");
    if (!r.space("block", 3)) return out;

    // The label runs to the next space; the engine takes every byte before it as the name.
    std::size_t start = 4, end = start;
    while (end < plain.size() && plain[end] != ' ')
        ++end;
    if (end >= plain.size()) {
        r.damage("label", start, "no space ends the label name before the end of the file");
        return out;
    }
    std::string_view name(reinterpret_cast<const char*>(plain.data()) + start, end - start);
    if (name.empty()) r.damage("label", start, "the label name is empty");
    if (name.size() > static_cast<std::size_t>(kMaxLabelName))
        r.damage("label", start,
                 "the label name is " + std::to_string(name.size()) +
                     " bytes; a name holds at most " + std::to_string(kMaxLabelName));
    for (std::size_t k = 0; k < name.size(); ++k) {
        auto c = static_cast<std::uint8_t>(name[k]);
        if (c < 0x20 || c == '|' || c == ']' || c == 0x7F)
            r.damage("label", start + k,
                     "found " + describeByte(c) + ", which no label line's name can hold");
    }
    out.label = sjisToUtf8(name);

    std::size_t at = end + 1;
    out.background = r.digits("background", at, 2);
    if (out.background >= kBackgroundCount)
        r.damage("background", at,
                 "background " + std::to_string(out.background) +
                     " does not exist: backgrounds are 0 to 9");
    else if (out.background >= 0 && !isLoadedBackground(out.background))
        out.notes.push_back({"background", at,
                             "background " + std::to_string(out.background) +
                                 " has no picture; it shows as a blank"});
    if (!r.space("background", at + 2)) return out;
    at += 3;
    int count = r.digits("layer count", at, 1);
    if (!r.space("layer count", at + 1)) return out;
    at += 2;
    for (int k = 0; k < count; ++k, at += 3) {
        std::string field = "picture " + std::to_string(k + 1) + " of " + std::to_string(count);
        int picture = r.digits(field, at, 2);
        out.pictures.push_back(picture);
        if (picture >= kCharPictureCount)
            r.damage(field, at,
                     "picture " + std::to_string(picture) +
                         " does not exist: pictures are 0 to 12");
        else if (picture > 1)
            out.notes.push_back(
                {field, at,
                 "picture " + std::to_string(picture) + " has no file; the layer shows nothing"});
        if (!r.space(field, at + 2)) return out;
    }
    if (count < 0) return out; // where music lies is unknown
    out.music = r.digits("music", at, 2);
    if (out.music >= kSoundSlotCount)
        r.damage("music", at,
                 "sound slot " + std::to_string(out.music) + " does not exist: slots are 0 to " +
                     std::to_string(kSoundSlotCount - 1));
    else if (out.music > 0 && !isLoadedSlot(out.music))
        out.notes.push_back(
            {"music", at,
             "sound slot " + std::to_string(out.music) + " is never loaded; no music starts"});
    return out;
}

std::string formatCheckpointFields(const CheckpointFields& f) {
    auto number = [](int n) { return n < 0 ? std::string("?") : std::to_string(n); };
    std::string s;
    s += "block       " + number(f.block);
    if (f.block == 0) s += " (Scenario/scenario0.qv_)";
    if (f.block == 1) s += " (Scenario/end1.qv_)";
    s += "\nlabel       " + f.label + "\n";
    s += "background  " + number(f.background) + "\n";
    s += "layers      " + std::to_string(f.pictures.size());
    for (std::size_t k = 0; k < f.pictures.size(); ++k)
        s += (k ? ", picture " : ": picture ") + number(f.pictures[k]) + " on layer " +
             std::to_string(k);
    s += "\nmusic       " + number(f.music);
    if (f.music == 0) s += " (none)";
    s += "\n";
    return s;
}
