// tolvane [options] [GAME_DIR]: plays the game in GAME_DIR, the current folder or the
// installed demo.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "app/options.h"
#include "base/message.h"
#include "base/places.h"

namespace {

// Output files named on the command line are relative to where the player ran the program, not
// to the game folder the program moves into.
void makeAbsolute(std::string& path) {
    if (!path.empty()) path = std::filesystem::absolute(path).string();
}

} // namespace

int main(int argc, char** argv) {
    ProgramOptions options;
    std::string error;
    if (!parseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "tolvane: %s\nTry 'tolvane --help'.\n", terminalText(error).c_str());
        return 2;
    }
    if (options.help) {
        std::fwrite(usageText().data(), 1, usageText().size(), stdout);
        return 0;
    }
    for (FrameOutput& shot : options.screenshots)
        makeAbsolute(shot.path);
    for (FrameOutput& state : options.states)
        makeAbsolute(state.path);
    makeAbsolute(options.tracePath);
    // The author's sources are looked for where the author is; an installed game has none.
    if (options.gameDir.empty() && !options.source)
        options.gameDir = defaultGameFolder(".", installedDemoFolder());
    if (!options.gameDir.empty() && ::chdir(options.gameDir.c_str()) != 0) {
        std::fprintf(stderr, "tolvane: cannot enter the game folder %s\n",
                     terminalText(options.gameDir).c_str());
        return 2;
    }
    return runProgram(options);
}
