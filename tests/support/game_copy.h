// Copies of a built game folder for tests to play in.
#pragma once

#include <filesystem>

namespace game_copy {

// The game's own files of `from` (its pictures, sounds and scenario) copied into `to`. What a
// player left in the folder (the checkpoint, saves, the read pages) stays behind, so a test
// plays as a first run does, whoever played the build's demo before.
inline void copyGameFiles(const std::filesystem::path& from, const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    fs::create_directories(to);
    for (const char* part : {"CG", "Sound", "Scenario"})
        if (fs::exists(from / part)) fs::copy(from / part, to / part, fs::copy_options::recursive);
}

} // namespace game_copy
