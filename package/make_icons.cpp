// Draws the program's menu icon at the sizes of the hicolor icon theme:
//   make_icons OUT_DIR
// writes OUT_DIR/<N>x<N>/apps/tolvane.png for each size (the folders are made). Each size is
// drawn for itself rather than scaled, so the small ones stay sharp.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/assets.h"

namespace {

// Coverage of the icon's rounded square at pixel (x, y), with one pixel of soft edge.
float roundedSquareAlpha(int size, int x, int y) {
    const float r = size * 0.18f, inset = size * 0.04f;
    const float lo = inset + r, hi = size - inset - r;
    const float px = x + 0.5f, py = y + 0.5f;
    const float dx = std::max({lo - px, 0.0f, px - hi});
    const float dy = std::max({lo - py, 0.0f, py - hi});
    const float outside = std::sqrt(dx * dx + dy * dy) - r;
    return std::clamp(0.5f - outside, 0.0f, 1.0f);
}

// The title screen in small: rain at dusk over a lit window, and the text box with its click
// triangle.
void drawIcon(Canvas& c) {
    const float s = static_cast<float>(c.width);
    initCanvas(c, c.width, c.height, {24, 28, 64});
    verticalGradient(c, 0, c.height, {40, 36, 92}, {18, 40, 72});
    glow(c, s * 0.66f, s * 0.32f, s * 0.34f, {255, 214, 150}, 0.55f);
    fillRect(c, static_cast<int>(s * 0.56f), static_cast<int>(s * 0.2f),
             static_cast<int>(s * 0.76f), static_cast<int>(s * 0.44f), {255, 226, 160});
    if (c.width >= 48) rain(c, c.width / 3, 7, {190, 210, 240}, 0.5f);
    fillRect(c, static_cast<int>(s * 0.1f), static_cast<int>(s * 0.6f), static_cast<int>(s * 0.9f),
             static_cast<int>(s * 0.86f), {250, 250, 255}, 0.8f);
    if (c.width >= 32)
        for (int line = 0; line < 2; ++line) {
            const float y = s * (0.67f + line * 0.09f);
            drawLine(c, s * 0.18f, y, s * (line ? 0.5f : 0.7f), y, std::max(1.0f, s * 0.035f),
                     {60, 60, 90});
        }
    fillPolygon(c, {s * 0.74f, s * 0.75f, s * 0.82f, s * 0.75f, s * 0.78f, s * 0.81f},
                {220, 60, 60});
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int k = 3; k >= 0; --k)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

void chunk(std::vector<std::uint8_t>& png, const char* type,
           const std::vector<std::uint8_t>& data) {
    put32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put32(png, static_cast<std::uint32_t>(
                   crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
}

// An 8-bit RGBA PNG: the picture, with the rounded square's coverage as its alpha.
bool savePng(const Canvas& c, const std::string& path) {
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < c.height; ++y) {
        raw.push_back(0); // no row filter
        for (int x = 0; x < c.width; ++x) {
            const Colour p = c.pixels[static_cast<std::size_t>(y) * c.width + x];
            const float a = roundedSquareAlpha(c.width, x, y);
            raw.insert(raw.end(), {p.r, p.g, p.b, static_cast<std::uint8_t>(std::lround(a * 255))});
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) !=
        Z_OK)
        return false;
    packed.resize(packedSize);

    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(c.width));
    put32(header, static_cast<std::uint32_t>(c.height));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter, no interlace
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", {});

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons OUT_DIR\n");
        return 2;
    }
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const std::string dir = std::string(argv[1]) + "/" + std::to_string(size) + "x" +
                                std::to_string(size) + "/apps";
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        Canvas c;
        initCanvas(c, size, size, {0, 0, 0});
        drawIcon(c);
        if (ec || !savePng(c, dir + "/tolvane.png")) {
            std::fprintf(stderr, "make_icons: cannot write %s/tolvane.png\n", dir.c_str());
            return 1;
        }
    }
    return 0;
}
