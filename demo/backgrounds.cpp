// The seven 800 x 600 backgrounds of the demo story.
#include <cmath>

#include "demo/assets.h"

namespace {

constexpr int kW = 800;
constexpr int kH = 600;

// A row of house and building silhouettes along a skyline.
void skyline(Canvas& c, int base, int seed, Colour colour, bool lit) {
    Random rnd{static_cast<std::uint32_t>(seed)};
    for (int x = -20; x < kW;) {
        int w = 40 + static_cast<int>(rnd.unit() * 70), h = 30 + static_cast<int>(rnd.unit() * 90);
        fillRect(c, x, base - h, x + w, base, colour);
        if (rnd.unit() < 0.5f)
            fillPolygon(c,
                        {float(x - 4), float(base - h), float(x + w / 2), float(base - h - 22),
                         float(x + w + 4), float(base - h)},
                        colour);
        if (lit)
            for (int wy = base - h + 12; wy < base - 12; wy += 22)
                for (int wx = x + 8; wx < x + w - 10; wx += 18)
                    if (rnd.unit() < 0.35f)
                        fillRect(c, wx, wy, wx + 8, wy + 10, {250, 210, 130}, 0.9f);
        x += w + 4;
    }
}

// Background 0: a slope at dusk, with rain clouds coming in.
Canvas dusk() {
    Canvas c;
    initCanvas(c, kW, kH, {0, 0, 0});
    verticalGradient(c, 0, 420, {86, 78, 120}, {246, 160, 96});
    fillEllipse(c, 610, 330, 46, 46, {255, 214, 150});
    glow(c, 610, 330, 160, {255, 190, 120}, 0.5f);
    Random rnd{7};
    for (int i = 0; i < 26; ++i) // the clouds gather from the left
        fillEllipse(c, rnd.unit() * 520, 40 + rnd.unit() * 140, 70 + rnd.unit() * 60,
                    20 + rnd.unit() * 16, mix({70, 66, 96}, {120, 104, 130}, rnd.unit()), 0.85f);
    skyline(c, 430, 3, {64, 52, 78}, true);
    fillPolygon(c, {0, 600, 0, 470, 800, 380, 800, 600}, {92, 84, 96});
    fillPolygon(c, {330, 600, 520, 418, 560, 414, 470, 600}, {120, 110, 118});
    for (int i = 0; i < 5; ++i) { // poles and wires up the slope
        float x = 90 + i * 170.0f, ground = 470 - (x / 800) * 90;
        drawLine(c, x, ground, x, ground - 190, 6, {40, 34, 50});
        drawLine(c, x - 22, ground - 170, x + 22, ground - 170, 4, {40, 34, 50});
        if (i < 4) drawLine(c, x, ground - 176, x + 170, ground - 176 - 15, 1.5f, {40, 34, 50});
    }
    return c;
}

// The library front: a gabled house on the hill, lit windows, rain.
void libraryFront(Canvas& c, float cx, float base, float scale, Colour wall) {
    float w = 300 * scale, h = 170 * scale;
    fillRect(c, int(cx - w / 2), int(base - h), int(cx + w / 2), int(base), wall);
    fillPolygon(c,
                {cx - w / 2 - 20 * scale, base - h, cx, base - h - 110 * scale,
                 cx + w / 2 + 20 * scale, base - h},
                mix(wall, {30, 20, 30}, 0.5f));
    fillEllipse(c, cx, base - h - 50 * scale, 22 * scale, 22 * scale, {250, 220, 150});
    for (int k = -1; k <= 1; k += 2)
        for (int row = 0; row < 2; ++row) {
            float wx = cx + k * 95 * scale, wy = base - h + 30 * scale + row * 70 * scale;
            glow(c, wx, wy + 20 * scale, 70 * scale, {255, 200, 120}, 0.35f);
            fillRect(c, int(wx - 26 * scale), int(wy), int(wx + 26 * scale), int(wy + 44 * scale),
                     {250, 206, 128});
            drawLine(c, wx, wy, wx, wy + 44 * scale, 3 * scale, mix(wall, {0, 0, 0}, 0.4f));
        }
    fillRect(c, int(cx - 30 * scale), int(base - 95 * scale), int(cx + 30 * scale), int(base),
             {88, 52, 40});
    fillEllipse(c, cx, base - 95 * scale, 30 * scale, 26 * scale, {88, 52, 40});
    fillEllipse(c, cx + 18 * scale, base - 48 * scale, 4 * scale, 4 * scale, {230, 200, 110});
}

// Background 1: the library on the hill in the rain.
Canvas libraryOutside() {
    Canvas c;
    initCanvas(c, kW, kH, {0, 0, 0});
    verticalGradient(c, 0, 600, {44, 52, 74}, {92, 100, 118});
    fillEllipse(c, 400, 640, 620, 190, {50, 62, 58});
    for (int i = 0; i < 9; ++i) // trees around the house
        fillEllipse(c, 60 + i * 90.0f + (i > 4 ? 120 : 0), 430 - (i % 3) * 18.0f, 60, 90,
                    {34, 48, 46});
    libraryFront(c, 400, 470, 1.0f, {150, 120, 104});
    fillPolygon(c, {350, 600, 375, 470, 425, 470, 450, 600}, {120, 112, 104});
    rain(c, 900, 11, {200, 210, 230}, 0.55f);
    return c;
}

// Rows of books on a shelf between x0 and x1.
void bookshelf(Canvas& c, int x0, int x1, int top, int bottom, unsigned seed, float light) {
    const Colour spines[] = {{140, 52, 48},  {52, 84, 120}, {60, 104, 70},
                             {160, 130, 70}, {96, 64, 100}, {180, 160, 130}};
    fillRect(c, x0, top, x1, bottom, mix({40, 24, 16}, {92, 60, 38}, light));
    Random rnd{seed};
    for (int shelf = top + 12; shelf + 70 < bottom; shelf += 86) {
        for (int x = x0 + 8; x < x1 - 16;) {
            int w = 9 + static_cast<int>(rnd.unit() * 12),
                h = 48 + static_cast<int>(rnd.unit() * 22);
            Colour spine = mix({20, 14, 10}, spines[rnd.next() % 6], 0.35f + 0.65f * light);
            fillRect(c, x, shelf + 70 - h, x + w, shelf + 70, spine);
            fillRect(c, x + 2, shelf + 74 - h, x + w - 2, shelf + 77 - h,
                     mix(spine, {240, 220, 160}, 0.4f));
            x += w + 1;
        }
        fillRect(c, x0, shelf + 70, x1, shelf + 78, mix({30, 18, 12}, {120, 84, 52}, light));
    }
}

// Background 2: inside the library, warm light, shelves and a rainy window.
Canvas libraryInside() {
    Canvas c;
    initCanvas(c, kW, kH, {0, 0, 0});
    verticalGradient(c, 0, 460, {120, 86, 60}, {170, 128, 86});
    fillRect(c, 330, 70, 470, 300, {70, 86, 110});
    Random rnd{100};
    for (int i = 0; i < 70; ++i) { // rain on the window
        float x = 330 + rnd.unit() * 140, y = 70 + rnd.unit() * 210;
        drawLine(c, x, y, x - 3, y + 18, 1.2f, {190, 200, 220}, 0.6f);
    }
    fillRect(c, 396, 70, 404, 300, {90, 60, 40});
    fillRect(c, 330, 180, 470, 188, {90, 60, 40});
    fillRect(c, 320, 296, 480, 310, {110, 76, 50});
    bookshelf(c, 20, 300, 40, 470, 5, 0.9f);
    bookshelf(c, 500, 780, 40, 470, 6, 0.9f);
    verticalGradient(c, 460, 600, {120, 80, 50}, {84, 54, 34});
    for (int y = 470; y < 600; y += 26)
        fillRect(c, 0, y, 800, y + 2, {70, 44, 28});
    glow(c, 400, 120, 260, {255, 220, 160}, 0.25f);
    return c;
}

// Background 3: the reading room at night, one lamp on a long table.
Canvas readingRoom() {
    Canvas c;
    initCanvas(c, kW, kH, {0, 0, 0});
    verticalGradient(c, 0, 420, {22, 20, 30}, {44, 36, 40});
    bookshelf(c, 0, 800, 10, 400, 9, 0.25f);
    verticalGradient(c, 420, 600, {34, 26, 24}, {20, 16, 16});
    fillPolygon(c, {60, 600, 200, 430, 600, 430, 740, 600}, {84, 54, 36});
    fillPolygon(c, {200, 430, 600, 430, 604, 440, 196, 440}, {110, 74, 48});
    glow(c, 430, 380, 330, {255, 200, 120}, 0.55f);
    drawLine(c, 430, 420, 430, 330, 6, {60, 50, 40});
    fillPolygon(c, {392, 340, 468, 340, 452, 300, 408, 300}, {60, 110, 80});
    fillEllipse(c, 430, 343, 30, 6, {255, 236, 180});
    fillRect(c, 300, 470, 380, 486, {230, 220, 196}); // an open book on the table
    fillRect(c, 382, 470, 462, 486, {236, 226, 204});
    drawLine(c, 381, 468, 381, 488, 2, {120, 100, 80});
    return c;
}

// Background 5: the clock tower's top under the stars after the rain.
Canvas starTower() {
    Canvas c;
    initCanvas(c, kW, kH, {0, 0, 0});
    verticalGradient(c, 0, 600, {8, 12, 40}, {40, 54, 96});
    Random rnd{21};
    for (int i = 0; i < 260; ++i) {
        float x = rnd.unit() * kW, y = rnd.unit() * 460, s = rnd.unit();
        fillEllipse(c, x, y, 0.6f + s * 1.4f, 0.6f + s * 1.4f, {255, 250, 230}, 0.4f + 0.6f * s);
        if (s > 0.93f) glow(c, x, y, 14, {200, 220, 255}, 0.5f);
    }
    fillEllipse(c, 150, 110, 38, 38, {250, 246, 220});
    fillEllipse(c, 166, 100, 34, 34, {14, 20, 50}); // a crescent
    glow(c, 150, 110, 120, {200, 210, 255}, 0.2f);
    fillPolygon(c, {430, 600, 470, 330, 690, 330, 730, 600}, {30, 30, 44});
    fillPolygon(c, {450, 330, 580, 220, 710, 330}, {24, 24, 36});
    fillEllipse(c, 580, 400, 62, 62, {230, 224, 190});
    fillEllipse(c, 580, 400, 54, 54, {250, 246, 226});
    for (int h = 0; h < 12; ++h) {
        float a = h * 3.14159265f / 6;
        drawLine(c, 580 + 44 * std::sin(a), 400 - 44 * std::cos(a), 580 + 50 * std::sin(a),
                 400 - 50 * std::cos(a), 3, {60, 50, 40});
    }
    drawLine(c, 580, 400, 580, 360, 5, {40, 34, 30});
    drawLine(c, 580, 400, 610, 412, 5, {40, 34, 30});
    fillRect(c, 0, 560, 800, 600, {20, 20, 30});
    return c;
}

// Background 6: the sea in the morning.
Canvas morningSea() {
    Canvas c;
    initCanvas(c, kW, kH, {0, 0, 0});
    verticalGradient(c, 0, 330, {120, 170, 220}, {250, 214, 170});
    fillEllipse(c, 520, 318, 40, 40, {255, 244, 210});
    glow(c, 520, 318, 220, {255, 220, 170}, 0.45f);
    verticalGradient(c, 330, 480, {90, 130, 170}, {60, 110, 150});
    Random rnd{33};
    for (int i = 0; i < 160; ++i) { // light on the water
        float y = 334 + rnd.unit() * 140, spread = (y - 330) * 0.9f + 10;
        float x = 520 + (rnd.unit() - 0.5f) * spread * 2;
        drawLine(c, x - 12, y, x + 12, y, 2, {255, 236, 200}, 0.35f + 0.4f * rnd.unit());
    }
    fillPolygon(c, {0, 600, 0, 470, 260, 492, 520, 478, 800, 500, 800, 600}, {226, 206, 170});
    fillPolygon(c, {0, 470, 260, 492, 520, 478, 800, 500, 800, 508, 520, 486, 260, 500, 0, 478},
                {250, 250, 244}, 0.7f);
    for (int i = 0; i < 3; ++i) { // gulls
        float x = 200 + i * 70.0f, y = 120 + (i % 2) * 30.0f;
        drawLine(c, x - 14, y - 6, x, y, 2.5f, {70, 70, 90});
        drawLine(c, x, y, x + 14, y - 6, 2.5f, {70, 70, 90});
    }
    return c;
}

// Background 7: a road at night in the rain, one street lamp.
Canvas rainyNight() {
    Canvas c;
    initCanvas(c, kW, kH, {0, 0, 0});
    verticalGradient(c, 0, 420, {14, 16, 26}, {30, 34, 48});
    skyline(c, 420, 17, {18, 18, 26}, true);
    verticalGradient(c, 420, 600, {28, 30, 40}, {12, 14, 20});
    fillPolygon(c, {260, 600, 380, 420, 420, 420, 540, 600}, {40, 42, 54});
    drawLine(c, 620, 600, 620, 190, 8, {30, 30, 36});
    drawLine(c, 620, 196, 580, 180, 6, {30, 30, 36});
    fillEllipse(c, 572, 186, 16, 9, {255, 236, 190});
    glow(c, 572, 200, 200, {255, 220, 160}, 0.35f);
    fillPolygon(c, {560, 192, 586, 192, 680, 600, 460, 600}, {255, 226, 170}, 0.12f);
    Random rnd{44};
    for (int i = 0; i < 40; ++i) { // reflections on the wet road
        float x = 480 + rnd.unit() * 180, y = 460 + rnd.unit() * 140;
        drawLine(c, x, y, x + 10 + rnd.unit() * 20, y, 2, {255, 220, 160}, 0.25f);
    }
    rain(c, 1100, 45, {180, 190, 220}, 0.5f);
    return c;
}

} // namespace

bool makeBackgrounds(const std::string& cgDir) {
    struct Entry {
        int number;
        Canvas (*draw)();
    };
    const Entry entries[] = {{0, dusk},        {1, libraryOutside}, {2, libraryInside},
                             {3, readingRoom}, {5, starTower},      {6, morningSea},
                             {7, rainyNight}};
    for (const Entry& e : entries)
        if (!saveBmp(e.draw(), cgDir + "/背景" + std::to_string(e.number) + ".bmp")) return false;
    return true;
}
