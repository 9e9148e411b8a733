// The backlog: the pages left behind, kept as they were shown, and read again over the game; and
// a page of it returned to.
//
// Its keys: the wheel and Page Up / Page Down scroll its lines, and the wheel towards the player
// past its end goes back to the game. Up marks the newest page that can be returned to, and then
// the page before; Down marks the page after, lets go of the newest, and with no page marked
// scrolls as the wheel does. Return or keypad Enter returns to the marked page, or with none
// goes back to the game. The pointer moves over the backlog, and moved onto a page's lines it
// marks that page; a left click on the marked page returns to it (a click where the pointer
// merely stood when the backlog opened chooses nothing). The right button and Backspace go back
// to the game.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "base/message.h"
#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"

namespace {

constexpr int kLinesShown = 14; // display lines of the text rectangle
constexpr Rect kTextRect{50, 50, 750, 550};
constexpr std::uint32_t kMarkedColour = 0xFFFFE070u;

struct BacklogLine {
    std::string text;
    int page; // the backlog page it shows, -1 for the blank between pages
};

struct BacklogMark {
    int page = -1; // the page Return returns to; -1 for none
    // A page was returned to in this frame: the backlog closes once the frame is drawn, so the
    // game holds this one frame, which shows the page as it began.
    bool returned = false;
    // The key that returned, while it is held: held on it is the left button to the game, so
    // the game takes no press until it is let go.
    int heldKey = -1;
};
BacklogMark g_mark;
// The frame before was not of a game.
bool g_gameBegins = true;

// The backlog's display lines, oldest first, a blank line between pages.
std::vector<BacklogLine> backlogLines() {
    std::vector<BacklogLine> lines;
    const auto& history = g_comfortsMemory.history;
    for (std::size_t p = 0; p < history.size(); ++p) {
        const int page = static_cast<int>(p);
        std::string line;
        for (std::uint8_t b : history[p]) {
            if (b == '\n') {
                lines.push_back({line, page});
                line.clear();
            } else {
                line += static_cast<char>(b);
            }
        }
        if (!line.empty()) lines.push_back({line, page});
        lines.push_back({std::string(), -1});
    }
    return lines;
}

// The marked page's lines in view, the top as near as it stood.
void showMarkedPage() {
    const std::vector<BacklogLine> lines = backlogLines();
    int first = -1, last = -1;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i)
        if (lines[static_cast<std::size_t>(i)].page == g_mark.page) {
            if (first < 0) first = i;
            last = i;
        }
    if (first < 0) return;
    int& top = g_comforts.backlogTop;
    if (last >= top + kLinesShown) top = last - kLinesShown + 1;
    if (first < top) top = first;
}

// The nearest page from `from` in the direction `step` that can be returned to, or -1.
int returnablePage(int from, int step) {
    for (int p = from; p >= 0 && p < backlogPageCount(); p += step)
        if (canReturnToPage(p)) return p;
    return -1;
}

// The page whose lines the pointer is on, or -1.
int pageUnderPointer() {
    const int x = g_pointer.x, y = g_pointer.y;
    if (x < kTextRect.left || x >= kTextRect.right || y < kTextRect.top) return -1;
    const int row = (y - kTextRect.top) / kLineHeight;
    const std::vector<BacklogLine> lines = backlogLines();
    const int i = g_comforts.backlogTop + row;
    if (row >= kLinesShown || i >= static_cast<int>(lines.size())) return -1;
    return lines[static_cast<std::size_t>(i)].page;
}

// The press that chose the page is not the game's: the game takes the next one.
void returnTo(int page, int key) {
    std::string reason;
    if (!returnToPage(page, &reason)) {
        reportProblem("cannot return to that page: " + reason);
        return;
    }
    g_mark = BacklogMark{-1, true, key};
    g_pointer.clickArmed = false;
}

int backlogLastTop() {
    return std::max(0, static_cast<int>(backlogLines().size()) - kLinesShown);
}

void scrollBacklog(int lines) {
    const int last = backlogLastTop();
    if (lines > 0 && g_comforts.backlogTop >= last) { // scrolled past its end: back to the game
        g_comforts.backlogOpen = false;
        return;
    }
    g_comforts.backlogTop = std::clamp(g_comforts.backlogTop + lines, 0, last);
}

} // namespace

