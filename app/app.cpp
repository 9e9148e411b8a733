#include "app/app.h"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/authoring.h"
#include "app/frame.h"
#include "app/state_dump.h"
#include "base/message.h"
#include "base/output_file.h"
#include "input/input_sdl.h"
#include "render/render_sdl.h"
#include "sound/sound.h"

namespace {

SDL_Window* g_window = nullptr;
bool g_active = false;
bool g_headless = false; // the window is never shown: it is always active
bool g_quit = false;

// Message boxes belong to the window once there is one; they also go to standard error, so a
// player who started the game from a terminal keeps them.
void windowMessage(std::string_view text) {
    const std::string copy(text);
    std::fprintf(stderr, "ERROR: %s\n", terminalText(copy).c_str());
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "ERROR", copy.c_str(), g_window);
}

void handleEvent(const SDL_Event& e) {
    if (handleRenderEvent(e)) return;
    inputHandleEvent(e);
    switch (e.type) {
    case SDL_QUIT:
        g_quit = true;
        break;
    case SDL_KEYDOWN:
        if (e.key.keysym.scancode == SDL_SCANCODE_ESCAPE) g_quit = true;
        break;
    case SDL_WINDOWEVENT:
        if (g_headless) break;
        switch (e.window.event) {
        case SDL_WINDOWEVENT_MINIMIZED:
        case SDL_WINDOWEVENT_HIDDEN:
            g_active = false;
            resetGraphicsDevice();
            break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            g_active = true;
            resetGraphicsDevice();
            break;
        case SDL_WINDOWEVENT_EXPOSED:
            requestPresent(); // the window system lost the window's picture
            break;
        case SDL_WINDOWEVENT_CLOSE:
            g_quit = true;
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

bool createWindow() {
    // Hidden until its first picture: the renderer may make the window again for its own needs,
    // which would show it twice, and an empty window would flash first.
    const Uint32 flags = SDL_WINDOW_HIDDEN;
    g_window = SDL_CreateWindow("Tolvane ver 1.00", SDL_WINDOWPOS_UNDEFINED,
                                SDL_WINDOWPOS_UNDEFINED, 800, 600, flags);
    if (!g_window) {
        std::fprintf(stderr, "tolvane: cannot create the window: %s\n", SDL_GetError());
        return false;
    }
    SDL_ShowCursor(SDL_DISABLE);
    return true;
}

void shutDown() {
    releaseInput();
    stopAndReleaseSlots();
    closeDownSound();
    releaseTexture(g_titleTex);
    releaseImageTables();
    releaseFixedTextures();
    releaseTextFont();
    releaseGraphics();
    setMessageSink(nullptr);
    if (g_window) SDL_DestroyWindow(g_window);
    g_window = nullptr;
    closeTrace();
    SDL_Quit();
}

} // namespace

int runProgram(const ProgramOptions& config) {
    if (!config.tracePath.empty() && !openTrace(config.tracePath)) {
        std::fprintf(stderr, "tolvane: cannot write the trace file %s\n", config.tracePath.c_str());
        return 2;
    }
    if (!startAuthoring(config)) {
        closeTrace();
        return 1;
    }
    if (config.headless) {
        // No window on screen and no sound card, unless the caller named drivers of its own.
        const char* video = std::getenv("SDL_VIDEODRIVER");
        if (!video || (std::string(video) != "dummy" && std::string(video) != "offscreen"))
            setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 0);
    }
    // The frame-rate line is written at debug priority: seen only when the player asks.
    if (config.debugLog) SDL_LogSetPriority(SDL_LOG_CATEGORY_APPLICATION, SDL_LOG_PRIORITY_DEBUG);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER) != 0) {
        std::fprintf(stderr, "tolvane: cannot start SDL: %s\n", SDL_GetError());
        return 1;
    }
    if (!createWindow()) {
        SDL_Quit();
        return 1;
    }
    setRenderWindow(g_window);
    if (createGraphicsDevice(GraphicsOptions{config.headless, !config.headless}) < 0) {
        SDL_DestroyWindow(g_window);
        g_window = nullptr;
        SDL_Quit();
        return 1;
    }
    if (!config.headless) setMessageSink(windowMessage);
    // The first picture goes on screen before the audio device opens and the music loads.
    holdSound();
    startSound();
    setInputDevicesEnabled(!config.headless);
    createKeyboard();
    createMouse();
    applyRenderStates();
    setFullRedraw(config.fullRedraw);
    g_headless = config.headless;
    g_active = config.headless || (SDL_GetWindowFlags(g_window) & SDL_WINDOW_MINIMIZED) == 0;

    const auto period = std::chrono::nanoseconds(1'000'000'000 / displayRefreshRate());
    auto nextFrame = std::chrono::steady_clock::now();
    ReplayCursor replay;
    std::uint64_t frame = 0;
    int exitCode = 0;
    g_quit = false;

    while (!g_quit) {
        SDL_Event e;
        if (!g_active) {
            // Minimised: no frames, and no processor time beyond waiting for the next event.
            if (SDL_WaitEvent(&e)) handleEvent(e);
            continue;
        }
        while (SDL_PollEvent(&e))
            handleEvent(e);
        if (g_quit || !g_active) continue;

        ++frame;
        g_traceFrame = frame;
        if (injectReplayEvents(replayEventsForFrame(config.replay, frame, &replay))) break;
        if (runFrame() < 0) {
            exitCode = 1;
            break;
        }
        if (frame == 1) releaseHeldSound();
        // A failed write says what failed itself, and makes the exit status 1.
        for (const FrameOutput& shot : config.screenshots)
            if (shot.frame == frame) saveScreenshot(shot.path);
        for (const FrameOutput& state : config.states)
            if (state.frame == frame) writeGameState(state.path, frame);
        if (config.frames != 0 && frame >= config.frames) break;

        if (!config.headless) {
            // One frame a display refresh, the reveal one character a frame. Most frames change
            // nothing and present nothing, so there is no retrace to wait on: the loop sleeps to
            // the display's period. A present that waits for the retrace only shifts the phase.
            nextFrame += period;
            const auto now = std::chrono::steady_clock::now();
            if (nextFrame < now - period) nextFrame = now; // fell far behind: do not catch up
            std::this_thread::sleep_until(nextFrame);
        }
    }
    shutDown();
    return exitCode == 0 && outputFailed() ? 1 : exitCode;
}
