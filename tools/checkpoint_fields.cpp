#include "tools/checkpoint_fields.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "base/files.h"
#include "base/message.h"
#include "script/checkpoint_record.h"
#include "script/scenario_text.h"
#include "script/script.h"
#include "sound/sound.h"

namespace {

bool isLoadedBackground(int n) {
    return n >= 0 && n <= 7 && n != 4;
}
bool isLoadedSlot(int n) {
    return n == 0 || n == 1 || n == 50 || n == 51 || n == 52;
}

// Where each field of a whole record starts, for the notes.
std::size_t backgroundOffset(const CheckpointFields& f) {
    return 4 + f.labelBytes.size() + 1;
}

} // namespace

CheckpointFields readCheckpointFields(std::span<const std::uint8_t> stored) {
    CheckpointFields out;
    CheckpointRecord record;
    CheckpointDamage damage;
    const bool whole = readCheckpointRecord(stored, &record, &damage);
    out.block = record.block;
    out.labelBytes = record.label;
    out.label = sjisToUtf8(record.label);
    out.background = record.background;
    for (int k = 0; k < std::max(record.layerCount, 0); ++k)
        out.pictures.push_back(
            k < static_cast<int>(record.pictures.size()) && whole ? record.pictures[k] : -1);
    out.music = record.music;
    if (!whole) {
        out.damage.push_back({damage.field, damage.offset, damage.message});
        return out;
    }

    std::size_t at = backgroundOffset(out);
    if (!isLoadedBackground(out.background))
        out.notes.push_back({"background", at,
                             "background " + std::to_string(out.background) +
                                 " has no picture; it shows as a blank"});
    at += 5;
    for (std::size_t k = 0; k < out.pictures.size(); ++k, at += 3) {
        if (out.pictures[k] > 1)
            out.notes.push_back(
                {"picture " + std::to_string(k + 1) + " of " + std::to_string(out.pictures.size()),
                 at,
                 "picture " + std::to_string(out.pictures[k]) +
                     " has no file; the layer shows nothing"});
    }
    if (out.music > 0 && !isLoadedSlot(out.music))
        out.notes.push_back(
            {"music", at,
             "sound slot " + std::to_string(out.music) + " is never loaded; no music starts"});
    return out;
}

bool loadGameBlocks(const std::string& gameDir) {
    const std::string dir = gameDir.empty() || gameDir.ends_with("/") ? gameDir : gameDir + "/";
    std::array<std::string, 2> stored;
    for (int b = 0; b < 2; ++b)
        if (!readWholeFile(systemPath(dir + kScenarioFileNames[b]), stored[b])) return false;
    for (int b = 0; b < 2; ++b)
        putBlockText(b, plainScenarioText({reinterpret_cast<const std::uint8_t*>(stored[b].data()),
                                           stored[b].size()}));
    return true;
}

bool checkCheckpointLabel(const std::string& gameDir, CheckpointFields& f) {
    if (f.block < 0 || !f.damage.empty()) return true;
    const auto& names = kScenarioFileNames;
    // The block memory as a game start fills it, searched as the continue searches it.
    if (!loadGameBlocks(gameDir)) return false;
    if (!findLabel(f.block, f.labelBytes))
        f.damage.push_back({"label", 4,
                            "the label *" + f.label + " is not in block " +
                                std::to_string(f.block) + " (" + names[f.block] +
                                "); the continue would fail"});
    return true;
}

std::string formatCheckpointFields(const CheckpointFields& f) {
    auto number = [](int n) { return n < 0 ? std::string("?") : std::to_string(n); };
    std::string s;
    s += "block       " + number(f.block);
    if (f.block == 0) s += " (Scenario/scenario0.qv_)";
    if (f.block == 1) s += " (Scenario/end1.qv_)";
    s += "\nlabel       " + terminalText(f.label) + "\n";
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
