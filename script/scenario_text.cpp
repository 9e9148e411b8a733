#include "script/scenario_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "base/files.h"
#include "script/script.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool isSjisLead(std::uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool isSjisTrail(std::uint8_t b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Length of the well-formed UTF-8 character at s[i], or 0 when the bytes there are not one.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto c = static_cast<std::uint8_t>(s[i]);
    std::size_t n = c < 0x80             ? 1
                    : (c & 0xE0) == 0xC0 ? 2
                    : (c & 0xF0) == 0xE0 ? 3
                    : (c & 0xF8) == 0xF0 ? 4
                                         : 0;
    if (n == 0 || i + n > s.size()) return 0;
    return isValidUtf8(s.substr(i, n)) ? n : 0;
}

std::uint32_t codePoint(std::string_view ch) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(ch.data());
    switch (ch.size()) {
    case 1:
        return p[0];
    case 2:
        return (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    case 3:
        return (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    default:
        return (p[0] & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
    }
}

// "「ミ」 (U+30DF)", or just the code for a control character that would garble the message.
std::string describeChar(std::string_view ch) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", codePoint(ch));
    if (static_cast<std::uint8_t>(ch[0]) < 0x20 || ch == "\x7F") return code;
    return "\xE3\x80\x8C" + std::string(ch) + "\xE3\x80\x8D (" + code + ")";
}

std::string hexBytes(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        char b[4];
        std::snprintf(b, sizeof b, "%s%02X", out.empty() ? "" : " ", static_cast<std::uint8_t>(c));
        out += b;
    }
    return out;
}

// Findings of one kind past the first few are counted, not kept: a file saved with other line
// ends or in another encoding holds one a character, and a million lines help no one.
constexpr std::size_t kFindingsOfAKind = 10;

enum class Kind {
    NotUtf8,
    LoneCr,
    ZeroByte,
    NoForm,
    Tilde,
    Byte7E,
    Overflow,
    SjisCut,
    NotSjis,
    Unassigned,
    TwoCodes,
    Count,
};

struct Findings {
    std::vector<TextProblem>& out;
    std::array<std::size_t, static_cast<std::size_t>(Kind::Count)> seen{};
    std::array<std::size_t, static_cast<std::size_t>(Kind::Count)> last{}; // index in out

    // The message is made only for a finding that is kept.
    template <class Message> void add(Kind kind, const TextPlace& place, Message message) {
        const auto k = static_cast<std::size_t>(kind);
        if (seen[k]++ >= kFindingsOfAKind) return;
        last[k] = out.size();
        out.push_back({place, message()});
    }
    // The last finding kept of each kind tells how many more there are.
    void close() {
        for (std::size_t k = 0; k < seen.size(); ++k)
            if (seen[k] > kFindingsOfAKind)
                out[last[k]].message +=
                    " (and " + std::to_string(seen[k] - kFindingsOfAKind) + " more like it)";
    }
};

// Places characters of UTF-8 text as it is walked: lines by LF, columns by characters.
struct Walker {
    TextPlace place;
    void step(std::string_view ch) {
        if (ch == "\n") {
            ++place.line;
            place.column = 1;
        } else {
            ++place.column;
        }
    }
};

// Problems that keep Shift-JIS text from reading back as characters: bytes outside the code,
// a lead byte without its second byte, codes that code page 932 leaves unassigned. `consequence`
// follows each message.
std::vector<TextProblem> sjisProblems(std::string_view sjis, std::string_view consequence = {}) {
    std::vector<TextProblem> out;
    Findings findings{out};
    bool anyUnassigned = sjisToUtf8(sjis).find("\xEF\xBF\xBD") != std::string::npos;
    Walker walker;
    const TextPlace& place = walker.place;
    std::size_t i = 0;
    while (i < sjis.size()) {
        const auto b = static_cast<std::uint8_t>(sjis[i]);
        std::size_t n = isSjisLead(b) ? 2 : 1;
        std::string_view ch = sjis.substr(i, n);
        if (isSjisLead(b) &&
            (i + 1 >= sjis.size() || !isSjisTrail(static_cast<std::uint8_t>(sjis[i + 1])))) {
            findings.add(Kind::SjisCut, place, [&] {
                return "the byte " + hexBytes(ch.substr(0, 1)) +
                       " begins a double-byte character that does not follow" +
                       std::string(consequence);
            });
            n = 1;
        } else if (b == 0x80 || b == 0xA0 || b >= 0xFD) {
            findings.add(Kind::NotSjis, place, [&] {
                return "the byte " + hexBytes(ch) + " is not Shift-JIS" + std::string(consequence);
            });
        } else if (anyUnassigned && b >= 0x80 &&
                   sjisToUtf8(ch).find("\xEF\xBF\xBD") != std::string::npos) {
            findings.add(Kind::Unassigned, place, [&] {
                return "the code " + hexBytes(ch) + " has no character in code page 932" +
                       std::string(consequence);
            });
        }
        walker.step(sjis.substr(i, n));
        i += n;
    }
    findings.close();
    return out;
}

