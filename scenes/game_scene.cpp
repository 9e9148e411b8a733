#include <algorithm>

#include "base/message.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "render/render.h"
#include "scenes/scenes.h"
#include "script/script.h"
#include "sound/numbered_effects.h"
#include "sound/sound.h"

ScreenQuad g_bgQuad{};
ScreenQuad g_textBoxQuad{};

void loadGameAssets() {
    loadImageSet();
    loadSoundSlot(1, ".\\Sound\\brel_gm1.mid", true);
    loadSoundSlot(50, ".\\Sound\\door50.wav", false);
    loadSoundSlot(51, ".\\Sound\\gameover51.wav", false);
    for (const NumberedEffect& effect : findNumberedEffects(".")) {
        loadSoundSlot(effect.slot, effect.file, false);
        for (const std::string& other : effect.ignored)
            reportProblemOnce(other + ": not loaded; " + effect.file + " fills slot " +
                              std::to_string(effect.slot));
    }
}

void loadTitleSounds() {
    loadSoundSlot(0, ".\\Sound\\morva_g0.mid", true);
    loadSoundSlot(52, ".\\Sound\\start52.wav", false);
    // Rendered while the title waits, so that the game starts without synthesis.
    renderMusicAhead(".\\Sound\\brel_gm1.mid");
}

void gameInit() {
    // A save loaded before the title ever ran may name the title's music as what was playing.
    if (comfortsLoadPending() && !soundSlotLoaded(0)) loadTitleSounds();
    loadGameAssets();
    prepareScenarioForGame();
    buildQuad(g_bgQuad, 255, 0, 0, 800, 600, 0, 0, 64, 64);
    buildQuad(g_textBoxQuad, 127, 0, 0, 800, 600, 0, 0, 64, 64);
    const PointerState& p = g_pointer;
    buildQuad(g_pointerQuad, 255, static_cast<float>(p.x), static_cast<float>(p.y),
              static_cast<float>(p.x + p.width), static_cast<float>(p.y + p.height), 0, 0, 64, 64);

    createTextFont();
    startScenario();
    if (g_script.continueGame) restoreCheckpoint();
    g_frameNo = kSceneGame;
    comfortsAfterGameInit();
}

void gameFrame() {
    // The backlog or the menu open: the game waits, drawn as it stands.
    if (!comfortsHoldGame()) {
        updatePointer();
        if (g_script.textRunning && !g_script.choiceWait) stepScript();
        comfortsAfterStep();
        if (g_script.choiceWait) testLinks();
    }
    gameDraw();
    comfortsDraw();
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
    // The player looks at the picture alone.
    if (comfortsTextHidden()) return;
    drawChoiceHighlight();
    drawQuad(g_textBoxTex, g_textBoxQuad);
    const int count = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    drawText(g_page.data(), count, g_shadowRect, 0xFF000000u);
    drawText(g_page.data(), count, g_textRect, 0xFFFFFFFFu);
    if (!g_script.textRunning) drawQuad(g_clickTex, g_clickQuad);
    if (!comfortsPointerHidden()) drawQuad(g_pointerTex, g_pointerQuad);
}
