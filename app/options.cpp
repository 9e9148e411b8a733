#include "app/options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/arguments.h"
#include "base/places.h"
#include "player/save_file.h"

namespace {

constexpr std::string_view kUsage =
    R"(Usage: tolvane [options] [GAME_DIR]

Plays the game in GAME_DIR. Without GAME_DIR: the game in the current folder when it
holds one (Scenario/scenario0.qv_), else the demo game installed with the program.
The checkpoint Data.sav and the saves (Save01.sav .. Save60.sav, QuickSave.sav,
QuitSave.sav, ReadPages.sav) are kept in the game folder, or in
$XDG_DATA_HOME/tolvane/ (~/.local/share/tolvane/) when the game folder cannot be
written. Escape, closing the window, SIGTERM and SIGINT write the quit save, and so
does a headless run after its last frame (not with --plain).

Options:
  --headless           no window and no sound device; frames run as fast as they can
                       and messages go to standard error
  --frames N           shut down normally after frame N (frames count from 1)
  --input FILE         replay input from FILE
  --screenshot N:FILE  write the picture of frame N to FILE, a PNG file (a BMP file when
                       FILE ends in .bmp) (repeatable)
  --state N:FILE       write the game state after frame N as JSON to FILE (repeatable)
  --trace FILE         write one JSON line to FILE for each thing the game does
  --text-feed FILE     append the text of each page and the choices to FILE (or a
                       FIFO) as UTF-8 lines, for a screen reader or a braille display
  --debug-log          show the debug log on standard error (the frame-rate line at the
                       first frame, then once a second)
  --full-redraw        draw every frame whole and present it, even when nothing changed
                       (the picture is the same; for comparing and measuring)
  --fullscreen         start in fullscreen (Alt+Enter or F11 toggles it while playing)
  --window             start in a window
  --settings FILE      read and keep the player's settings in FILE instead of
                       $XDG_CONFIG_HOME/tolvane/settings.ini (headless: none unless given)
  --plain              the game alone: no keyboard, wheel, skip, auto mode, backlog or
                       menu; only the mouse, F1 and Escape, as the game itself reads them
  --source             play the author's UTF-8 sources Scenario/scenario0.txt and
                       Scenario/end1.txt instead of the scenario files (an encode error
                       stops the program with FILE:LINE:COLUMN); F5 reloads them and
                       the pictures and sounds, and starts the page shown again at
                       the same line; a change on disk is announced
  --start B:*LABEL     skip the title and start the game at the label in block B
                       (0 or 1), as a jump there would
  --load SLOT          start at the moment saved in SLOT: 1 to 60, quick or quit; a
                       slot that cannot be loaded ends the program with its reason
  --resume             start where the game was quit (--load quit); without a quit
                       save that loads, the title starts as usual
  --help               show this text

Input file: one event a line, "FRAME EVENT ARGS"; '#' starts a comment.
  FRAME move DX DY     add DX, DY to that frame's mouse movement
  FRAME down B         press button B (left, right or middle) from that frame on
  FRAME up B           release button B
  FRAME click          down left at FRAME, up left at FRAME + 1
  FRAME tap            down and up left, both before FRAME's snapshot
  FRAME wheel N        turn the wheel N notches (negative: towards the player)
  FRAME keydown NAME   press the key NAME (an SDL key name: F1, Escape, Return, A, ...)
  FRAME keyup NAME     release it
Without --headless the replayed input is added to the keyboard's and the mouse's.

F3 shows where the game is: block, source line of the page and of the reveal, the
last tag, scene, frame rate and checkpoint.
)";

// The program changes into GAME_DIR before it writes its outputs; the user meant the folder
// the command was typed in.
std::string absolutePath(std::string_view path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? std::string(path) : absolute.string();
}

} // namespace

std::string_view usageText() {
    return kUsage;
}

std::string defaultGameFolder(const std::string& current, const std::string& installedDemo) {
    if (holdsGame(current) || installedDemo.empty()) return {};
    return installedDemo;
}

namespace {

struct ValueOption {
    std::string_view name;
    std::string_view meta;
};

constexpr ValueOption kValueOptions[] = {
    {"--frames", "N"},       {"--input", "FILE"}, {"--screenshot", "N:FILE"},
    {"--state", "N:FILE"},   {"--trace", "FILE"}, {"--settings", "FILE"},
    {"--start", "B:*LABEL"}, {"--load", "SLOT"},  {"--text-feed", "FILE"},
};

bool parseFrameOutput(std::string_view option, std::string_view value, FrameOutput* output,
                      std::string* error) {
    const std::size_t colon = value.find(':');
    if (colon == std::string_view::npos || colon + 1 == value.size()) {
        *error = std::string(option) + ": expected N:FILE, got " + inQuotes(value);
        return false;
    }
    std::string why;
    if (!parseFrame(value.substr(0, colon), &output->frame, &why)) {
        *error = std::string(option) + ": " + why;
        return false;
    }
    output->path = absolutePath(value.substr(colon + 1));
    return true;
}

// B:*LABEL, B a block number (0 or 1).
bool parseStart(std::string_view value, ProgramOptions* o, std::string* error) {
    const std::size_t colon = value.find(':');
    const std::string_view block = value.substr(0, colon);
    if (colon == std::string_view::npos || (block != "0" && block != "1") ||
        value.substr(colon + 1).size() < 2 || value[colon + 1] != '*') {
        *error = "--start: expected B:*LABEL with B 0 or 1, got " + inQuotes(value);
        return false;
    }
    o->startBlock = block == "0" ? 0 : 1;
    o->startLabel = std::string(value.substr(colon + 2));
    return true;
}

bool checkBeforeLastFrame(std::string_view option, const std::vector<FrameOutput>& outputs,
                          std::uint64_t frames, std::string* error) {
    for (const FrameOutput& output : outputs) {
        if (frames != 0 && output.frame > frames) {
            *error = std::string(option) + ": frame " + std::to_string(output.frame) +
                     " comes after the last frame (--frames " + std::to_string(frames) + ")";
            return false;
        }
    }
    return true;
}

} // namespace

