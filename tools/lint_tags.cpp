#include "tools/lint_tags.h"

#include <algorithm>
#include <array>
#include <map>

#include "base/files.h"
#include "script/scenario_text.h"
#include "script/script.h"
#include "script/tag_reading.h"
#include "sound/sound.h"

namespace {

constexpr std::array<std::string_view, 11> kTagNames = {
    "l", "ct", "image", "playse", "playbgm", "stopbgm", "jump", "link", "endlink", "s", "reset"};

constexpr std::int64_t kTooLarge = kTagNumberTooLarge;

bool isDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::int64_t numberOf(std::string_view digits) {
    std::int64_t v = 0;
    for (char c : digits)
        v = std::min(kTooLarge, v * 10 + (c - '0'));
    return v;
}

// Quoted script text stops at the first line end: a tag without ']' on its line runs on into
// the lines behind it, which would otherwise all be quoted.
std::string text(std::string_view sjis) {
    bool cut = false;
    const std::string_view quoted = quotedTagPart(sjis, &cut);
    return sjisToUtf8(quoted) + (cut ? "..." : "");
}

std::vector<std::string_view> splitSpaces(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t from = 0;
    while (true) {
        std::size_t sp = s.find(' ', from);
        out.push_back(s.substr(from, sp == std::string_view::npos ? sp : sp - from));
        if (sp == std::string_view::npos) return out;
        from = sp + 1;
    }
}

bool loadedBackground(std::int64_t n) {
    return n >= 0 && n <= 7 && n != 4;
}
std::vector<int> g_numberedSlots;

bool loadedSlot(std::int64_t n) {
    return n == 0 || n == 1 || n == 50 || n == 51 || n == 52 ||
           std::find(g_numberedSlots.begin(), g_numberedSlots.end(), n) != g_numberedSlots.end();
}

struct Checker {
    ParsedTag& t;
    void error(const std::string& m) {
        t.problems.push_back({true, "[" + text(t.name) + "]: " + m});
    }
    void warning(const std::string& m) { t.problems.push_back({false, m}); }

    // "key=digits" at fields[i]; false after its error.
    bool keyNumber(const std::vector<std::string_view>& f, std::size_t i, std::string_view key,
                   std::string_view after, std::int64_t* value) {
        std::string want = std::string(key) + "=";
        if (i >= f.size() || !f[i].starts_with(want)) {
            error("expected " + want + " after " + std::string(after) +
                  (i < f.size() ? ", found '" + text(f[i]) + "'" : ""));
            return false;
        }
        std::string_view v = f[i].substr(want.size());
        if (!isDigits(v)) {
            error("the " + std::string(key) + " value '" + text(v) + "' is not a number" +
                  (v.starts_with("-") ? " (no negative numbers)" : ""));
            return false;
        }
        *value = numberOf(v);
        return true;
    }

    // "target=*NAME" from `rest` on: the byte after '=' is skipped unread.
    bool target(std::string_view rest, std::string_view after) {
        std::size_t eq = rest.find('=');
        if (eq == std::string_view::npos || rest.substr(0, eq) != "target") {
            error("expected target=*NAME after " + std::string(after) + ", found '" + text(rest) +
                  "'");
            return false;
        }
        std::string_view value = rest.substr(eq + 1);
        if (value.size() < 2) {
            error("no label name after target=");
            return false;
        }
        if (value[0] != '*') {
            error("the byte after target= is skipped, so this looks for *" + text(value.substr(1)) +
                  "; write target=*" + text(value));
            return false;
        }
        if (value.size() - 1 > static_cast<std::size_t>(kMaxLabelName)) {
            error("a label name holds at most 255 bytes");
            return false;
        }
        t.target = std::string(value.substr(1));
        return true;
    }

