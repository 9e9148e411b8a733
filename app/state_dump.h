// The game state as one JSON object: for tests, and for authors who drive the game headless.
#pragma once

#include <cstdint>
#include <string>

std::string gameStateJson(std::uint64_t frame);
// The state as --state writes it: with "picture", a checksum of the frame's picture.
bool writeGameState(const std::string& path, std::uint64_t frame);
