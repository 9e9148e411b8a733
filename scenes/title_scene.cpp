#include "base/message.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "render/render.h"
#include "scenes/scenes.h"
#include "sound/sound.h"

ScreenQuad g_titleQuad{};

void titleInit() {
    if (loadTexturePlain(".\\CG\\title.bmp", g_titleTex) < 0)
        showMessage("title.bmp の読み込み失敗");
    buildQuad(g_titleQuad, 255, 0.0f, 0.0f, 800.0f, 600.0f, 0, 0, 64, 64);
    loadTitleSounds();
    createTextFont();
    playSlotPrimary(0);
    setUpPointer();
    g_frameNo = kSceneTitle;
}

void setUpPointer() {
    constexpr Rect kPointerBounds{10, 10, 790, 590};
    constexpr Rect kPointerSize{400, 0, 440, 40};
    PointerState& p = g_pointer;
    p.bounds = kPointerBounds;
    p.x = kPointerBounds.left;
    p.y = kPointerBounds.top;
    p.pressed[0] = p.pressed[1] = p.pressed[2] = 0;
    p.speed = 2;
    p.width = kPointerSize.right - kPointerSize.left;
    p.height = kPointerSize.bottom - kPointerSize.top;
}

void titleFrame() {
    drawQuad(g_titleTex, g_titleQuad);
    // The player's menu over the title takes the clicks; the press that closes it must be let
    // go of before one starts the game.
    if (comfortsHoldTitle()) {
        g_pointer.clickArmed = false;
        comfortsDraw();
        return;
    }
    // Only a press seen after the button was up starts the game: a button held through F1 or
    // a [reset] does not.
    if (g_mouse.rgbButtons[0] & 0x80) {
        if (g_pointer.clickArmed) {
            g_frameNo = kSceneGameInit;
            playSlotPrimary(52);
        }
        g_pointer.clickArmed = false;
    } else {
        g_pointer.clickArmed = true;
    }
    comfortsDraw(); // a note (a quick load refused) fades over the title too
}
