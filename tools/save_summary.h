// A player's save file as the game's load reads it, with the engine's own reader: what a load
// would restore, or why it would refuse the file.
#pragma once

#include <string>

// Whether the bytes at the start of a file are those of a save (not a checkpoint).
bool looksLikeSaveFile(const std::string& path);

struct SaveSummary {
    bool loadable = false; // the game would load it (exactly, or at its place in an edited game)
    bool checked = false;  // a Scenario folder stood beside it and the save was judged against it
    std::string text;      // the lines to print
};

// Reads the save at `path`, judged against the scenario in `gameDir` when that holds one.
SaveSummary summarizeSaveFile(const std::string& path, const std::string& gameDir);