bool placeBefore(const TextProblem& a, const TextProblem& b) {
    return a.place.line != b.place.line ? a.place.line < b.place.line
                                        : a.place.column < b.place.column;
}

} // namespace

TextPlace placeOfSjisOffset(std::string_view sjis, std::size_t offset) {
    Walker walker;
    std::size_t i = 0;
    while (i < sjis.size()) {
        const auto b = static_cast<std::uint8_t>(sjis[i]);
        std::size_t n = isSjisLead(b) ? 2 : 1;
        if (offset < i + n) break;
        walker.step(sjis.substr(i, n));
        i += n;
    }
    return walker.place;
}

EncodeResult encodeScenario(std::string_view input, SourceEncoding encoding) {
    EncodeResult result;
    std::string utf8;
    if (encoding == SourceEncoding::ShiftJis) {
        result.errors = sjisProblems(input);
        if (!result.errors.empty()) return result;
        utf8 = sjisToUtf8(input);
    } else {
        utf8 = std::string(input);
        if (utf8.starts_with(kBom)) utf8.erase(0, kBom.size());
    }

    // Line ends become CR LF; a CR on its own ends no line for the engine, so it is refused.
    std::string text;
    text.reserve(utf8.size() + utf8.size() / 16);
    Walker walker;
    Findings findings{result.errors};
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t n = utf8Length(utf8, i);
        if (n == 0) {
            findings.add(Kind::NotUtf8, walker.place, [&] {
                return "the byte " + hexBytes(utf8.substr(i, 1)) +
                       " is not UTF-8 (Shift-JIS text needs --sjis)";
            });
            ++i;
            ++walker.place.column;
            continue;
        }
        std::string_view ch(utf8.data() + i, n);
        if (ch == "\r" && (i + 1 >= utf8.size() || utf8[i + 1] != '\n')) {
            findings.add(Kind::LoneCr, walker.place,
                         [] { return "a CR that ends no line (line ends are LF or CR LF)"; });
        } else if (ch[0] == '\0') {
            findings.add(Kind::ZeroByte, walker.place, [] {
                return "a zero byte (U+0000), which no text means: the game would show it as a "
                       "blank";
            });
        } else if (ch == "\n") {
            if (i == 0 || utf8[i - 1] != '\r') text += '\r';
        }
        text += ch;
        walker.step(ch);
        i += n;
    }
    if (!result.errors.empty() && !isValidUtf8(utf8)) {
        findings.close();
        return result;
    }

    // Convert, stepping over every character that has no code page 932 form so that all of
    // them are reported at once.
    std::string sjis;
    std::vector<std::size_t> unconvertible; // offsets into text
    for (std::size_t from = 0; from < text.size();) {
        std::size_t bad = 0;
        std::string_view rest(text.data() + from, text.size() - from);
        if (auto converted = utf8ToSjis(rest, &bad)) {
            sjis += *converted;
            break;
        }
        if (auto head = utf8ToSjis(rest.substr(0, bad))) sjis += *head;
        unconvertible.push_back(from + bad);
        from += bad + std::max<std::size_t>(1, utf8Length(text, from + bad));
    }

    // Walk the text and its conversion side by side: one character of each at a time.
    walker = Walker{};
    std::size_t j = 0;
    std::size_t next = 0;
    bool overflowReported = false;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = std::max<std::size_t>(1, utf8Length(text, i));
        std::string_view ch(text.data() + i, n);
        if (next < unconvertible.size() && unconvertible[next] == i) {
            ++next;
            findings.add(Kind::NoForm, walker.place, [&] {
                return describeChar(ch) + " has no form in code page 932 (Shift-JIS)";
            });
        } else if (j < sjis.size()) {
            std::size_t m = isSjisLead(static_cast<std::uint8_t>(sjis[j])) ? 2 : 1;
            std::string_view code = std::string_view(sjis).substr(j, m);
            if (code == "~") {
                findings.add(Kind::Tilde, walker.place, [] {
                    return "'~' is the byte 0x7E, stored as 0xFF, which ends the scenario file "
                           "there";
                });
            } else if (code.find('\x7E') != std::string_view::npos) {
                findings.add(Kind::Byte7E, walker.place, [&] {
                    return describeChar(ch) + " is " + hexBytes(code) +
                           " in Shift-JIS; its byte 0x7E is stored as 0xFF, which ends the "
                           "scenario file there";
                });
            }
            if (!overflowReported && j + m > static_cast<std::size_t>(kMaxScenarioText)) {
                overflowReported = true;
                findings.add(Kind::Overflow, walker.place, [&] {
                    return "the text is " + std::to_string(sjis.size()) +
                           " bytes in Shift-JIS, more than the " +
                           std::to_string(kMaxScenarioText) +
                           " a scenario block holds; it overflows here";
                });
            }
            j += m;
        }
        walker.step(ch);
        i += n;
    }
    findings.close();
    if (!result.errors.empty()) {
        std::stable_sort(result.errors.begin(), result.errors.end(), placeBefore);
        return result;
    }

    result.stored.reserve(sjis.size());
    for (char c : sjis)
        result.stored.push_back(scrambleScenarioByte(static_cast<std::uint8_t>(c)));
    return result;
}