    void image(std::string_view body) {
        std::vector<std::string_view> f = splitSpaces(body);
        std::size_t checked = f.size() >= 3 && f[2] == "layer=base" ? 3 : f.size();
        for (std::size_t i = 0; i < checked; ++i)
            if (f[i].empty()) return error("a doubled space; fields are separated by one space");
        if (f.size() < 3)
            return error(
                "expected [image N layer=L left=X top=Y] or [image N layer=base left=0 top=0]");
        if (!isDigits(f[1]))
            return error("the picture number '" + text(f[1]) + "' is not a number");
        std::int64_t n = numberOf(f[1]);
        if (f[2] == "layer=base") {
            if (n >= kBackgroundCount)
                return error("background " + std::to_string(n) + " does not exist (0 to 9)");
            t.valid = t.background = true;
            t.picture = n;
            if (f.size() == 3)
                warning("write a space and the rest after base, as in [image " + std::to_string(n) +
                        " layer=base left=0 top=0]");
            return;
        }
        std::int64_t layer, x, y;
        if (!keyNumber(f, 2, "layer", "the picture number", &layer)) return;
        if (!keyNumber(f, 3, "left", "layer=", &x) || !keyNumber(f, 4, "top", "left=", &y)) return;
        if (f.size() > 5) return error("unexpected '" + text(f[5]) + "' after top=");
        if (layer >= kLayerCount)
            return error("layer " + std::to_string(layer) + " does not exist (0 to 9)");
        if (n >= kCharPictureCount)
            return error("picture " + std::to_string(n) + " does not exist (0 to 12)");
        if (x > kMaxPosition || y > kMaxPosition)
            return error("position out of range (at most " + std::to_string(kMaxPosition) + ")");
        t.valid = true;
        t.picture = n;
        t.layer = layer;
    }

    void slotTag(std::string_view body) {
        std::vector<std::string_view> f = splitSpaces(body);
        if (f.size() != 2 || f[1].empty())
            return error(f.size() > 2 && f[1].empty() ? "a doubled space; write [" + t.name + " N]"
                                                      : "expected [" + t.name + " N]");
        if (!isDigits(f[1])) return error("the slot '" + text(f[1]) + "' is not a number");
        std::int64_t n = numberOf(f[1]);
        if (n >= kSoundSlotCount)
            return error("sound slot " + std::to_string(n) + " does not exist (0 to " +
                         std::to_string(kSoundSlotCount - 1) + ")");
        t.valid = true;
        t.slot = n;
    }

    void jump(std::string_view body) {
        std::string_view rest = body.substr(4); // behind "jump"
        if (rest.empty() || rest.substr(1).starts_with(" "))
            return error(rest.empty() ? "expected [jump B target=*NAME]"
                                      : "a doubled space; write [jump B target=*NAME]");
        rest.remove_prefix(1);
        std::size_t sp = rest.find(' ');
        std::string_view number = rest.substr(0, sp);
        if (!isDigits(number))
            return error("the block number '" + text(number) + "' is not a number");
        if (sp == std::string_view::npos)
            return error("expected target=*NAME after the block number");
        if (rest.substr(sp + 1).starts_with(" "))
            return error("a doubled space; write [jump B target=*NAME]");
        if (!target(rest.substr(sp + 1), "the block number")) return;
        t.block = numberOf(number);
        if (t.block >= kBlockCount)
            return error("block " + std::to_string(t.block) + " does not exist (0 or 1)");
        t.valid = true;
    }

