// The program's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/replay.h"

// An output to write at a frame (--screenshot, --state).
struct FrameOutput {
    std::uint64_t frame;
    std::string path;
};

// What the command line asks for. Every file path is absolute, made so against the folder the
// program was started in, because the program changes into gameDir before it writes anything.
struct ProgramOptions {
    std::string gameDir; // empty: stay in the current folder
    bool headless = false;
    bool debugLog = false;   // --debug-log: SDL's debug log (the frame-rate line) on standard error
    bool fullRedraw = false; // --full-redraw: every frame drawn whole and presented
    int fullscreen = -1;     // --fullscreen 1, --window 0, -1: as the settings say
    bool plain = false;      // --plain: no comforts
    std::string settingsPath; // --settings; empty: the default place (none when headless)
    std::uint64_t frames = 0; // leave the main loop after this frame; 0: no limit
    std::string inputFile;    // empty: no replay
    std::vector<FrameOutput> screenshots; // in command-line order
    std::vector<FrameOutput> states;      // in command-line order
    std::string tracePath;                // empty: no trace
    std::string textFeedPath;             // --text-feed: the pages' text appended; empty: none
    std::vector<ReplayEvent> replay;      // by frame; within a frame in file order
    bool source = false;    // --source: play Scenario/*.txt (UTF-8) through the encoder
    int startBlock = -1;    // --start B:*LABEL: the first game starts at the label; -1: no
    std::string startLabel; // without the '*'
    // --load SLOT: frame 1 shows the moment of that slot (kQuickSlot, kQuitSlot or 1..60);
    // --resume is --load quit, except that a quit save that cannot be loaded starts the title.
    std::optional<int> loadSlot;
    bool resume = false;
    bool help = false; // --help: print usageText() and exit 0, nothing else is filled in
};

// Parses `tolvane [options] [GAME_DIR]` and reads the --input file. On false, *error holds one
// line naming the option, or the input file and line; the program then exits with code 2.
bool parseOptions(int argc, char** argv, ProgramOptions* out, std::string* error);

// The folder to play when no GAME_DIR is given: empty (stay) when the current folder holds a
// game, else the installed demo's folder (empty too when there is none).
std::string defaultGameFolder(const std::string& current, const std::string& installedDemo);

// The --help text.
std::string_view usageText();
