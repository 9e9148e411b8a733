#include <algorithm>

#include "app/frame.h"
#include "input/input.h"
#include "render/render.h"
#include "scenes/scenes.h"
#include "script/script.h"
#include "sound/sound.h"

ScreenQuad g_bgQuad{};
ScreenQuad g_textBoxQuad{};

void gameInit() {
    loadImageSet();
    g_script.currentBlock = 0;
    currentBackground = 0;

    buildQuad(g_bgQuad, 255, 0, 0, 800, 600, 0, 0, 64, 64);
    for (int l = 0; l < 2; ++l) {
        buildQuad(g_layers[l].quad, 255, 150, 20, 709, 890, 0, 0, 64, 64);
        g_layers[l].visible = false;
    }
    buildQuad(g_textBoxQuad, 127, 0, 0, 800, 600, 0, 0, 64, 64);
    const PointerState& p = g_pointer;
    buildQuad(g_pointerQuad, 255, static_cast<float>(p.x), static_cast<float>(p.y),
              static_cast<float>(p.x + p.width), static_cast<float>(p.y + p.height), 0, 0, 64, 64);
    buildQuad(g_clickQuad, 255, 0, 0, 30, 30, 0, 0, 16, 32);
    for (LinkEntry& link : g_links)
        buildQuad(link.quad, 127, 0, 0, 10, 10, 0, 0, 64, 64);
    // A game left with F1 during a choice would otherwise start again inside that choice, with
    // link areas the pointer can hardly reach: every game starts with no choice pending.
    g_script.choiceWait = false;
    g_script.linkMode = false;
    clearLinks();

    loadSoundSlot(1, ".\\Sound\\brel_gm1.mid", true);
    loadSoundSlot(50, ".\\Sound\\door50.wav", false);
    loadSoundSlot(51, ".\\Sound\\gameover51.wav", false);
    createTextFont();
    g_script.charsPerLine = ((g_textRect.right - g_textRect.left) / kCellWidth) / 2;
    startScenario();
    if (g_script.continueGame) restoreCheckpoint();
    g_frameNo = kSceneGame;
}

void gameFrame() {
    updatePointer();
    if (g_script.textRunning && !g_script.choiceWait) stepScript();
    if (g_script.choiceWait) testLinks();
    gameDraw();
    if (g_keys[kKeyF1] & 0x80) {
        releaseImageTables();
        g_frameNo = kSceneTitleInit;
    }
}

void drawLayers() {
    for (const PictureLayer& layer : g_layers) {
        if (!layer.visible) continue;
        const int picture = std::clamp(layer.imageNo, 0, kCharPictureCount - 1);
        drawQuad(g_charTex[static_cast<std::size_t>(picture)], layer.quad);
    }
}

void gameDraw() {
    const int background = std::clamp(currentBackground, 0, kBackgroundCount - 1);
    drawQuad(g_bgTex[static_cast<std::size_t>(background)], g_bgQuad);
    drawLayers();
    drawChoiceHighlight();
    drawQuad(g_textBoxTex, g_textBoxQuad);
    const int count = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    drawText(g_page.data(), count, g_shadowRect, 0xFF000000u);
    drawText(g_page.data(), count, g_textRect, 0xFFFFFFFFu);
    if (!g_script.textRunning) drawQuad(g_clickTex, g_clickQuad);
    drawQuad(g_pointerTex, g_pointerQuad);
}