std::string plainScenarioText(std::span<const std::uint8_t> stored) {
    std::string plain;
    for (std::uint8_t s : stored) {
        if (s == 0xFF || plain.size() >= static_cast<std::size_t>(kMaxScenarioText)) break;
        plain += static_cast<char>(scrambleScenarioByte(s));
    }
    return plain;
}

DecodeResult decodeScenario(std::span<const std::uint8_t> stored) {
    DecodeResult result;
    std::string plain;
    std::size_t end = 0;
    while (end < stored.size() && stored[end] != 0xFF)
        plain += static_cast<char>(scrambleScenarioByte(stored[end++]));

    // Shift-JIS with LF line ends. Lone line-end bytes are told once, with how many there are,
    // since a file written with the wrong line ends holds thousands.
    std::string text;
    text.reserve(plain.size());
    std::size_t bareLf = 0, loneCr = 0, zeroBytes = 0;
    TextPlace firstBareLf, firstLoneCr, firstZeroByte;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == '\r' && i + 1 < plain.size() && plain[i + 1] == '\n') continue;
        if (plain[i] == '\n' && (i == 0 || plain[i - 1] != '\r') && bareLf++ == 0)
            firstBareLf = placeOfSjisOffset(text, text.size());
        if (plain[i] == '\r' && loneCr++ == 0) firstLoneCr = placeOfSjisOffset(text, text.size());
        if (plain[i] == '\0' && zeroBytes++ == 0)
            firstZeroByte = placeOfSjisOffset(text, text.size());
        text += plain[i];
    }
    auto more = [](std::size_t n) {
        return n > 1 ? " (" + std::to_string(n - 1) + " more like it)" : std::string();
    };
    if (bareLf)
        result.warnings.push_back({firstBareLf, "a line end without CR: the engine loses the "
                                                "byte before it, and encode writes CR LF here" +
                                                    more(bareLf)});
    if (loneCr)
        result.warnings.push_back(
            {firstLoneCr, "a CR that ends no line; encode refuses it" + more(loneCr)});
    if (zeroBytes)
        result.warnings.push_back(
            {firstZeroByte,
             "a zero byte, which the game shows as a blank; encode refuses it" + more(zeroBytes)});
    for (TextProblem& p : sjisProblems(text, "; it is decoded as U+FFFD"))
        result.warnings.push_back(std::move(p));
    // Code page 932 gives some characters two codes; encode writes one of them, so a file
    // holding the other would not come back byte for byte.
    std::optional<std::string> back = utf8ToSjis(sjisToUtf8(text));
    if (!back || *back != text) {
        Findings twoCodes{result.warnings};
        TextPlace place;
        for (std::size_t i = 0; i < text.size();) {
            const auto b = static_cast<std::uint8_t>(text[i]);
            const std::size_t n = isSjisLead(b) && i + 1 < text.size() ? 2 : 1;
            const std::string_view code = std::string_view(text).substr(i, n);
            if (n == 2) {
                const std::string ch = sjisToUtf8(code);
                std::optional<std::string> again = utf8ToSjis(ch);
                if (again && *again != code)
                    twoCodes.add(Kind::TwoCodes, place, [&] {
                        return describeChar(ch) + " is " + hexBytes(code) +
                               " here; encode writes it as " + hexBytes(*again);
                    });
            }
            if (b == '\n') {
                ++place.line;
                place.column = 1;
            } else {
                ++place.column;
            }
            i += n;
        }
        twoCodes.close();
    }
    if (plain.size() > static_cast<std::size_t>(kMaxScenarioText))
        result.warnings.push_back({placeOfSjisOffset(text, text.size()),
                                   "the text is " + std::to_string(plain.size()) +
                                       " bytes, more than the " + std::to_string(kMaxScenarioText) +
                                       " a scenario block holds; the engine cuts it"});
    if (end < stored.size())
        result.warnings.push_back(
            {placeOfSjisOffset(text, text.size()),
             "a stored 0xFF at byte " + std::to_string(end) + " ends the text here; the " +
                 std::to_string(stored.size() - end - 1) + " bytes behind it are never read"});
    std::stable_sort(result.warnings.begin(), result.warnings.end(), placeBefore);
    result.text = sjisToUtf8(text);
    return result;
}

bool readWholeFile(const std::string& path, std::string& out) {
    std::string reason;
    return readRegularFile(path, SIZE_MAX, &out, &reason) == FileRead::Read;
}

FileRead readSourceFile(const std::string& path, std::string* bytes, std::string* reason) {
    return readRegularFile(path, kMaxSourceBytes, bytes, reason);
}

bool writeWholeFile(const std::string& path, std::string_view data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    int err = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) errno = err ? err : EIO;
    return ok;
}