void followPage() {
    if (!inGame()) {
        // At the title: no page of the game left can be returned to; the pages read are kept.
        forgetRollback();
        keepReadPages();
        g_gameBegins = true;
        return;
    }
    if (g_mark.heldKey >= 0 && !g_comforts.backlogOpen && !keyDown(g_mark.heldKey)) {
        g_mark.heldKey = -1;
        g_pointer.clickArmed = true;
    }
    ComfortsMemory& c = g_comfortsMemory;
    const int n = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    const bool samePage = static_cast<std::size_t>(n) >= c.shown.size() &&
                          std::equal(c.shown.begin(), c.shown.end(), g_page.begin());
    // A game's first page begins here too, unless a load put back the page as it was shown.
    const bool firstPage = g_gameBegins && c.shown.empty();
    g_gameBegins = false;
    if (!samePage || firstPage) {
        const bool joined = !c.shown.empty();
        if (joined) {
            c.history.push_back(c.shown);
            if (c.history.size() > static_cast<std::size_t>(kBacklogPages))
                c.history.erase(c.history.begin());
        }
        const PageKey left = c.shownPage;
        if (left.block >= 0) markPageRead(left);
        c.shownPage = pageKey();
        c.shown.clear();
        // Before the game steps: the moment the first frame of the page starts from.
        rollbackPageBegins(joined, left);
    }
    // Only what the reveal added since the frame before.
    c.shown.insert(c.shown.end(), g_page.begin() + static_cast<std::ptrdiff_t>(c.shown.size()),
                   g_page.begin() + n);
}

void openBacklog() {
    g_comforts.backlogOpen = true;
    g_comforts.backlogTop = backlogLastTop();
    g_mark = BacklogMark{};
}

void backlogInput() {
    if (g_mark.returned) { // the frame that returned was not drawn by the backlog
        g_mark.returned = false;
        g_comforts.backlogOpen = false;
        return;
    }
    movePointer();
    if (g_mouse.lX != 0 || g_mouse.lY != 0) {
        const int page = pageUnderPointer();
        if (page >= 0 && canReturnToPage(page)) g_mark.page = page;
    }
    if (g_mark.page >= 0 && !canReturnToPage(g_mark.page)) g_mark.page = -1;
    if (keyPressed(kKeyReturn) || keyPressed(kKeyPadEnter)) {
        if (g_mark.page >= 0) {
            returnTo(g_mark.page, keyPressed(kKeyReturn) ? kKeyReturn : kKeyPadEnter);
        } else {
            g_comforts.backlogOpen = false;
        }
        return;
    }
    if (mouseButtonPressed(1) || keyPressed(kKeyBackspace)) {
        g_comforts.backlogOpen = false;
        return;
    }
    if (mouseButtonPressed(0)) {
        const int page = pageUnderPointer();
        if (page >= 0 && page == g_mark.page) {
            returnTo(page, -1);
            return;
        }
    }
    if (keyPressed(kKeyUp)) {
        const int page = g_mark.page < 0 ? returnablePage(backlogPageCount() - 1, -1)
                                         : returnablePage(g_mark.page - 1, -1);
        if (page >= 0) {
            g_mark.page = page;
            showMarkedPage();
        } else if (g_mark.page < 0) {
            scrollBacklog(-1);
        }
    }
    if (keyPressed(kKeyDown)) {
        if (g_mark.page < 0) {
            scrollBacklog(1);
        } else {
            g_mark.page = returnablePage(g_mark.page + 1, 1);
            if (g_mark.page >= 0) showMarkedPage();
        }
    }
    if (g_mouse.lZ > 0) scrollBacklog(-1);
    if (g_mouse.lZ < 0) scrollBacklog(1);
    if (keyPressed(kKeyPageUp)) scrollBacklog(-kLinesShown);
    if (keyPressed(kKeyPageDown)) scrollBacklog(kLinesShown);
}

int backlogPageCount() {
    return static_cast<int>(g_comfortsMemory.history.size());
}

void drawBacklog() {
    if (g_mark.returned) {
        // The frame shows the page returned to, as the game alone draws it.
        g_mark.returned = false;
        g_comforts.backlogOpen = false;
        if (g_comforts.autoMode) drawAutoMark();
        return;
    }
    dim(200);
    const std::vector<BacklogLine> lines = backlogLines();
    const int count = static_cast<int>(lines.size());
    const int top = std::clamp(g_comforts.backlogTop, 0, std::max(0, count));
    const int end = std::min(top + kLinesShown, count);
    // The lines in runs of one colour, each run at its own rows of the text grid.
    for (int i = top; i < end;) {
        const bool marked =
            lines[static_cast<std::size_t>(i)].page == g_mark.page && g_mark.page >= 0;
        std::string text;
        const int first = i;
        for (; i < end && (lines[static_cast<std::size_t>(i)].page == g_mark.page &&
                           g_mark.page >= 0) == marked;
             ++i)
            text += lines[static_cast<std::size_t>(i)].text + "\n";
        const Rect rect{kTextRect.left, kTextRect.top + (first - top) * kLineHeight,
                        kTextRect.right, kTextRect.bottom};
        if (marked) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
            const Rect shadow{rect.left + 2, rect.top + 2, rect.right + 2, rect.bottom + 2};
            drawText(bytes, static_cast<int>(text.size()), shadow, 0xFF000000u);
            drawText(bytes, static_cast<int>(text.size()), rect, kMarkedColour);
        } else {
            drawShadowed(text, rect);
        }
    }
    drawShadowed(toSjis("履歴"), Rect{736, 4, 800, 40});
    drawQuad(g_pointerTex, g_pointerQuad); // over the dimming: it points at a page
}
