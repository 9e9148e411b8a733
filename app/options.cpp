#include "app/options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "input/input.h"

namespace {

constexpr std::int64_t kMaxFrame = INT_MAX;
// Far beyond any hand-written or recorded replay; a larger file is a mistake, not input.
constexpr std::size_t kMaxInputFileSize = std::size_t{64} << 20;
constexpr std::string_view kKeyNameHint = "an SDL key name such as F1, Escape, Return or A";

constexpr std::string_view kUsage =
    R"(Usage: tolvane [options] [GAME_DIR]

Plays the game in GAME_DIR (default: the current folder).

Options:
  --headless           no window and no sound device; frames run as fast as they can
                       and messages go to standard error
  --frames N           shut down normally after frame N (frames count from 1)
  --input FILE         replay input from FILE
  --screenshot N:FILE  write the picture of frame N to the PNG file FILE (repeatable)
  --state N:FILE       write the game state after frame N as JSON to FILE (repeatable)
  --trace FILE         write one JSON line to FILE for each thing the game does
  --debug-log          show the debug log (the frame-rate line once a second) on
                       standard error
  --help               show this text

Input file: one event a line, "FRAME EVENT ARGS"; '#' starts a comment.
  FRAME move DX DY     add DX, DY to that frame's mouse movement
  FRAME down B         press button B (left, right or middle) from that frame on
  FRAME up B           release button B
  FRAME click          down left at FRAME, up left at FRAME + 1
  FRAME keydown NAME   press the key NAME (an SDL key name: F1, Escape, Return, A, ...)
  FRAME keyup NAME     release it
Without --headless the replayed input is added to the keyboard's and the mouse's.
)";

// The user's text made fit for a one-line message: control bytes shown as \xNN, and long text
// cut (at a character boundary) so that a stray binary file cannot flood the terminal.
std::string excerpt(std::string_view text) {
    std::string shown;
    std::size_t count = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (count >= 60 && (c & 0xC0) != 0x80) {
            shown += "...";
            break;
        }
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        } else {
            shown += ch;
        }
        ++count;
    }
    return shown;
}

std::string inQuotes(std::string_view text) {
    return "'" + excerpt(text) + "'";
}

enum class NumberResult { Ok, NotANumber, OutOfRange };

// Plain decimal digits, with one leading '-' where allowed; no '+', spaces, hex or exponents.
NumberResult parseDecimal(std::string_view text, bool allowMinus, std::int64_t* value) {
    bool negative = false;
    if (allowMinus && !text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty()) return NumberResult::NotANumber;
    std::int64_t v = 0;
    bool tooLarge = false;
    for (const char c : text) {
        if (c < '0' || c > '9') return NumberResult::NotANumber;
        if (!tooLarge) v = v * 10 + (c - '0');
        if (v > std::int64_t{INT_MAX} + 1) tooLarge = true;
    }
    if (negative) v = -v;
    if (tooLarge || v < INT_MIN || v > INT_MAX) return NumberResult::OutOfRange;
    *value = v;
    return NumberResult::Ok;
}

bool parseFrame(std::string_view text, std::uint64_t* frame, std::string* why) {
    std::int64_t v = 0;
    const NumberResult r = parseDecimal(text, true, &v);
    if (r == NumberResult::NotANumber) {
        *why = inQuotes(text) + " is not a frame number";
    } else if (text.front() == '-' || (r == NumberResult::Ok && v == 0)) {
        *why = "frame " + excerpt(text) + ": frames count from 1";
    } else if (r == NumberResult::OutOfRange || v > kMaxFrame) {
        *why = "frame " + excerpt(text) + " is out of range (at most " + std::to_string(kMaxFrame) +
               ")";
    } else {
        *frame = static_cast<std::uint64_t>(v);
        return true;
    }
    return false;
}

