// Writing a surface to a picture file (for screenshots).
#pragma once

#include <SDL.h>

#include <string_view>

// Encodes the surface as PNG (BMP when the name ends in .bmp) and writes it to the file, whole;
// false after a message on standard error naming the file and what failed.
bool writePictureFile(std::string_view path, SDL_Surface* surface);
