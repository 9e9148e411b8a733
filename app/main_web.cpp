// The program in a web page: the page puts the game into the memory file system and calls main
// with the options it was given; the game then runs one frame per animation frame of the
// browser, and tells the page about each output file and its end.
#include <emscripten.h>
#include <unistd.h>

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app.h"
#include "app/options.h"
#include "base/message.h"

namespace {

// The page's folders (made by the page before main): the game's files, and the player's
// folder that the page keeps in the browser's storage.
constexpr const char* kGameFolder = "/game";
constexpr const char* kDataFolder = "/save/data";
constexpr const char* kConfigFolder = "/save/config";

ProgramOptions g_options;

// Tells the page of an output file the frame wrote, so that it can read it (or the canvas).
void reportOutputs(std::uint64_t frame) {
    for (const FrameOutput& shot : g_options.screenshots)
        if (shot.frame == frame)
            EM_ASM(
                {
                    if (Module.tolvaneOutput)
                        Module.tolvaneOutput("screenshot", $0, UTF8ToString($1));
                },
                static_cast<double>(frame), shot.path.c_str());
    for (const FrameOutput& state : g_options.states)
        if (state.frame == frame)
            EM_ASM(
                {
                    if (Module.tolvaneOutput) Module.tolvaneOutput("state", $0, UTF8ToString($1));
                },
                static_cast<double>(frame), state.path.c_str());
}

void step() {
    const StepResult result = stepProgram(false);
    if (result == StepResult::Ran) reportOutputs(programFrame());
    if (result != StepResult::Finished) return;
    emscripten_cancel_main_loop();
    const int code = finishProgram();
    EM_ASM(
        {
            if (Module.tolvaneEnded) Module.tolvaneEnded($0);
        },
        code);
}

} // namespace

// The page calls this when it is hidden or left: a tab closed, a phone's browser sent away, may
// never run the game's end, so the quit save is written while the page can still keep it.
extern "C" EMSCRIPTEN_KEEPALIVE void tolvaneKeepMoment() {
    keepPlayersMoment();
}

int main(int argc, char** argv) {
    std::string error;
    if (!parseOptions(argc, argv, &g_options, &error)) {
        std::fprintf(stderr, "tolvane: %s\n", terminalText(error).c_str());
        return 2;
    }
    if (g_options.help) {
        std::fwrite(usageText().data(), 1, usageText().size(), stdout);
        return 0;
    }
    if (g_options.gameDir.empty()) g_options.gameDir = kGameFolder;
    if (::chdir(g_options.gameDir.c_str()) != 0) {
        std::fprintf(stderr, "tolvane: cannot enter the game folder %s\n",
                     terminalText(g_options.gameDir).c_str());
        return 2;
    }
    setenv("XDG_DATA_HOME", kDataFolder, 1);
    setenv("XDG_CONFIG_HOME", kConfigFolder, 1);
    // The frames are the software renderer's, the same pixels as on the desktop without a GPU.
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    // The page's own keys (reload, the browser's shortcuts) stay the browser's.
    SDL_SetHint(SDL_HINT_EMSCRIPTEN_KEYBOARD_ELEMENT, "#canvas");
    if (const int failed = startProgram(g_options); failed != 0) return failed;
    // The browser calls the step at each animation frame; main returns and the page lives on.
    emscripten_set_main_loop(step, 0, 0);
    return 0;
}