bool parseOffset(std::string_view label, std::string_view text, int* value, std::string* why) {
    std::int64_t v = 0;
    switch (parseDecimal(text, true, &v)) {
    case NumberResult::Ok:
        *value = static_cast<int>(v);
        return true;
    case NumberResult::NotANumber:
        *why = std::string(label) + " " + inQuotes(text) + " is not a whole number";
        return false;
    case NumberResult::OutOfRange:
        *why = std::string(label) + " " + excerpt(text) + " is out of range (" +
               std::to_string(INT_MIN) + " to " + std::to_string(INT_MAX) + ")";
        return false;
    }
    return false;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSpace(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !isSpace(line[i]))
            ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string argumentCount(std::string_view event, std::string_view wants, std::size_t got) {
    return "'" + std::string(event) + "' takes " + std::string(wants) + ", got " +
           std::to_string(got);
}

// One line of a replay file; blank and comment-only lines add nothing.
bool parseReplayLine(std::string_view line, std::vector<ReplayEvent>* events, std::string* why) {
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    const std::vector<std::string_view> words = splitWords(line);
    if (words.empty()) return true;

    ReplayEvent e{0, ReplayKind::Move, 0, 0, 0, 0, false};
    if (!parseFrame(words[0], &e.frame, why)) return false;
    if (words.size() < 2) {
        *why = "missing event after frame " + excerpt(words[0]);
        return false;
    }
    const std::string_view name = words[1];
    const std::span<const std::string_view> args = std::span(words).subspan(2);

    if (name == "move") {
        if (args.size() != 2) {
            *why = argumentCount(name, "2 arguments (DX DY)", args.size());
            return false;
        }
        if (!parseOffset("DX", args[0], &e.dx, why) || !parseOffset("DY", args[1], &e.dy, why))
            return false;
        events->push_back(e);
    } else if (name == "down" || name == "up") {
        if (args.size() != 1) {
            *why = argumentCount(name, "1 argument (left, right or middle)", args.size());
            return false;
        }
        constexpr std::string_view kButtons[] = {"left", "right", "middle"};
        const auto* found = std::find(std::begin(kButtons), std::end(kButtons), args[0]);
        if (found == std::end(kButtons)) {
            *why = "unknown button " + inQuotes(args[0]) + " (left, right or middle)";
            return false;
        }
        e.kind = name == "down" ? ReplayKind::ButtonDown : ReplayKind::ButtonUp;
        e.button = static_cast<int>(found - std::begin(kButtons));
        events->push_back(e);
    } else if (name == "click") {
        if (!args.empty()) {
            *why = argumentCount(name, "no arguments", args.size());
            return false;
        }
        e.kind = ReplayKind::ButtonDown;
        events->push_back(e);
        e.kind = ReplayKind::ButtonUp;
        e.frame += 1;
        events->push_back(e);
    } else if (name == "keydown" || name == "keyup") {
        if (args.empty()) {
            *why =
                "'" + std::string(name) + "' takes a key name (" + std::string(kKeyNameHint) + ")";
            return false;
        }
        // SDL names some keys with spaces ("Left Shift"), so the name is the rest of the line.
        std::string key(args[0]);
        for (std::size_t i = 1; i < args.size(); ++i)
            key += " " + std::string(args[i]);
        e.keyCode = keyCodeFromName(key);
        if (e.keyCode < 0) {
            *why = "unknown key " + inQuotes(key) + " (" + std::string(kKeyNameHint) + ")";
            return false;
        }
        e.kind = name == "keydown" ? ReplayKind::KeyDown : ReplayKind::KeyUp;
        e.escape = e.keyCode == kKeyEscape;
        events->push_back(e);
    } else {
        *why = "unknown event " + inQuotes(name);
        return false;
    }
    return true;
}

bool readInputFile(const std::string& path, std::string* text, std::string* why) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *why = "it is a folder";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *why = std::strerror(errno);
        return false;
    }
    text->clear();
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
        text->append(buffer, n);
        if (text->size() > kMaxInputFileSize) {
            *why = "it is larger than 64 MiB";
            ok = false;
            break;
        }
        if (n < sizeof buffer) {
            if (std::ferror(file)) {
                *why = std::strerror(errno);
                ok = false;
            }
            break;
        }
    }
    std::fclose(file);
    return ok;
}

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

bool parseReplayText(std::string_view text, std::string_view fileName,
                     std::vector<ReplayEvent>* out, std::string* error) {
    // Editors on Windows like to start a text file with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<ReplayEvent> events;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        ++lineNo;
        std::string why;
        if (!parseReplayLine(text.substr(pos, end - pos), &events, &why)) {
            *error = excerpt(fileName) + ":" + std::to_string(lineNo) + ": " + why;
            return false;
        }
        pos = end + 1;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const ReplayEvent& a, const ReplayEvent& b) { return a.frame < b.frame; });
    *out = std::move(events);
    return true;
}

namespace {

struct ValueOption {
    std::string_view name;
    std::string_view meta;
};

constexpr ValueOption kValueOptions[] = {
    {"--frames", "N"},     {"--input", "FILE"}, {"--screenshot", "N:FILE"},
    {"--state", "N:FILE"}, {"--trace", "FILE"},
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

        if (name == "--help" || name == "-h" || name == "--headless" || name == "--debug-log") {
            if (hasValue) return fail(std::string(name) + " takes no value");
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
        } else if (name == "--trace") {
            if (!o.tracePath.empty()) return fail("--trace is given twice");
            o.tracePath = absolutePath(value);
        } else {
            FrameOutput output;
            if (!parseFrameOutput(name, value, &output, error)) return false;
            (name == "--screenshot" ? o.screenshots : o.states).push_back(std::move(output));
        }
    }

    if (!checkBeforeLastFrame("--screenshot", o.screenshots, o.frames, error) ||
        !checkBeforeLastFrame("--state", o.states, o.frames, error))
        return false;
    if (gameDirGiven) {
        std::error_code ec;
        if (!std::filesystem::is_directory(o.gameDir, ec))
            return fail("GAME_DIR " + inQuotes(o.gameDir) + " is not a folder");
    }
    if (!o.inputFile.empty()) {
        std::string text;
        std::string why;
        if (!readInputFile(o.inputFile, &text, &why))
            return fail("--input: cannot read " + inQuotes(inputName) + ": " + why);
        if (!parseReplayText(text, inputName, &o.replay, error)) return false;
    }
    *out = std::move(o);
    return true;
}

std::span<const ReplayEvent> replayEventsForFrame(std::span<const ReplayEvent> events,
                                                  std::uint64_t frame, ReplayCursor* cursor) {
    const std::size_t begin = std::min(cursor->next, events.size());
    std::size_t end = begin;
    while (end < events.size() && events[end].frame <= frame)
        ++end;
    cursor->next = end;
    return events.subspan(begin, end - begin);
}

bool injectReplayEvents(std::span<const ReplayEvent> events) {
    bool escape = false;
    for (const ReplayEvent& e : events) {
        switch (e.kind) {
        case ReplayKind::Move:
            injectMouseMove(e.dx, e.dy);
            break;
        case ReplayKind::ButtonDown:
        case ReplayKind::ButtonUp:
            injectMouseButton(e.button, e.kind == ReplayKind::ButtonDown);
            break;
        case ReplayKind::KeyDown:
        case ReplayKind::KeyUp:
            injectKey(e.keyCode, e.kind == ReplayKind::KeyDown);
            escape = escape || (e.kind == ReplayKind::KeyDown && e.escape);
            break;
        }
    }
    return escape;
}
