// The scene machine's state: which scene the next frame runs. It lives below the frame driver
// so that the scenario engine, which sets it on [reset], links without the platform layer.
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