    void link(std::string_view body) {
        std::string_view rest = body.substr(4);
        if (rest.empty()) return error("expected [link target=*NAME]");
        if (rest.substr(1).starts_with(" "))
            return error("a doubled space; write [link target=*NAME]");
        if (target(rest.substr(1), "link")) t.valid = true;
    }
};

// What the engine makes of a tag the form checks found sloppy: when it still plays it, each
// complaint becomes a warning that says how it is read, and the numbers are the engine's.
std::string readingOf(const ParsedTag&, const ImageTag& r) {
    if (r.background) return "[image " + std::to_string(r.picture) + " layer=base]";
    return "[image " + std::to_string(r.picture) + " layer=" + std::to_string(r.layer) +
           " left=" + std::to_string(r.x) + " top=" + std::to_string(r.y) + "]";
}
std::string readingOf(const ParsedTag& t, const SlotTag& r) {
    return "[" + t.name + " " + std::to_string(r.slot) + "]";
}
std::string readingOf(const ParsedTag& t, const TargetTag& r) {
    return "[" + t.name + (t.name == "jump" ? " " + std::to_string(r.block) : std::string()) +
           " target=*" + text(r.name) + "]";
}
void take(ParsedTag& t, const ImageTag& r) {
    t.background = r.background;
    t.picture = r.picture;
    t.layer = r.background ? -1 : r.layer;
}
void take(ParsedTag& t, const SlotTag& r) {
    t.slot = r.slot;
}
void take(ParsedTag& t, const TargetTag& r) {
    t.block = t.name == "jump" ? r.block : -1;
    t.target = std::string(r.name);
}

template <typename Reading> void readAsEngine(ParsedTag& t, const Reading& r) {
    if (!r.ok) {
        t.valid = false;
        bool anyError = false;
        for (const auto& p : t.problems)
            anyError |= p.first;
        if (!anyError)
            t.problems.push_back(
                {true, "[" + text(t.name) + "]: " + r.why + "; the engine ignores it"});
        return;
    }
    if (!t.valid) {
        const std::string reading = "; the engine reads it as " + readingOf(t, r);
        for (auto& [isError, message] : t.problems)
            if (isError) {
                isError = false;
                message += reading;
            }
    }
    t.valid = true;
    take(t, r);
}

void valueWarnings(Checker& c) {
    const ParsedTag& t = c.t;
    if (t.name == "image" && t.background && !loadedBackground(t.picture))
        c.warning("background " + std::to_string(t.picture) +
                  " has no picture file; the screen shows a blank background");
    if (t.name == "image" && !t.background) {
        if (t.picture > 1)
            c.warning("picture " + std::to_string(t.picture) +
                      " has no file; the layer shows nothing");
        if (t.layer > 1)
            c.warning("layer " + std::to_string(t.layer) +
                      " is never given a size by the game; its picture covers no pixels");
    }
    if ((t.name == "playse" || t.name == "playbgm") && !loadedSlot(t.slot))
        c.warning("sound slot " + std::to_string(t.slot) +
                  " is never loaded (only 0, 1, 50, 51, 52 and the slots of the game folder's "
                  "Sound/NAME53.wav to NAME99.wav are); nothing plays");
}

} // namespace

void setNumberedSlotsFilled(std::vector<int> slots) {
    g_numberedSlots = std::move(slots);
}

ParsedTag parseTag(std::string_view tag) {
    ParsedTag t;
    if (tag.size() >= 2 && tag[1] != ']') {
        std::size_t end = 2;
        while (end < tag.size() && tag[end] != ' ' && tag[end] != ']')
            ++end;
        t.name = std::string(tag.substr(1, end - 1));
    }
    for (std::string_view k : kTagNames)
        t.known |= t.name == k;
    if (!t.known) {
        t.problems.push_back({true, t.name.empty()
                                        ? "an empty tag [] is shown as text"
                                        : "unknown tag [" + text(t.name) + "] is shown as text"});
        return t;
    }
    std::string_view body = tag.substr(1, tag.size() - 2);
    Checker c{t};
    if (t.name == "image") {
        c.image(body);
        readAsEngine(t, readImageTag(tag));
    } else if (t.name == "playse" || t.name == "playbgm") {
        c.slotTag(body);
        readAsEngine(t, readSlotTag(tag));
    } else if (t.name == "jump") {
        c.jump(body);
        readAsEngine(t, readJumpTag(tag));
    } else if (t.name == "link") {
        c.link(body);
        readAsEngine(t, readLinkTag(tag));
    } else {
        t.valid = true;
        if (body.size() > t.name.size())
            c.warning("[" + text(body) + "] acts as [" + t.name + "]; the rest is ignored");
    }
    if (t.valid) valueWarnings(c);
    return t;
}

