#include <algorithm>
#include <cmath>
#include <cstdio>

#include "demo/assets.h"

Colour mix(Colour a, Colour b, float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    auto m = [t](std::uint8_t x, std::uint8_t y) {
        return static_cast<std::uint8_t>(std::lround(x + (y - x) * t));
    };
    return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

std::uint32_t Random::next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

float Random::unit() {
    return static_cast<float>(next() & 0xFFFF) / 65535.0f;
}

void initCanvas(Canvas& c, int width, int height, Colour fill) {
    c.width = width;
    c.height = height;
    c.pixels.assign(static_cast<std::size_t>(width) * height, fill);
}

void blendPixel(Canvas& c, int x, int y, Colour colour, float alpha) {
    if (x < 0 || y < 0 || x >= c.width || y >= c.height || alpha <= 0.0f) return;
    Colour& p = c.pixels[static_cast<std::size_t>(y) * c.width + x];
    p = alpha >= 1.0f ? colour : mix(p, colour, alpha);
}

void verticalGradient(Canvas& c, int y0, int y1, Colour top, Colour bottom) {
    for (int y = std::max(0, y0); y < std::min(c.height, y1); ++y) {
        Colour row = mix(top, bottom, static_cast<float>(y - y0) / std::max(1, y1 - y0 - 1));
        for (int x = 0; x < c.width; ++x)
            c.pixels[static_cast<std::size_t>(y) * c.width + x] = row;
    }
}

void fillRect(Canvas& c, int x0, int y0, int x1, int y1, Colour colour, float alpha) {
    for (int y = std::max(0, y0); y < std::min(c.height, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(c.width, x1); ++x)
            blendPixel(c, x, y, colour, alpha);
}

void fillEllipse(Canvas& c, float cx, float cy, float rx, float ry, Colour colour, float alpha,
                 bool smooth) {
    int x0 = static_cast<int>(std::floor(cx - rx - 1)),
        x1 = static_cast<int>(std::ceil(cx + rx + 1));
    int y0 = static_cast<int>(std::floor(cy - ry - 1)),
        y1 = static_cast<int>(std::ceil(cy + ry + 1));
    float r = std::min(rx, ry);
    for (int y = std::max(0, y0); y <= std::min(c.height - 1, y1); ++y)
        for (int x = std::max(0, x0); x <= std::min(c.width - 1, x1); ++x) {
            float dx = (x + 0.5f - cx) / rx, dy = (y + 0.5f - cy) / ry;
            float d = (std::sqrt(dx * dx + dy * dy) - 1.0f) * r; // about pixels outside the edge
            float cover = smooth ? std::clamp(0.5f - d, 0.0f, 1.0f) : (d <= 0.0f ? 1.0f : 0.0f);
            blendPixel(c, x, y, colour, alpha * cover);
        }
}

void fillPolygon(Canvas& c, const std::vector<float>& xy, Colour colour, float alpha) {
    std::size_t n = xy.size() / 2;
    if (n < 3) return;
    float minY = xy[1], maxY = xy[1];
    for (std::size_t i = 0; i < n; ++i) {
        minY = std::min(minY, xy[2 * i + 1]);
        maxY = std::max(maxY, xy[2 * i + 1]);
    }
    std::vector<float> crossings;
    for (int y = std::max(0, static_cast<int>(minY));
         y <= std::min(c.height - 1, static_cast<int>(maxY)); ++y) {
        float sy = y + 0.5f;
        crossings.clear();
        for (std::size_t i = 0; i < n; ++i) {
            float ax = xy[2 * i], ay = xy[2 * i + 1];
            float bx = xy[2 * ((i + 1) % n)], by = xy[2 * ((i + 1) % n) + 1];
            if ((ay <= sy) != (by <= sy))
                crossings.push_back(ax + (sy - ay) / (by - ay) * (bx - ax));
        }
        std::sort(crossings.begin(), crossings.end());
        for (std::size_t k = 0; k + 1 < crossings.size(); k += 2)
            for (int x = static_cast<int>(std::ceil(crossings[k] - 0.5f));
                 x < static_cast<int>(std::ceil(crossings[k + 1] - 0.5f)); ++x)
                blendPixel(c, x, y, colour, alpha);
    }
}

void drawLine(Canvas& c, float x0, float y0, float x1, float y1, float width, Colour colour,
              float alpha, bool smooth) {
    float h = width / 2;
    int bx0 = static_cast<int>(std::min(x0, x1) - h - 1),
        bx1 = static_cast<int>(std::max(x0, x1) + h + 1);
    int by0 = static_cast<int>(std::min(y0, y1) - h - 1),
        by1 = static_cast<int>(std::max(y0, y1) + h + 1);
    float dx = x1 - x0, dy = y1 - y0, len2 = std::max(dx * dx + dy * dy, 1e-6f);
    for (int y = std::max(0, by0); y <= std::min(c.height - 1, by1); ++y)
        for (int x = std::max(0, bx0); x <= std::min(c.width - 1, bx1); ++x) {
            float px = x + 0.5f - x0, py = y + 0.5f - y0;
            float t = std::clamp((px * dx + py * dy) / len2, 0.0f, 1.0f);
            float ex = px - t * dx, ey = py - t * dy;
            float d = std::sqrt(ex * ex + ey * ey) - h;
            float cover = smooth ? std::clamp(0.5f - d, 0.0f, 1.0f) : (d <= 0.0f ? 1.0f : 0.0f);
            blendPixel(c, x, y, colour, alpha * cover);
        }
}

void glow(Canvas& c, float cx, float cy, float radius, Colour colour, float alpha) {
    for (int y = std::max(0, static_cast<int>(cy - radius));
         y < std::min(c.height, static_cast<int>(cy + radius)); ++y)
        for (int x = std::max(0, static_cast<int>(cx - radius));
             x < std::min(c.width, static_cast<int>(cx + radius)); ++x) {
            float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy) / radius;
            if (d < 1.0f) blendPixel(c, x, y, colour, alpha * (1.0f - d) * (1.0f - d));
        }
}

void rain(Canvas& c, int count, unsigned seed, Colour colour, float alpha) {
    Random rnd{seed};
    for (int i = 0; i < count; ++i) {
        float x = rnd.unit() * (c.width + 60), y = rnd.unit() * c.height;
        float len = 14 + rnd.unit() * 22;
        drawLine(c, x, y, x - len * 0.25f, y + len, 1.2f, colour,
                 alpha * (0.5f + 0.5f * rnd.unit()));
    }
}

bool saveBmp(const Canvas& c, const std::string& path) {
    const int rowBytes = (c.width * 3 + 3) & ~3;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(rowBytes) * c.height;
    std::vector<std::uint8_t> file(54 + dataSize, 0);
    auto put32 = [&](int at, std::uint32_t v) {
        for (int k = 0; k < 4; ++k)
            file[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, 54 + dataSize);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(c.width));
    put32(22, static_cast<std::uint32_t>(c.height)); // positive: rows bottom-up
    file[26] = 1;
    file[28] = 24;
    put32(34, dataSize);
    put32(38, 2835); // 72 dpi
    put32(42, 2835);
    for (int y = 0; y < c.height; ++y) {
        std::uint8_t* row = &file[54 + static_cast<std::size_t>(c.height - 1 - y) * rowBytes];
        for (int x = 0; x < c.width; ++x) {
            const Colour& p = c.pixels[static_cast<std::size_t>(y) * c.width + x];
            row[3 * x] = p.b;
            row[3 * x + 1] = p.g;
            row[3 * x + 2] = p.r;
        }
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}
