// Writing a surface to a picture file (for screenshots).
#pragma once

#include <SDL.h>

#include <string>
#include <string_view>
#include <vector>

// Encodes the surface as PNG (BMP when the name ends in .bmp) and writes it to the file, whole;
// false after a message on standard error naming the file and what failed.
bool writePictureFile(std::string_view path, SDL_Surface* surface);
// The surface as the bytes of a PNG file (BMP when bmp), else false with the reason.
bool encodePicture(SDL_Surface* surface, bool bmp, std::vector<char>* bytes, std::string* why);
