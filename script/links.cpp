// Labels, jumps and choice links, and the [reset] tag.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "base/files.h"
#include "base/message.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "script/tag_args.h"
#include "script/tag_reading.h"

std::array<LinkEntry, kLinkCount> g_links{};

namespace {

constexpr std::uint8_t kLF = 0x0A;

void reportMissingLabel(int block, std::string_view name) {
    // Once per label: a choice held down over a broken link would otherwise ask every frame.
    static std::set<std::string> shown;
    std::string message =
        "ラベル *" + sjisToUtf8(name) + " (ブロック " + std::to_string(block) + ") の検索に失敗";
    if (shown.insert(message).second) showMessage(message);
}

// Lands on the label: checkpoint first when it carries the mark, then the new page.
void landOnLabel(std::string_view name, bool marked) {
    const std::string label(name); // the page that holds the name is about to be rebuilt
    if (marked) writeCheckpoint(label);
    g_script.revealPos = 0;
    g_script.removedBytes = 0;
    buildNextPage();
}

} // namespace

std::optional<bool> findLabel(int block, std::string_view name) {
    if (block < 0 || block >= kBlockCount) return std::nullopt;
    const int start = block * kBlockSize;
    // The search ends with the block's text, at the zero byte the load put behind it; a zero byte
    // inside the text is only a blank byte of it.
    const int length =
        std::clamp(g_blockLength[static_cast<std::size_t>(block)], 0, kMaxScenarioText);
    const int end = start + length;

    int i = start;
    while (true) {
        while (i < end && g_scenario[i] != '*')
            ++i;
        if (i >= end) return std::nullopt;
        int j = i + 1;
        while (j < end && g_scenario[j] != kLF && g_scenario[j] != '|')
            ++j;
        if (j >= end) return std::nullopt;
        const bool marked = g_scenario[j] == '|';
        const int nameEnd = marked ? j : std::max(i + 1, j - 1); // drop the CR before an LF
        const std::string_view candidate(reinterpret_cast<const char*>(&g_scenario[i + 1]),
                                         static_cast<std::size_t>(nameEnd - i - 1));
        if (candidate == name) {
            int lineEnd = j;
            while (lineEnd < end && g_scenario[lineEnd] != kLF)
                ++lineEnd;
            g_script.source = std::min(lineEnd + 1, end);
            return marked;
        }
        i = j;
    }
}

void jumpToLabel(int length) {
    ScriptState& s = g_script;
    const int t = s.revealPos - length;
    auto ignore = [&](std::string_view why) {
        reportIgnoredTag(t, length, why);
        removeFromPage(length, false); // the reveal goes on behind the tag
    };

    const TargetTag jump = readJumpTag(pageView(t, s.revealPos));
    if (!jump.ok) return ignore(jump.why);
    const int block = static_cast<int>(jump.block);
    const std::string_view name = jump.name;
    const std::optional<bool> marked = findLabel(block, name);
    if (!marked) {
        reportMissingLabel(block, name);
        removeFromPage(length, false);
        return;
    }
    s.currentBlock = block;
    landOnLabel(name, *marked);
}

void defineLink(int length) {
    ScriptState& s = g_script;
    const int t = s.revealPos - length;
    const TargetTag tag = readLinkTag(pageView(t, s.revealPos));
    if (!tag.ok) return reportIgnoredTag(t, length, tag.why);
    const std::string_view name = tag.name;
    if (s.linkCount < 0 || s.linkCount >= kLinkCount)
        return reportIgnoredTag(t, length, "more than 10 links before a choice");

    LinkEntry& link = g_links[static_cast<std::size_t>(s.linkCount)];
    std::fill(link.target.begin(), link.target.end(), '\0');
    std::copy(name.begin(), name.end(), link.target.begin());

    // The link text runs to the next tag, two bytes a character.
    int n = 0;
    for (int p = s.revealPos; p < kPageLimit && g_page[p] != '['; p += 2)
        ++n;
    const float x0 = static_cast<float>(g_textRect.left);
    const float x1 = static_cast<float>(g_textRect.left + 2 * kCellWidth * (s.column + n));
    const float y0 = static_cast<float>(g_textRect.top + kLineHeight * s.line);
    const float y1 = y0 + kLineHeight;
    s.column += n;
    link.quad.v[0].x = x0, link.quad.v[0].y = y0;
    link.quad.v[1].x = x1, link.quad.v[1].y = y0;
    link.quad.v[2].x = x1, link.quad.v[2].y = y1;
    link.quad.v[3].x = x0, link.quad.v[3].y = y1;
    s.linkCount += 1;
    link.active = true;
}

void testLinks() {
    const ScreenQuad& p = g_pointerQuad;
    int hit = -1;
    for (int i = 0; i < kLinkCount; ++i) {
        LinkEntry& link = g_links[i];
        if (!link.active) continue;
        const QuadVertex& a = link.quad.v[0];
        const QuadVertex& b = link.quad.v[2];
        if (b.x >= p.v[0].x && b.y >= p.v[0].y && a.x <= p.v[2].x && a.y <= p.v[2].y) {
            hit = i;
            break;
        }
        link.hovered = false;
    }
    if (hit < 0) return;
    g_links[hit].hovered = true;
    if (g_pointer.pressed[0] == 0) return;

    g_script.linkCount = hit;
    if (!goToChosenLink()) return; // a link to nowhere leaves the choice pending
    g_script.choiceWait = false;
    g_script.linkMode = false;
    clearLinks();
}

bool goToChosenLink() {
    const int index = std::clamp(g_script.linkCount, 0, kLinkCount - 1);
    const LinkEntry& link = g_links[index];
    const std::string_view name(link.target.data(),
                                ::strnlen(link.target.data(), link.target.size()));
    const std::optional<bool> marked = findLabel(g_script.currentBlock, name);
    if (!marked) {
        reportMissingLabel(g_script.currentBlock, name);
        return false;
    }
    if (traceEnabled()) traceEvent("choice", {{"link", index}, {"target", sjisToUtf8(name)}});
    landOnLabel(name, *marked);
    return true;
}

void clearLinks() {
    for (LinkEntry& link : g_links) {
        link.active = false;
        link.hovered = false;
    }
    g_script.linkCount = 0;
}

void resetToTitle() {
    clearLinks();
    g_frameNo = kSceneTitleInit;
    if (g_script.saveWritten) g_script.continueGame = true;
}
