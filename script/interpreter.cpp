// The tag interpreter: plays the page one step per frame, revealing a character, running a tag
// or dropping a comment, and cutting out what it ran so the revealed bytes are what is shown.
#include <algorithm>
#include <string>

#include "base/files.h"
#include "base/message.h"
#include "script/script.h"

ScriptState g_script{};
std::array<std::uint8_t, kPageBufferSize> g_page{};
ScreenQuad g_clickQuad{};
LastTag g_lastTag{};

namespace {

constexpr std::uint8_t kLF = 0x0A;

int findInPage(int from, std::uint8_t byte) {
    for (int i = std::max(from, 0); i < kPageBufferSize; ++i)
        if (g_page[i] == byte) return i;
    return -1;
}

// The page cannot go on: what it holds breaks the page model. The reveal stops where it is and
// stays stopped until a page change (which, on such a page, only F1 or a restart brings).
void endPage(std::string_view why) {
    g_script.pageEnded = true;
    reportProblemOnce(why);
}

enum class Tag { l, ct, image, playse, playbgm, stopbgm, jump, link, endlink, s, reset, other };

Tag tagByName(std::string_view name) {
    static constexpr std::pair<std::string_view, Tag> kTags[] = {
        {"l", Tag::l},           {"ct", Tag::ct},           {"image", Tag::image},
        {"playse", Tag::playse}, {"playbgm", Tag::playbgm}, {"stopbgm", Tag::stopbgm},
        {"jump", Tag::jump},     {"link", Tag::link},       {"endlink", Tag::endlink},
        {"s", Tag::s},           {"reset", Tag::reset},
    };
    for (const auto& [keyword, tag] : kTags)
        if (name == keyword) return tag;
    return Tag::other;
}

void runTag() {
    ScriptState& s = g_script;
    const int k = s.revealPos;
    const auto [nameEnd, close] = tagSpanAt(k);
    if (close < 0) {
        endPage("a tag without ']' at the end of the page: the text stops there");
        return;
    }
    const int length = close - k + 1;
    s.revealPos = k + length;
    const std::string_view name(reinterpret_cast<const char*>(&g_page[k + 1]),
                                static_cast<std::size_t>(nameEnd - k - 1));
    const Tag tag = tagByName(name);
    g_lastTag.length = std::min(length, static_cast<int>(g_lastTag.text.size()));
    std::copy_n(g_page.begin() + k, g_lastTag.length, g_lastTag.text.begin());
    g_lastTag.origin = g_pageOrigin[static_cast<std::size_t>(k)];
    if (traceEnabled()) {
        const std::string text = sjisToUtf8(
            {reinterpret_cast<const char*>(&g_page[k]), static_cast<std::size_t>(length)});
        const std::string at = sourceAt(g_lastTag.origin);
        const int known = tag != Tag::other ? 1 : 0;
        if (at.empty())
            traceEvent("tag", {{"text", text}, {"known", known}});
        else
            traceEvent("tag", {{"text", text}, {"known", known}, {"at", at}});
    }

    switch (tag) {
    case Tag::l:
        if (!s.linkMode) s.textRunning = false;
        removeFromPage(length, true);
        placeClickIcon();
        break;
    case Tag::ct:
        s.revealPos += 1;
        buildNextPage();
        break;
    case Tag::image:
        showImage(length);
        removeFromPage(length, false);
        break;
    case Tag::playse:
        playSoundEffect(length);
        removeFromPage(length, false);
        break;
    case Tag::playbgm:
        playMusic(length);
        removeFromPage(length, false);
        break;
    case Tag::stopbgm:
        stopMusic();
        removeFromPage(length, false);
        break;
    case Tag::jump:
        jumpToLabel(length); // builds the next page, or cuts itself out when it cannot jump
        break;
    case Tag::link:
        defineLink(length);
        removeFromPage(length, false);
        break;
    case Tag::endlink:
        s.column = 0;
        s.linkMode = true;
        removeFromPage(length, false);
        break;
    case Tag::s:
        s.choiceWait = true;
        removeFromPage(length, false);
        break;
    case Tag::reset:
        resetToTitle();
        removeFromPage(length, false);
        break;
    case Tag::other:
        break; // shown as text, whole, and the reveal goes on behind it
    }
}

void dropComment() {
    ScriptState& s = g_script;
    const int k = s.revealPos;
    const int p = findInPage(k + 1, kLF);
    if (p < 0) {
        endPage("a comment without a line end at the end of the page: the text stops there");
        return;
    }
    s.revealPos = p + 1;
    removeFromPage(p - k + 1, false);
    s.removedBytes -= 1; // a comment counts its length less one
}

} // namespace

