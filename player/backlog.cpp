// The backlog: the pages left behind, kept as they were shown, and read again over the game.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"

namespace {

constexpr int kLinesShown = 14; // display lines of the text rectangle
constexpr Rect kTextRect{50, 50, 750, 550};

// The backlog's display lines, oldest first, a blank line between pages.
std::vector<std::string> backlogLines() {
    std::vector<std::string> lines;
    for (const std::vector<std::uint8_t>& page : g_comfortsMemory.history) {
        std::string line;
        for (std::uint8_t b : page) {
            if (b == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += static_cast<char>(b);
            }
        }
        if (!line.empty()) lines.push_back(line);
        lines.emplace_back();
    }
    return lines;
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
    ComfortsMemory& c = g_comfortsMemory;
    const int n = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    const bool samePage = static_cast<std::size_t>(n) >= c.shown.size() &&
                          std::equal(c.shown.begin(), c.shown.end(), g_page.begin());
    if (!samePage) {
        if (!c.shown.empty()) {
            c.history.push_back(c.shown);
            if (c.history.size() > static_cast<std::size_t>(kBacklogPages))
                c.history.erase(c.history.begin());
        }
        if (c.shownPage >= 0) c.readPages.insert(c.shownPage);
        c.shownPage = pageKey();
        c.shown.clear();
    }
    // Only what the reveal added since the frame before.
    c.shown.insert(c.shown.end(), g_page.begin() + static_cast<std::ptrdiff_t>(c.shown.size()),
                   g_page.begin() + n);
}

void openBacklog() {
    g_comforts.backlogOpen = true;
    g_comforts.backlogTop = backlogLastTop();
}

void backlogInput() {
    if (keyPressed(kKeyReturn) || keyPressed(kKeyPadEnter) || mouseButtonPressed(1)) {
        g_comforts.backlogOpen = false;
        return;
    }
    if (g_mouse.lZ > 0 || keyPressed(kKeyUp)) scrollBacklog(-1);
    if (g_mouse.lZ < 0 || keyPressed(kKeyDown)) scrollBacklog(1);
    if (keyPressed(kKeyPageUp)) scrollBacklog(-kLinesShown);
    if (keyPressed(kKeyPageDown)) scrollBacklog(kLinesShown);
}

int backlogPageCount() {
    return static_cast<int>(g_comfortsMemory.history.size());
}

void drawBacklog() {
    dim(200);
    const std::vector<std::string> lines = backlogLines();
    std::string text;
    const int top =
        std::clamp(g_comforts.backlogTop, 0, std::max(0, static_cast<int>(lines.size())));
    for (int i = top; i < top + kLinesShown && i < static_cast<int>(lines.size()); ++i)
        text += lines[static_cast<std::size_t>(i)] + "\n";
    drawShadowed(text, kTextRect);
    drawShadowed(toSjis("履歴"), Rect{736, 4, 800, 40});
}
