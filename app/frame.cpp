#include "app/frame.h"

#include <SDL.h>

#include "app/authoring.h"
#include "base/message.h"
#include "input/input.h"
#include "player/player.h"
#include "render/render.h"
#include "scenes/scenes.h"

namespace {
std::uint32_t g_framesCounted = 0;
std::uint32_t g_lastReport = 0;
// The first line is due at the first frame, then one a second. SDL's ticks count from the
// program's start, so a last report at 0 alone would hold the first line back a second.
bool g_reported = false;
int g_tracedScene = -1;
} // namespace

bool g_framePresented = false;
int g_frameRate = 0;

void startFrames() {
    g_framesCounted = 0;
    g_lastReport = 0;
    g_reported = false;
    g_frameRate = 0;
}

int runFrame() {
    const std::uint32_t now = SDL_GetTicks();
    pollKeyboard();
    pollMouse();
    pollPad();
    comfortsBeforeScene();
    beginFrame();

    const std::uint8_t scene = g_frameNo;
    if (traceEnabled() && scene != g_tracedScene) traceEvent("scene", {{"scene", int{scene}}});
    g_tracedScene = scene;
    switch (scene) {
    case kSceneTitleInit:
        titleInit();
        titleFrame();
        break;
    case kSceneTitle:
        titleFrame();
        break;
    case kSceneGameInit:
        gameInit();
        gameFrame();
        break;
    case kSceneGame:
        gameFrame();
        break;
    default:
        showMessage("g_frameNoの値が問題です。");
        return -1;
    }
    authoringFrame();

    ++g_framesCounted;
    if (!g_reported || now - g_lastReport >= 1000) {
        char line[96];
        SDL_snprintf(line, sizeof line, "SceneNo：%2d / %04u FPS", int{g_frameNo}, g_framesCounted);
        SDL_LogDebug(SDL_LOG_CATEGORY_APPLICATION, "%s", line);
        // The first line counts one frame, not a second's.
        if (g_reported) g_frameRate = static_cast<int>(g_framesCounted);
        g_reported = true;
        g_framesCounted = 0;
        g_lastReport = now;
    }
    g_framePresented = endFrame();
    return 1;
}
