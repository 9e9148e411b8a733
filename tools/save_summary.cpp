#include "tools/save_summary.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "base/files.h"
#include "base/message.h"
#include "base/scene_number.h"
#include "player/save_file.h"
#include "script/scenario_text.h"
#include "script/script.h"
#include "tools/checkpoint_fields.h"

namespace {

std::string utcTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return std::to_string(seconds);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::string momentLines(const SaveRecord& r) {
    const Moment& m = r.moment;
    std::string s;
    s += "page        block " + std::to_string(m.script.currentBlock) + ", source byte " +
         std::to_string(m.script.source) + ", " + std::to_string(m.script.revealPos) +
         " bytes revealed" + (m.script.choiceWait ? ", a choice pending" : "") + "\n";
    s += "background  " + std::to_string(m.background) + "\n";
    std::string layers;
    int shown = 0;
    for (std::size_t k = 0; k < m.layers.size(); ++k)
        if (m.layers[k].visible) {
            layers += (shown++ ? ", picture " : ": picture ") +
                      std::to_string(m.layers[k].imageNo) + " on layer " + std::to_string(k);
        }
    s += "layers      " + std::to_string(shown) + layers + "\n";
    s += "music       " +
         (m.musicPlaying < 0 ? std::string("none") : "slot " + std::to_string(m.musicPlaying)) +
         " (from the start of its piece)\n";
    s +=
        std::string("checkpoint  ") +
        (m.hasCheckpoint ? "the run's record is put back as Data.sav" : "none written in the run") +
        (m.script.continueGame ? "; the next game continues from it" : "") + "\n";
    s += "backlog     " + std::to_string(r.backlog.size()) + " pages\n";
    s += "thumbnail   " +
         (r.thumbnail.width == 0
              ? std::string("none")
              : std::to_string(r.thumbnail.width) + " x " + std::to_string(r.thumbnail.height)) +
         "\n";
    return s;
}

} // namespace

bool looksLikeSaveFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[6] = {};
    in.read(magic, sizeof magic);
    return in.gcount() == sizeof magic && std::string(magic, sizeof magic) == "TVSAVE";
}

SaveSummary summarizeSaveFile(const std::string& path, const std::string& gameDir) {
    SaveSummary out;
    out.checked = loadGameBlocks(gameDir);
    if (!out.checked) {
        putBlockText(0, "");
        putBlockText(1, "");
    }
    SlotInfo info = readSaveFile(path);
    std::string& s = out.text;
    switch (info.state) {
    case SlotState::Empty:
        s = "refused     there is no such file\n";
        return out;
    case SlotState::Damaged:
    case SlotState::Newer:
        s = "refused     " + info.reason + "\n";
        return out;
    case SlotState::Foreign:
        if (out.checked) {
            s = "refused     " + info.reason + "\n";
            return out;
        }
        // Without the game beside it, only the file itself can be judged.
        info.record = {};
        {
            std::string bytes, why;
            readRegularFile(path, kMaxSaveBytes, &bytes, &why);
            decodeSave({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                       &info.record, &why);
        }
        break;
    case SlotState::Ready:
    case SlotState::Edited:
        break;
    }
    const SaveRecord& r = info.record;
    out.loadable = true;
    s += "saved       " + utcTime(r.savedAt) + "\n";
    s += "preview     " + terminalText(r.preview) + "\n";
    s += "place       block " + std::to_string(r.place.block) + ", " +
         (r.place.label.empty() ? std::string("no label above")
                                : "label *" + terminalText(sjisToUtf8(r.place.label))) +
         ", " + std::to_string(r.place.lineOffset) +
         (r.place.lineOffset == 1 ? " line" : " lines") + " below it\n";
    if (!out.checked) {
        s += "loads       not judged: no Scenario folder beside the file\n";
    } else if (info.state == SlotState::Ready) {
        s += "loads       exactly this moment\n";
    } else {
        const std::optional<FoundPlace> found = findPlace(r.place);
        s += std::string("loads       the scenario was edited since: ") +
             (found && found->samePage ? "at the same page, which is still there"
                                       : "from the label above the page, which is gone") +
             "\n";
    }
    s += momentLines(r);
    return out;
}
