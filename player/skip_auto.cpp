// Reading faster: skip (Ctrl held, or the pages already read), the text speed, and auto mode,
// which answers a click wait after the line's time; after the game's own step.
#include <algorithm>
#include <cstddef>

#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"

namespace {

constexpr int kMaxStepsPerFrame = 20000; // a page is far fewer steps

int lineCharacters() {
    int i = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    int count = 0;
    while (i > 0 && g_page[static_cast<std::size_t>(i - 1)] != '\n') {
        const std::uint8_t b = g_page[static_cast<std::size_t>(i - 1)];
        if (b >= 0x20) ++count;
        --i;
    }
    return count / 2; // a double-byte character is two bytes; the game's text is double-byte
}

// Steps until the page has changed and the new page waits for its first click (or a choice,
// or the scene changes): a page a frame.
void runToNextPage(bool answerWaits) {
    bool pageChanged = false;
    for (int i = 0; i < kMaxStepsPerFrame && inGame() && !g_script.choiceWait; ++i) {
        if (!g_script.textRunning) {
            if (pageChanged || !answerWaits) break;
            signalClick();
        }
        const int before = g_script.revealPos;
        stepScript();
        if (g_script.revealPos < before) pageChanged = true;
    }
}

} // namespace

void comfortsAfterStep() {
    const ComfortsMemory& c = g_comfortsMemory;
    if (!c.enabled || !inGame() || comfortsHoldGame()) return;
    const bool skipping = keyDown(kKeyLeftCtrl) || keyDown(kKeyRightCtrl) ||
                          (g_comforts.skipRead && pageWasRead(pageKey()));
    if (skipping) {
        runToNextPage(true);
        g_comforts.waitFrames = 0;
        return;
    }
    if (g_script.textRunning && !g_script.choiceWait) {
        g_comforts.waitFrames = 0;
        if (g_comfortSettings.textSpeed == TextSpeed::Faster) stepScript();
        if (g_comfortSettings.textSpeed == TextSpeed::InstantPage) runToNextPage(false);
        return;
    }
    if (g_comforts.autoMode && atClickWait()) {
        const long long ms =
            g_comfortSettings.autoBaseMs +
            static_cast<long long>(g_comfortSettings.autoPerCharMs) * lineCharacters();
        if (++g_comforts.waitFrames * 1000LL >= ms * c.framesPerSecond) {
            g_comforts.waitFrames = 0;
            signalClick();
        }
    }
}

void drawAutoMark() {
    drawShadowed(toSjis("自動"), Rect{736, 4, 800, 40});
}