bool parseOptions(int argc, char** argv, ProgramOptions* out, std::string* error) {
    ProgramOptions o;
    bool gameDirGiven = false;
    bool positionalOnly = false;
    std::string inputName; // as typed, for the messages about the file
    auto fail = [error](std::string message) {
        *error = std::move(message);
        return false;
    };

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
        if (positionalOnly || arg.empty() || arg.front() != '-') {
            if (gameDirGiven)
                return fail("unexpected argument " + inQuotes(arg) + ": GAME_DIR is already " +
                            inQuotes(o.gameDir));
            o.gameDir = arg;
            gameDirGiven = true;
            continue;
        }
        if (arg == "--") {
            positionalOnly = true;
            continue;
        }
        std::string_view name = arg;
        std::string_view value;
        bool hasValue = false;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }

        if (name == "--help" || name == "-h" || name == "--headless" || name == "--debug-log" ||
            name == "--full-redraw" || name == "--fullscreen" || name == "--window" ||
            name == "--plain" || name == "--source" || name == "--resume") {
            if (hasValue) return fail(std::string(name) + " takes no value");
            if (name == "--resume") {
                o.resume = true;
                continue;
            }
            if (name == "--source") {
                o.source = true;
                continue;
            }
            if (name == "--fullscreen" || name == "--window") {
                o.fullscreen = name == "--fullscreen" ? 1 : 0;
                continue;
            }
            if (name == "--plain") {
                o.plain = true;
                continue;
            }
            if (name == "--full-redraw") {
                o.fullRedraw = true;
                continue;
            }
            if (name == "--headless") {
                o.headless = true;
                continue;
            }
            if (name == "--debug-log") {
                o.debugLog = true;
                continue;
            }
            *out = ProgramOptions{};
            out->help = true;
            return true;
        }
        const auto* option = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                          [&](const ValueOption& v) { return v.name == name; });
        if (option == std::end(kValueOptions))
            return fail("unknown option " + inQuotes(arg) + " (see --help)");
        // "--input --headless" forgot the file; it did not name a file "--headless".
        if (!hasValue && i + 1 < argc && argv[i + 1] != nullptr &&
            !std::string_view(argv[i + 1]).starts_with("--")) {
            value = argv[++i];
            hasValue = true;
        }
        if (value.empty())
            return fail(std::string(name) + " needs a value (" + std::string(option->meta) + ")");

        std::string why;
        if (name == "--frames") {
            if (o.frames != 0) return fail("--frames is given twice");
            if (!parseFrame(value, &o.frames, &why)) return fail("--frames: " + why);
        } else if (name == "--input") {
            if (!o.inputFile.empty()) return fail("--input is given twice");
            inputName = value;
            o.inputFile = absolutePath(value);
        } else if (name == "--settings") {
            if (!o.settingsPath.empty()) return fail("--settings is given twice");
            o.settingsPath = absolutePath(value);
        } else if (name == "--start") {
            if (o.startBlock >= 0) return fail("--start is given twice");
            if (!parseStart(value, &o, error)) return false;
        } else if (name == "--load") {
            if (o.loadSlot) return fail("--load is given twice");
            o.loadSlot = parseSlotName(value);
            if (!o.loadSlot)
                return fail("--load: expected a slot 1 to 60, quick or quit, got " +
                            inQuotes(value));
        } else if (name == "--trace") {
            if (!o.tracePath.empty()) return fail("--trace is given twice");
            o.tracePath = absolutePath(value);
        } else if (name == "--text-feed") {
            if (!o.textFeedPath.empty()) return fail("--text-feed is given twice");
            o.textFeedPath = absolutePath(value);
        } else {
            FrameOutput output;
            if (!parseFrameOutput(name, value, &output, error)) return false;
            (name == "--screenshot" ? o.screenshots : o.states).push_back(std::move(output));
        }
    }

    if (o.resume && o.loadSlot) return fail("--resume and --load name two starts; give one");
    if ((o.resume || o.loadSlot) && o.startBlock >= 0)
        return fail(std::string(o.resume ? "--resume" : "--load") +
                    " and --start name two starts; give one");
    // The game alone has no saves to start from.
    if ((o.resume || o.loadSlot) && o.plain)
        return fail(std::string(o.resume ? "--resume" : "--load") +
                    " needs the saves --plain turns off");
    if (!o.textFeedPath.empty() && o.plain)
        return fail("--text-feed needs the comforts --plain turns off");
    if (o.resume) o.loadSlot = kQuitSlot;
    if (!checkBeforeLastFrame("--screenshot", o.screenshots, o.frames, error) ||
        !checkBeforeLastFrame("--state", o.states, o.frames, error))
        return false;
    if (gameDirGiven) {
        std::error_code ec;
        if (!std::filesystem::is_directory(o.gameDir, ec))
            return fail("GAME_DIR " + inQuotes(o.gameDir) + " is not a folder");
    }
    if (!o.inputFile.empty() && !readReplayFile(o.inputFile, inputName, &o.replay, error))
        return false;
    *out = std::move(o);
    return true;
}
