// The pictures around the story: text box, pointer, click icon, choice highlight and title.
#include <cmath>
#include <vector>

#include "demo/assets.h"

namespace {

// A rectangle with round corners, hard-edged (it is keyed against magenta).
void roundRect(Canvas& c, int x0, int y0, int x1, int y1, int r, Colour colour) {
    fillRect(c, x0 + r, y0, x1 - r, y1, colour);
    fillRect(c, x0, y0 + r, x1, y1 - r, colour);
    for (float cx : {float(x0 + r), float(x1 - r)})
        for (float cy : {float(y0 + r), float(y1 - r)})
            fillEllipse(c, cx, cy, r, r, colour, 1, false);
}

// The text box covers the whole screen and is drawn half transparent: a dark panel behind the
// text rectangle (50, 50)-(750, 550), the background showing around it through the key.
Canvas textBox() {
    Canvas c;
    initCanvas(c, 800, 600, kMagenta);
    roundRect(c, 24, 24, 776, 576, 22, {170, 180, 220});
    roundRect(c, 28, 28, 772, 572, 18, {14, 18, 40});
    return c;
}

// The pointer, 40 x 40: a white arrow with a dark rim, its tip at the top-left.
Canvas pointer() {
    Canvas c;
    initCanvas(c, 40, 40, kMagenta);
    const std::vector<float> arrow = {3, 3, 3, 31, 11, 24, 17, 36, 22, 34, 16, 22, 27, 22};
    for (std::size_t i = 0; i < arrow.size(); i += 2) {
        std::size_t j = (i + 2) % arrow.size();
        drawLine(c, arrow[i], arrow[i + 1], arrow[j], arrow[j + 1], 3.5f, {30, 30, 50}, 1, false);
    }
    fillPolygon(c, arrow, {255, 255, 255});
    return c;
}

// The click icon: the engine shows only the top-left quarter-width, half-height part, the
// 32 x 32 cell at (0, 0); the other cells hold the frames of a bobbing arrow.
Canvas clickIcon() {
    Canvas c;
    initCanvas(c, 128, 64, kMagenta);
    for (int frame = 0; frame < 4; ++frame) {
        float x = frame * 32.0f, dy = frame == 0 ? 0 : frame == 1 ? 2 : frame == 2 ? 4 : 2;
        const std::vector<float> tri = {x + 6, 9 + dy, x + 26, 9 + dy, x + 16, 25 + dy};
        for (std::size_t i = 0; i < tri.size(); i += 2) {
            std::size_t j = (i + 2) % tri.size();
            drawLine(c, tri[i], tri[i + 1], tri[j], tri[j + 1], 3, {60, 40, 20}, 1, false);
        }
        fillPolygon(c, tri, {255, 222, 120});
    }
    return c;
}

// The choice highlight: a warm band, brighter in the middle, drawn half transparent.
Canvas choiceBand() {
    Canvas c;
    initCanvas(c, 256, 64, {0, 0, 0});
    for (int y = 0; y < 64; ++y) {
        float edge = 1.0f - std::abs(y - 31.5f) / 32.0f;
        for (int x = 0; x < 256; ++x)
            blendPixel(c, x, y,
                       mix({200, 120, 40}, {255, 230, 150}, edge * (0.6f + 0.4f * x / 255)), 1);
    }
    return c;
}

// The title アマヤドリ in katakana, each glyph a few strokes in a 100 x 100 box.
const std::vector<std::vector<float>> kTitleGlyphs[] = {
    {{12, 18, 88, 18, 60, 46}, {48, 34, 48, 60, 40, 78, 22, 94}},
    {{12, 20, 86, 20, 48, 66}, {36, 52, 70, 86}},
    {{8, 44, 90, 30, 72, 56}, {34, 10, 58, 94}},
    {{36, 8, 36, 94}, {36, 42, 66, 56}, {70, 10, 76, 24}, {84, 6, 90, 20}},
    {{28, 14, 28, 62}, {72, 8, 72, 54, 64, 76, 44, 94}},
};

void drawTitleText(Canvas& c, float x, float y, float size, float stroke, Colour colour) {
    for (const auto& glyph : kTitleGlyphs) {
        for (const auto& s : glyph)
            for (std::size_t i = 0; i + 3 < s.size(); i += 2)
                drawLine(c, x + s[i] * size / 100, y + s[i + 1] * size / 100,
                         x + s[i + 2] * size / 100, y + s[i + 3] * size / 100, stroke, colour);
        x += size * 1.12f;
    }
}

Canvas title() {
    Canvas c;
    initCanvas(c, 800, 600, {0, 0, 0});
    verticalGradient(c, 0, 600, {18, 22, 52}, {80, 60, 96});
    glow(c, 640, 110, 200, {200, 200, 255}, 0.3f);
    fillEllipse(c, 640, 110, 36, 36, {236, 236, 250});
    fillEllipse(c, 400, 700, 640, 220, {24, 30, 40}); // the hill
    fillRect(c, 470, 380, 690, 500, {34, 30, 40});    // the library, one window lit
    fillPolygon(c, {450, 380, 580, 300, 710, 380}, {28, 24, 34});
    glow(c, 530, 430, 80, {255, 200, 120}, 0.5f);
    fillRect(c, 512, 410, 548, 446, {250, 206, 128});
    rain(c, 700, 5, {190, 200, 230}, 0.45f);
    const float size = 104, width = size * 1.12f * 5 - size * 0.12f;
    const float x = (800 - width) / 2, y = 120;
    drawTitleText(c, x + 5, y + 5, size, 13, {10, 10, 20});
    drawTitleText(c, x, y, size, 13, {250, 240, 214});
    drawLine(c, x, y + size + 40, x + width, y + size + 40, 2, {250, 240, 214}, 0.7f);
    for (int k = 0; k < 3; ++k) // three raindrops under the title
        fillEllipse(c, 400 + (k - 1) * 36.0f, y + size + 70, 5, 8, {180, 210, 250});
    return c;
}

} // namespace

bool makeInterfacePictures(const std::string& cgDir) {
    return saveBmp(textBox(), cgDir + "/テキスト背景.bmp") &&
           saveBmp(pointer(), cgDir + "/icon.bmp") && saveBmp(clickIcon(), cgDir + "/click.bmp") &&
           saveBmp(choiceBand(), cgDir + "/選択背景.bmp") && saveBmp(title(), cgDir + "/title.bmp");
}
