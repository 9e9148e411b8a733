#include "app/app.h"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

#include "app/authoring.h"
#include "app/frame.h"
#include "app/screenshots.h"
#include "app/settings.h"
#include "app/speech.h"
#include "app/state_dump.h"
#include "base/message.h"
#include "base/output_file.h"
#include "input/input_sdl.h"
#include "player/player.h"
#include "render/render_sdl.h"
#include "sound/sound.h"

namespace {

SDL_Window* g_window = nullptr;
bool g_active = false;
bool g_headless = false; // the window is never shown: it is always active
bool g_quit = false;
std::string g_settingsPath; // where the player's settings are kept; empty: nowhere

// The picture fills the screen, or the window again; remembered in the settings.
void toggleFullscreen() {
    if (!g_window || g_headless) return;
    const bool full = (SDL_GetWindowFlags(g_window) & SDL_WINDOW_FULLSCREEN) == 0;
    SDL_SetWindowFullscreen(g_window, full ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    g_comfortSettings.fullscreen = full;
    saveSettings(g_settingsPath, g_comfortSettings);
}

// The pointer keeps its speed on the screen whatever the picture's scale.
void followPictureScale() {
    int w = kScreenWidth, h = kScreenHeight;
    if (SDL_Renderer* renderer = sdlRenderer()) SDL_GetRendererOutputSize(renderer, &w, &h);
    setPointerScale(
        std::min(static_cast<double>(w) / kScreenWidth, static_cast<double>(h) / kScreenHeight));
}

// Message boxes belong to the window once there is one; they also go to standard error, so a
// player who started the game from a terminal keeps them.
void windowMessage(std::string_view text) {
    const std::string copy(text);
    std::fprintf(stderr, "ERROR: %s\n", terminalText(copy).c_str());
#ifdef __EMSCRIPTEN__
    // A browser's message box (alert) would stop the page's every script until it is closed:
    // the page shows the message beside the game instead.
    EM_ASM(
        {
            if (Module.tolvaneMessage) Module.tolvaneMessage(UTF8ToString($0));
        },
        copy.c_str());
#else
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "ERROR", copy.c_str(), g_window);
#endif
}

void handleEvent(const SDL_Event& e) {
    if (handleRenderEvent(e)) return;
    inputHandleEvent(e);
    switch (e.type) {
    case SDL_QUIT:
        g_quit = true;
        break;
    case SDL_KEYDOWN:
#ifndef __EMSCRIPTEN__
        // A web page cannot be closed by the game: there Escape only gives the pointer back.
        // With the text box put away, Escape only brings it back, as every key does.
        if (e.key.keysym.scancode == SDL_SCANCODE_ESCAPE && !comfortsTextHidden()) g_quit = true;
#endif
        // Alt+Enter and F11, keys the game leaves unused, toggle fullscreen.
        if (!e.key.repeat && (e.key.keysym.scancode == SDL_SCANCODE_F11 ||
                              ((e.key.keysym.mod & KMOD_ALT) != 0 &&
                               (e.key.keysym.scancode == SDL_SCANCODE_RETURN ||
                                e.key.keysym.scancode == SDL_SCANCODE_KP_ENTER))))
            toggleFullscreen();
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
            followPictureScale();
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

bool createWindow(bool headless) {
    // Hidden until its first picture: the renderer may make the window again for its own needs,
    // which would show it twice, and an empty window would flash first. The player may make it
    // larger; the picture is scaled to fit.
    // On a HiDPI screen the picture is drawn for the screen's own pixels.
#ifdef __EMSCRIPTEN__
    // A web page's canvas keeps the game's own 800 x 600 pixels, the desktop's very frames; the
    // page scales the canvas to the browser's window.
    (void)headless;
    const Uint32 flags = SDL_WINDOW_HIDDEN;
#else
    const Uint32 flags =
        SDL_WINDOW_HIDDEN | (headless ? 0 : SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
#endif
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
    stopTextOutputs();
    releaseInput();
    stopAndReleaseSlots();
    closeDownSound();
    releaseTexture(g_titleTex);
    releaseImageTables();
    releaseFixedTextures();
    releaseComforts();
    releaseTextFont();
    releaseGraphics();
    setMessageSink(nullptr);
    if (g_window) SDL_DestroyWindow(g_window);
    g_window = nullptr;
    closeTrace();
    SDL_Quit();
}

// What the running program keeps between two frames.
struct Run {
    const ProgramOptions* config = nullptr;
    bool running = false; // between a successful startProgram and finishProgram
    std::chrono::nanoseconds period{};
    std::chrono::steady_clock::time_point nextFrame;
    ReplayCursor replay;
    std::uint64_t frame = 0;
    int exitCode = 0;
};

Run g_run;

} // namespace

int startProgram(const ProgramOptions& config) {
    if (!config.tracePath.empty() && !openTrace(config.tracePath)) {
        std::fprintf(stderr, "tolvane: cannot write the trace file %s\n",
                     terminalText(config.tracePath).c_str());
        return 1;
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
    // The pads are a comfort too: the game alone (--plain) never opens one.
    if (!config.plain) startPads();
    g_settingsPath = !config.settingsPath.empty() ? config.settingsPath
                     : config.headless            ? std::string()
                                                  : defaultSettingsPath();
    g_comfortSettings = ComfortSettings{};
    loadSettings(g_settingsPath, &g_comfortSettings);
    resetComforts();
    setComfortsEnabled(!config.plain);
    startTextOutputs(config.textFeedPath);
    if (!createWindow(config.headless)) {
        SDL_Quit();
        return 1;
    }
    setRenderWindow(g_window);
    // Every message from here on, the device's own failure too, reaches a player who started
    // the game from the desktop.
    if (!config.headless) setMessageSink(windowMessage);
    if (createGraphicsDevice(GraphicsOptions{config.headless, !config.headless}) < 0) {
        setMessageSink(nullptr);
        SDL_DestroyWindow(g_window);
        g_window = nullptr;
        SDL_Quit();
        return 1;
    }
    const bool fullscreen =
        config.fullscreen >= 0 ? config.fullscreen == 1 : g_comfortSettings.fullscreen;
    if (fullscreen && !config.headless)
        SDL_SetWindowFullscreen(g_window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    // The first picture goes on screen before the audio device opens and the music loads.
    holdSound();
    startSound();
    setMusicVolume(g_comfortSettings.musicVolume);
    setEffectVolume(g_comfortSettings.effectVolume);
    setInputDevicesEnabled(!config.headless);
    createKeyboard();
    createMouse();
    applyRenderStates();
    setFullRedraw(config.fullRedraw);
    g_headless = config.headless;
    g_active = config.headless || (SDL_GetWindowFlags(g_window) & SDL_WINDOW_MINIMIZED) == 0;

    g_run = Run{};
    g_run.config = &config;
    g_run.period = std::chrono::nanoseconds(1'000'000'000 / displayRefreshRate());
    setComfortFrameRate(displayRefreshRate());
    g_run.nextFrame = std::chrono::steady_clock::now();
    startFrames();
    g_quit = false;
    if (config.loadSlot) {
        std::string reason;
        if (!startAtSave(*config.loadSlot, &reason)) {
            // A player who always starts with --resume still gets the game after a quit that
            // left no save; a slot asked for by its name is the player's mistake to hear of.
            if (!config.resume) {
                std::fprintf(stderr, "tolvane: --load: %s\n", terminalText(reason).c_str());
                shutDown();
                return 1;
            }
            std::fprintf(stderr, "tolvane: --resume: %s; the title starts instead\n",
                         terminalText(reason).c_str());
        }
    }
    g_run.running = true;
    return 0;
}

StepResult stepProgram(bool mayWait) {
    const ProgramOptions& config = *g_run.config;
    // The last frame reports as every frame does (a host tells of its outputs); the run ends
    // at the next step, before any event after it is taken.
    if (config.frames != 0 && g_run.frame >= config.frames) return StepResult::Finished;
    SDL_Event e;
    if (!g_active) {
        // Minimised: no frames, and no processor time beyond waiting for the next event.
        if (mayWait) {
            if (SDL_WaitEvent(&e)) handleEvent(e);
        } else {
            while (SDL_PollEvent(&e))
                handleEvent(e);
        }
        return g_quit ? StepResult::Finished : StepResult::Waited;
    }
    while (SDL_PollEvent(&e))
        handleEvent(e);
    if (g_quit) return StepResult::Finished;
    if (!g_active) return StepResult::Waited;

    const std::uint64_t frame = ++g_run.frame;
    g_traceFrame = frame;
    if (injectReplayEvents(replayEventsForFrame(config.replay, frame, &g_run.replay)) &&
        !comfortsTextHidden())
        return StepResult::Finished;
    if (runFrame() < 0) {
        g_run.exitCode = 1;
        return StepResult::Finished;
    }
    if (frame == 1) releaseHeldSound();
    keepTextFeed();
    // What the player asked of the menu.
    if (g_comforts.fullscreenWanted) toggleFullscreen();
    if (g_comforts.settingsChanged) saveSettings(g_settingsPath, g_comfortSettings);
    if (g_comforts.screenshotWanted) takePlayerScreenshot();
    g_comforts.fullscreenWanted = g_comforts.settingsChanged = g_comforts.screenshotWanted = false;
    if (g_comforts.quitWanted) return StepResult::Finished;
    // A failed write says what failed itself, and makes the exit status 1.
    for (const FrameOutput& shot : config.screenshots)
        if (shot.frame == frame) saveScreenshot(shot.path);
    for (const FrameOutput& state : config.states)
        if (state.frame == frame) writeGameState(state.path, frame);
    return StepResult::Ran;
}

std::uint64_t programFrame() {
    return g_run.frame;
}

void keepPlayersMoment() {
    if (!g_run.running || g_run.config->plain) return;
    // Only standard error hears of a failure on the way out: a message box would hold up the
    // close the player asked for, or the end a logout's SIGTERM expects within seconds.
    const MessageSink sink = messageSink();
    setMessageSink(nullptr);
    const std::string failed = writeQuitSave();
    if (!failed.empty())
        std::fprintf(stderr, "tolvane: the quit save was not written: %s\n",
                     terminalText(failed).c_str());
    keepReadPages();
    setMessageSink(sink);
}

int finishProgram() {
    // A frame that failed left the game where no one could go on from it.
    if (g_run.exitCode == 0) keepPlayersMoment();
    g_run.running = false;
    shutDown();
    return g_run.exitCode == 0 && outputFailed() ? 1 : g_run.exitCode;
}

namespace {
// Frames that present nothing come in runs (the title, a click wait). After a few of them the
// loop sleeps for several frames at once, woken at once by any event, and then runs the frames
// it slept through back to back: the game keeps its pace, input is taken as soon as it comes,
// and a change the clock brings (auto mode's next page) is on screen at most that much later.
// Waking a dozen times a second rather than sixty is what idling costs a laptop.
constexpr int kQuietFramesBeforeLongSleep = 4;
constexpr int kFramesSleptAtOnce = 4;

// Sleeps until the time or the first event, which stays in the queue for the frame.
void sleepUntilEvent(std::chrono::steady_clock::time_point until) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() > 0) SDL_WaitEventTimeout(nullptr, static_cast<int>(left.count()));
}
} // namespace

int runProgram(const ProgramOptions& config) {
    if (const int failed = startProgram(config); failed != 0) return failed;
    StepResult step;
    int quietFrames = 0;
    bool sleptLong = false;
    while ((step = stepProgram(true)) != StepResult::Finished) {
        if (step != StepResult::Ran || config.headless) continue;
        // One frame a display refresh, the reveal one character a frame. Most frames change
        // nothing and present nothing, so there is no retrace to wait on: the loop sleeps to
        // the display's period. A present that waits for the retrace only shifts the phase.
        g_run.nextFrame += g_run.period;
        quietFrames = g_framePresented ? 0 : quietFrames + 1;
        const auto now = std::chrono::steady_clock::now();
        // Far behind, the frames are not caught up, but for those a long sleep covered.
        const int owed = sleptLong ? kFramesSleptAtOnce : 1;
        if (g_run.nextFrame < now - owed * g_run.period) g_run.nextFrame = now;
        if (g_run.nextFrame <= now) continue; // a frame slept through: it runs now
        sleptLong = quietFrames >= kQuietFramesBeforeLongSleep;
        if (sleptLong)
            sleepUntilEvent(g_run.nextFrame + (kFramesSleptAtOnce - 1) * g_run.period);
        else
            std::this_thread::sleep_until(g_run.nextFrame);
    }
    return finishProgram();
}
