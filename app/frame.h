// The frame driver: one call runs one frame of the scene that g_frameNo selects.
#pragma once

#include <cstdint>

// Scene numbers.
inline constexpr std::uint8_t kSceneTitleInit = 200;
inline constexpr std::uint8_t kSceneTitle = 201;
inline constexpr std::uint8_t kSceneGameInit = 210;
inline constexpr std::uint8_t kSceneGame = 211;

// The scene the next frame runs; 200 at start. Initialisers set their follower, the title's
// click sets 210, F1 and the script's [reset] set 200.
extern std::uint8_t g_frameNo;

// Runs one frame: polls input, clears, runs the scene, reports the frame rate once a second on
// the debug log, presents. 1 after a normal frame, -1 (after its message) for an invalid scene.
int runFrame();
