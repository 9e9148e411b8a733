// Writing a surface to a PNG file (for screenshots).
#pragma once

#include <SDL.h>

#include <string_view>

// Encodes the surface as PNG and writes it to the file, whole; false after a message on
// standard error naming the file and what failed.
bool writePngFile(std::string_view path, SDL_Surface* surface);
