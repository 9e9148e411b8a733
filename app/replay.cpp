#include "app/replay.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/arguments.h"
#include "input/input.h"

namespace {

// Far beyond any hand-written or recorded replay; a larger file is a mistake, not input.
constexpr std::size_t kMaxInputFileSize = std::size_t{64} << 20;
constexpr std::string_view kKeyNameHint = "an SDL key name such as F1, Escape, Return or A";
constexpr std::string_view kPadButtonHint =
    "SDL's names: a, b, x, y, back, start, guide, leftstick, rightstick, leftshoulder, "
    "rightshoulder, dpup, dpdown, dpleft, dpright";
constexpr std::string_view kPadAxisHint =
    "SDL's names: leftx, lefty, rightx, righty, lefttrigger, righttrigger";

// SDL also reads "+leftx" and the like as names; a replay spells them plainly.
bool plainName(std::string_view name) {
    return !name.empty() &&
           ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'));
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

    ReplayEvent e{0, 0, 0, 0, ReplayKind::Move, 0, false};
    std::uint64_t frame = 0;
    if (!parseFrame(words[0], &frame, why)) return false;
    e.frame = static_cast<std::uint32_t>(frame);
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
        e.button = static_cast<std::int8_t>(found - std::begin(kButtons));
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
    } else if (name == "tap") {
        if (!args.empty()) {
            *why = argumentCount(name, "no arguments", args.size());
            return false;
        }
        e.kind = ReplayKind::Tap;
        events->push_back(e);
    } else if (name == "wheel") {
        if (args.size() != 1) {
            *why = argumentCount(name, "1 argument (notches, negative towards the player)",
                                 args.size());
            return false;
        }
        if (!parseOffset("N", args[0], &e.dy, why)) return false;
        e.kind = ReplayKind::Wheel;
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
    } else if (name == "pad") {
        if (args.size() != 2) {
            *why = argumentCount(name, "2 arguments (BUTTON down|up)", args.size());
            return false;
        }
        e.keyCode = plainName(args[0]) ? padButtonFromName(args[0]) : -1;
        if (e.keyCode < 0) {
            *why = "unknown pad button " + inQuotes(args[0]) + " (" + std::string(kPadButtonHint) +
                   ")";
            return false;
        }
        if (args[1] != "down" && args[1] != "up") {
            *why =
                "pad button " + inQuotes(args[0]) + " takes down or up, not " + inQuotes(args[1]);
            return false;
        }
        e.kind = args[1] == "down" ? ReplayKind::PadDown : ReplayKind::PadUp;
        events->push_back(e);
    } else if (name == "axis") {
        if (args.size() != 2) {
            *why = argumentCount(name, "2 arguments (AXIS VALUE)", args.size());
            return false;
        }
        e.keyCode = plainName(args[0]) ? padAxisFromName(args[0]) : -1;
        if (e.keyCode < 0) {
            *why = "unknown pad axis " + inQuotes(args[0]) + " (" + std::string(kPadAxisHint) + ")";
            return false;
        }
        std::int64_t v = 0;
        switch (parseDecimal(args[1], true, &v)) {
        case NumberResult::Ok:
            if (v >= -32768 && v <= 32767) break;
            [[fallthrough]];
        case NumberResult::OutOfRange:
            *why = "VALUE " + excerpt(args[1]) + " is out of range (-32768 to 32767)";
            return false;
        case NumberResult::NotANumber:
            *why = "VALUE " + inQuotes(args[1]) + " is not a whole number";
            return false;
        }
        e.dx = static_cast<int>(v);
        e.kind = ReplayKind::PadAxis;
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

} // namespace

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
        if (events.size() > kMaxReplayEvents) {
            *error = excerpt(fileName) + ":" + std::to_string(lineNo) + ": more than " +
                     std::to_string(kMaxReplayEvents) + " events; a replay holds at most that many";
            return false;
        }
        pos = end + 1;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const ReplayEvent& a, const ReplayEvent& b) { return a.frame < b.frame; });
    *out = std::move(events);
    return true;
}

bool readReplayFile(const std::string& path, std::string_view fileName,
                    std::vector<ReplayEvent>* out, std::string* error) {
    std::string text;
    std::string why;
    if (!readInputFile(path, &text, &why)) {
        *error = "--input: cannot read " + inQuotes(fileName) + ": " + why;
        return false;
    }
    return parseReplayText(text, fileName, out, error);
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
        case ReplayKind::Tap:
            injectMouseTap(e.button);
            break;
        case ReplayKind::Wheel:
            injectMouseWheel(e.dy);
            break;
        case ReplayKind::KeyDown:
        case ReplayKind::KeyUp:
            injectKey(e.keyCode, e.kind == ReplayKind::KeyDown);
            escape = escape || (e.kind == ReplayKind::KeyDown && e.escape);
            break;
        case ReplayKind::PadDown:
        case ReplayKind::PadUp:
            // Each change delivered at once: a press and release in one frame shows once.
            injectPadButton(e.keyCode, e.kind == ReplayKind::PadDown);
            deliverInjectedPad();
            break;
        case ReplayKind::PadAxis:
            injectPadAxis(e.keyCode, e.dx);
            deliverInjectedPad();
            break;
        }
    }
    return escape;
}
