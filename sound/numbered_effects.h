// The author's own effects: every file in the game folder's Sound/ whose name ends in a slot's
// number, loaded into that slot at the game's start. No SDL here: the author's tools read the
// same list.
#pragma once

#include <string>
#include <vector>

// The slots an author's file may fill; 0 to 52 keep the game's own fixed files.
inline constexpr int kFirstNumberedSlot = 53;
inline constexpr int kLastNumberedSlot = 99;

struct NumberedEffect {
    int slot = 0;
    std::string file;                 // "Sound/rain53.wav", relative to the game folder
    std::vector<std::string> ignored; // other files that end in the same number, not loaded
};

// The effects of the folder's Sound/ (the game folder's path; "." for the current folder), one
// a slot in rising order. A file counts when its name is NAME + a number from 53 to 99 (no
// leading zero) + one of kNumberedEffectEndings (".wav", ".mid", ".ogg", ".opus", ".flac") in any
// letter case, and it is a regular file; of two for one slot the first by name is taken.
std::vector<NumberedEffect> findNumberedEffects(const std::string& gameFolder);