std::vector<LabelLine> findLabelLines(std::string_view plain) {
    std::vector<LabelLine> out;
    for (std::size_t start = 0; start < plain.size();) {
        std::size_t lf = plain.find('\n', start);
        std::size_t end = lf == std::string_view::npos ? plain.size() : lf;
        if (plain[start] == '*') {
            LabelLine l;
            l.offset = start;
            l.after = lf == std::string_view::npos ? plain.size() : lf + 1;
            std::size_t bar = plain.find('|', start);
            l.checkpoint = bar != std::string_view::npos && bar < end;
            // The engine drops the byte before the LF (the CR) from a name without the mark.
            std::size_t nameEnd =
                l.checkpoint ? bar
                             : (lf == std::string_view::npos ? end : std::max(start + 1, end - 1));
            l.name = std::string(plain.substr(start + 1, nameEnd - start - 1));
            out.push_back(l);
        }
        start = end + 1;
    }
    return out;
}

std::vector<BlockFinding> scanBlockText(std::string_view plain) {
    std::vector<BlockFinding> out;
    const auto* p = reinterpret_cast<const std::uint8_t*>(plain.data());
    const std::size_t n = plain.size();
    std::size_t bareLf = 0, firstBareLf = 0;
    bool lineStart = true;
    for (std::size_t i = 0; i < n;) {
        const std::uint8_t c = p[i];
        if (c == '\n') {
            if ((i == 0 || p[i - 1] != '\r') && bareLf++ == 0) firstBareLf = i;
            lineStart = true;
            ++i;
            continue;
        }
        if (lineStart && c == '*') { // a label line: only ever searched, never read as tags
            std::size_t lf = plain.find('\n', i);
            i = lf == std::string_view::npos ? n : lf;
            continue;
        }
        lineStart = false;
        if (c >= 0xA1 && c <= 0xDF) {
            out.push_back({i, true,
                           "half-width katakana \xE3\x80\x8C" + text(plain.substr(i, 1)) +
                               "\xE3\x80\x8D: the engine reads the byte as the first of a "
                               "double-byte character and garbles the text"});
            ++i;
        } else if (c >= 0x80) {
            i += 2;
        } else if (c == '[') {
            std::size_t close = plain.find(']', i + 1);
            if (close == std::string_view::npos) {
                out.push_back({i, true,
                               "a tag without ']': the page builder copies the rest of "
                               "the block into it"});
                break;
            }
            std::size_t lf = plain.find('\n', i);
            if (lf < close)
                out.push_back({i, true,
                               "a tag without ']' on its line: the engine reads it on "
                               "into the next line"});
            for (std::size_t k = i + 1; k < close; ++k) { // a ']' inside a character ends it early
                if (p[k] >= 0x80 && !(p[k] >= 0xA1 && p[k] <= 0xDF)) {
                    if (k + 1 == close) {
                        out.push_back({k, true,
                                       "\xE3\x80\x8C" + text(plain.substr(k, 2)) +
                                           "\xE3\x80\x8D has the byte 0x5D (']') in its "
                                           "Shift-JIS form, which ends the tag there"});
                        break;
                    }
                    ++k;
                }
            }
            i = close + 1;
        } else if (c == ';') {
            std::size_t lf = plain.find('\n', i);
            if (lf == std::string_view::npos) {
                out.push_back({i, true,
                               "a comment without a line end: the engine reads on past "
                               "the end of the text"});
                break;
            }
            i = lf;
        } else {
            ++i;
        }
    }
    if (bareLf)
        out.push_back(
            {firstBareLf, true,
             "a line end without CR: the engine overwrites the byte before the LF" +
                 (bareLf > 1 ? " (" + std::to_string(bareLf) + " such line ends in this file)"
                             : std::string())});

    std::map<std::string, std::size_t> seen;
    for (const LabelLine& l : findLabelLines(plain)) {
        if (l.checkpoint && l.name.find(' ') != std::string::npos)
            out.push_back({l.offset, true,
                           "the checkpoint label *" + text(l.name) +
                               " holds a space: a continue reads its name only up "
                               "to the space"});
        if (l.name.size() > static_cast<std::size_t>(kMaxLabelName))
            out.push_back({l.offset, true, "a label name holds at most 255 bytes"});
        auto [it, fresh] = seen.insert({l.name, l.offset});
        if (!fresh)
            out.push_back({l.offset, false,
                           "the label *" + text(l.name) +
                               " is defined again; jumps land on the first one, at line " +
                               std::to_string(placeOfSjisOffset(plain, it->second).line)});
    }
    return out;
}
