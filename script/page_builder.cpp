// The page builder: cuts the next stretch of scenario text into the page, with line wraps and a
// click wait at every line end already in place.
#include <algorithm>
#include <string>

#include "base/message.h"
#include "script/script.h"

std::array<std::int32_t, kPageBufferSize> g_pageOrigin{};

namespace {
constexpr std::uint8_t kLF = 0x0A;

std::int32_t originOf(std::int64_t j) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(j, 0, kScenarioSize));
}
} // namespace

void fillPage() {
    ScriptState& s = g_script;
    while (scenarioByte(s.source) == kLF && s.source < kScenarioSize)
        ++s.source;

    auto& page = g_page;
    auto& origin = g_pageOrigin;
    std::int64_t j = s.source;
    int i = 0;
    int w = s.column;
    // An item that starts below the limit is always finished; only tags and comments can run
    // on, and they stop at the end of the buffer (or of the memory), whatever the script holds.
    while (i < kPageLimit) {
        const std::uint8_t c = scenarioByte(j);
        if (c >= 0x80) {
            page[i] = c;
            page[i + 1] = scenarioByte(j + 1);
            origin[i] = origin[i + 1] = originOf(j);
            i += 2;
            j += 2;
            if (++w == s.charsPerLine && scenarioByte(j + 1) != kLF) {
                origin[i] = originOf(j);
                page[i++] = kLF;
                w = 0;
            }
        } else if (c == kLF) {
            // The '[' takes the place of the byte before the LF (the CR of a CR LF).
            if (i == 0) ++i; // never the case after the skip above; kept inside the page anyway
            page[i - 1] = '[';
            page[i] = 'l';
            page[i + 1] = ']';
            page[i + 2] = kLF;
            origin[i] = origin[i + 1] = origin[i + 2] = originOf(j);
            i += 3;
            j += 1;
            w = 0;
        } else if (c == '[') {
            std::uint8_t b;
            do {
                origin[i] = originOf(j);
                b = scenarioByte(j++);
                page[i++] = b;
            } while (b != ']' && i < kPageBufferSize && j < kScenarioSize);
        } else if (c == ';') {
            while (i < kPageBufferSize && j < kScenarioSize && scenarioByte(j) != kLF) {
                origin[i] = originOf(j);
                page[i++] = scenarioByte(j++);
            }
        } else {
            origin[i] = originOf(j);
            page[i++] = 0;
            ++j;
        }
    }
    // What lies behind the fill is no part of the page; clearing it keeps every run alike.
    std::fill(page.begin() + i, page.end(), std::uint8_t{0});
    std::fill(origin.begin() + i, origin.end(), originOf(j));

    s.column = 0;
    s.line = 0;
    s.pageEnded = false;
    if (traceEnabled()) {
        const std::string at = sourceAt(s.source);
        if (at.empty())
            traceEvent("page", {{"source", s.source}, {"block", s.currentBlock}});
        else
            traceEvent("page", {{"source", s.source}, {"block", s.currentBlock}, {"at", at}});
    }
}

void buildNextPage() {
    ScriptState& s = g_script;
    const std::int64_t next = static_cast<std::int64_t>(s.source) + s.revealPos + s.removedBytes;
    s.source = static_cast<std::int32_t>(std::clamp<std::int64_t>(next, 0, kScenarioSize));
    s.revealPos = 0;
    s.removedBytes = 0;
    fillPage();
}
