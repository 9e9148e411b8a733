// The checkpoint file ("Data.sav") as the continue reads it, with the engine's own reader: the
// fields it restores, or the first damage that makes it refuse the file, with its offset.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One thing wrong with a checkpoint file: the field it lies in and the byte offset (into the
// file) where it was found.
struct CheckpointProblem {
    std::string field;
    std::size_t offset = 0;
    std::string message;
};

// The record's fields as far as they could be read, and what is wrong with them.
struct CheckpointFields {
    int block = -1;
    std::string label;      // UTF-8
    std::string labelBytes; // Shift-JIS, as in the file
    int background = -1;
    std::vector<int> pictures; // the listed pictures, restored onto layers 0, 1, ... in order
    int music = -1;            // 0 means no music
    std::vector<CheckpointProblem> damage; // the file is not what the engine writes
    std::vector<CheckpointProblem> notes;  // well-formed but odd: nothing loaded for a number
};

// Reads the stored (scrambled) bytes of a checkpoint file.
CheckpointFields readCheckpointFields(std::span<const std::uint8_t> stored);

// The scenario files of a game folder, as the game names them.
inline const std::array<std::string, 2> kScenarioFileNames = {"Scenario/scenario0.qv_",
                                                              "Scenario/end1.qv_"};
// Fills both blocks from the game folder's scenario files as a game start fills them. False
// when the folder has no scenario files.
bool loadGameBlocks(const std::string& gameDir);

// Looks the label up in the game folder's scenario as the continue does, adding damage when the
// block does not hold it. False when the folder has no scenario files (nothing was checked).
bool checkCheckpointLabel(const std::string& gameDir, CheckpointFields& fields);

// The fields as lines of text, for the save dump.
std::string formatCheckpointFields(const CheckpointFields& fields);