TagSpan tagSpanAt(int k) {
    if (k < 0 || k + 1 >= kPageBufferSize) return {k + 1, -1};
    if (g_page[k + 1] == ']') return {k + 1, k + 1};
    // The name starts with the byte after '[', whatever it is, and ends before a space or ']'.
    int nameEnd = k + 2;
    while (nameEnd < kPageBufferSize && g_page[nameEnd] != ' ' && g_page[nameEnd] != ']')
        ++nameEnd;
    const int close =
        nameEnd < kPageBufferSize && g_page[nameEnd] == ']' ? nameEnd : findInPage(nameEnd, ']');
    return {nameEnd, close};
}

void stepScript() {
    ScriptState& s = g_script;
    if (s.pageEnded) return;
    if (s.revealPos < 0 || s.revealPos >= kPageLimit) {
        endPage("the text reached the end of its page (2048 bytes) without [ct], a jump, a "
                "choice or [reset]");
        return;
    }
    const std::uint8_t c = g_page[s.revealPos];
    if (c >= 0x80) {
        s.revealPos += 2;
        s.column += 1;
    } else if (c == '[') {
        runTag();
    } else if (c == ';') {
        dropComment();
    } else if (c == kLF) {
        s.line += 1;
        s.column = 0;
        s.revealPos += 1;
    } else {
        s.revealPos += 1;
    }
}

void removeFromPage(int length, bool uncounted) {
    ScriptState& s = g_script;
    length = std::clamp(length, 0, s.revealPos);
    if (s.revealPos < kPageLimit) {
        std::copy(g_page.begin() + s.revealPos, g_page.begin() + kPageLimit,
                  g_page.begin() + (s.revealPos - length));
        std::copy(g_pageOrigin.begin() + s.revealPos, g_pageOrigin.begin() + kPageLimit,
                  g_pageOrigin.begin() + (s.revealPos - length));
        // The bytes left free at the page's end are blanked: copies kept there would be
        // revealed again, and a tag among them run again, for ever when it is the last item.
        std::fill(g_page.begin() + (kPageLimit - length), g_page.begin() + kPageLimit,
                  std::uint8_t{0});
    } else {
        // The item ran over the page's end, where nothing is moved: blank it, or the reveal
        // would meet the same tag again at once and run it for ever.
        const int end = std::min(s.revealPos, kPageBufferSize);
        std::fill(g_page.begin() + (s.revealPos - length), g_page.begin() + end, std::uint8_t{0});
    }
    s.revealPos -= length;
    if (!uncounted) s.removedBytes += length;
}

void placeClickIcon() {
    const ScriptState& s = g_script;
    const int n = s.column != 0 ? s.column : s.charsPerLine;
    const float x = static_cast<float>(g_textRect.left + 2 * kCellWidth * n);
    const float y = static_cast<float>(g_textRect.top + kLineHeight * s.line);
    translateQuad(g_clickQuad, -g_clickQuad.v[0].x, -g_clickQuad.v[0].y, 0.0f);
    translateQuad(g_clickQuad, x, y, 0.0f);
}

void signalClick() {
    g_script.textRunning = true;
}
