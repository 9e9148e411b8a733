// Shared pieces of the renderer's tests: a hidden window with a named renderer, a temporary
// working folder with generated pictures, pixel read-back and collected messages.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/render_sdl.h"

namespace rendertest {

// Messages shown while a MessageLog lives.
struct MessageLog {
    MessageLog();
    ~MessageLog();
    std::vector<std::string> texts;
};

// A fresh folder that is the working directory while the value lives.
struct TempFolder {
    TempFolder();
    ~TempFolder();
    std::string path;
    std::string previous;
};

// Writes a 24-bit BMP (the game's own picture format) with a colour for every pixel, given as
// 0xRRGGBB. The name is a system path (UTF-8, forward slashes); folders are made as needed.
void writeBmp(const std::string& name, int width, int height,
              const std::function<std::uint32_t(int, int)>& rgb);
// A picture of one colour.
void writeSolidBmp(const std::string& name, int width, int height, std::uint32_t rgb);

// An 800 x 600 hidden window under the offscreen driver with the graphics device made on the
// named renderer ("software", "opengl"). ready is false when that renderer cannot be made here.
struct Device {
    explicit Device(const char* driver);
    ~Device();
    SDL_Window* window = nullptr;
    bool ready = false;
};

// The frame as drawn so far.
std::vector<std::uint32_t> readScreen();
inline std::uint32_t at(const std::vector<std::uint32_t>& screen, int x, int y) {
    return screen[static_cast<std::size_t>(y) * 800 + x];
}
inline int red(std::uint32_t c) {
    return (c >> 16) & 0xFF;
}
inline int green(std::uint32_t c) {
    return (c >> 8) & 0xFF;
}
inline int blue(std::uint32_t c) {
    return c & 0xFF;
}

// A quad with its texture coordinates over the whole picture.
ScreenQuad quadAt(int alpha, float x0, float y0, float x1, float y1);

// Turns a UTF-8 string into the Shift-JIS bytes the game's pages hold.
std::vector<std::uint8_t> sjis(const std::string& utf8);

} // namespace rendertest
