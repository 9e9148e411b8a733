// The comforts' records, the tests every concern asks of the game, and the draw over the scene.
#include "player/player.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "base/files.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"

ComfortState g_comforts;
ComfortsMemory g_comfortsMemory;

bool keyDown(int key) {
    return (g_keys[static_cast<std::size_t>(key)] & 0x80) != 0;
}
bool inGame() {
    return g_frameNo == kSceneGame;
}
bool atClickWait() {
    return inGame() && !g_script.textRunning && !g_script.choiceWait;
}
// By what the page holds rather than where it stands, so that an author's edit elsewhere in the
// block leaves the pages read as read.
PageKey pageKey() {
    return {g_script.currentBlock, pageSourceHash()};
}

std::string toSjis(std::string_view utf8) {
    return utf8ToSjis(utf8).value_or(std::string());
}

void dim(std::uint32_t alpha) {
    ScreenQuad q;
    buildQuad(q, 255, 0, 0, kScreenWidth, kScreenHeight, 0, 0, 64, 64);
    for (QuadVertex& v : q.v)
        v.diffuse = alpha << 24; // black
    drawQuad(nullptr, q);
}

void drawShadowed(const std::string& text, const Rect& rect) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const Rect shadow{rect.left + 2, rect.top + 2, rect.right + 2, rect.bottom + 2};
    drawText(bytes, static_cast<int>(text.size()), shadow, 0xFF000000u);
    drawText(bytes, static_cast<int>(text.size()), rect, 0xFFFFFFFFu);
}

void resetComforts() {
    g_comforts = ComfortState{};
    g_comfortsMemory.shown.clear();
    g_comfortsMemory.shownPage = PageKey{};
    g_comfortsMemory.history.clear();
    forgetRollback();
    forgetReadPages();
    resetScreens();
    resetView();
    forgetVoice();
}

void releaseComforts() {
    resetScreens();
}

void setComfortsEnabled(bool enabled) {
    g_comfortsMemory.enabled = enabled;
}

void setComfortFrameRate(int framesPerSecond) {
    g_comfortsMemory.framesPerSecond = std::clamp(framesPerSecond, 1, 1000);
}

bool comfortsHoldGame() {
    return g_comforts.backlogOpen || g_comforts.menuOpen || g_comforts.textHidden ||
           g_screens.open != SlotScreen::None;
}

void comfortsDraw() {
    if (!g_comfortsMemory.enabled) return;
    // The thumbnail is the game's picture alone, before anything of ours is drawn over it.
    finishSaveThisFrame();
    takeSaveResult();
    followVoice();
    // A slot screen covers the menu it was opened from.
    if (g_screens.open != SlotScreen::None) {
        drawSlotScreen();
    } else if (inGame()) {
        if (g_comforts.autoMode && !comfortsHoldGame()) drawAutoMark();
        if (g_comforts.backlogOpen) drawBacklog();
        if (g_comforts.menuOpen) drawMenu();
    } else if (comfortsHoldTitle()) {
        drawTitleMenu();
        if (g_comforts.menuOpen) drawMenu();
    }
    drawNote();
}
