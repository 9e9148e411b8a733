// The demo game's asset generator: pictures drawn from shapes, music written note by note,
// effects synthesised. Plain C++ with no library beyond the standard one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Colour {
    std::uint8_t r, g, b;
};

inline constexpr Colour kMagenta{255, 0, 255}; // keyed away by the engine

Colour mix(Colour a, Colour b, float t);

// An RGB picture with the few drawing operations the demo needs. Shapes take an alpha in 0..1;
// `smooth` shapes blend their edge over one pixel, hard ones do not (a character picture's
// outline must meet the magenta key exactly, or a pink fringe would show).
struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<Colour> pixels;
};

void initCanvas(Canvas& c, int width, int height, Colour fill);
void blendPixel(Canvas& c, int x, int y, Colour colour, float alpha);
void verticalGradient(Canvas& c, int y0, int y1, Colour top, Colour bottom);
void fillRect(Canvas& c, int x0, int y0, int x1, int y1, Colour colour, float alpha = 1.0f);
void fillEllipse(Canvas& c, float cx, float cy, float rx, float ry, Colour colour,
                 float alpha = 1.0f, bool smooth = true);
// Polygon with corners given as x, y pairs; even-odd rule, hard edge.
void fillPolygon(Canvas& c, const std::vector<float>& xy, Colour colour, float alpha = 1.0f);
// A line with round ends, `width` pixels thick.
void drawLine(Canvas& c, float x0, float y0, float x1, float y1, float width, Colour colour,
              float alpha = 1.0f, bool smooth = true);
// A soft round glow: alpha falls from `alpha` at the centre to 0 at the radius.
void glow(Canvas& c, float cx, float cy, float radius, Colour colour, float alpha);
// Falling rain: thin slanted streaks from a fixed seed.
void rain(Canvas& c, int count, unsigned seed, Colour colour, float alpha);

// Writes a 24-bit BMP; false when the file cannot be written.
bool saveBmp(const Canvas& c, const std::string& path);

// A small fixed pseudo-random sequence, so that every build draws the same picture.
struct Random {
    std::uint32_t state;
    std::uint32_t next();
    float unit(); // 0..1
};

// Each writes its files into the game folder's CG/ or Sound/; false on a write failure.
bool makeBackgrounds(const std::string& cgDir);
bool makeFigures(const std::string& cgDir);
bool makeInterfacePictures(const std::string& cgDir);
bool makeMusic(const std::string& soundDir);
bool makeEffects(const std::string& soundDir);
