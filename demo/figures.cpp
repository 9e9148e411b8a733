// The two character pictures, 560 x 870 on opaque magenta. Their outlines are drawn with hard
// edges so that every pixel is either exactly the key or fully the figure.
#include <cmath>

#include "demo/assets.h"

namespace {

constexpr int kW = 560;
constexpr int kH = 870;
constexpr float kX = kW / 2.0f;
constexpr Colour kSkin{250, 226, 208};
constexpr Colour kSkinShade{232, 196, 178};
constexpr Colour kLine{70, 46, 42};

// An eye; `side` is -1 for the figure's right eye (on the left of the picture), +1 for its left,
// so that the lids fall towards the outer corners and the look stays gentle.
void eye(Canvas& c, float x, float y, Colour iris, float side) {
    fillEllipse(c, x, y, 14, 17, {255, 255, 255});
    fillEllipse(c, x, y + 2, 11, 15, iris);
    fillEllipse(c, x, y + 3, 6, 8, mix(iris, {0, 0, 0}, 0.6f));
    fillEllipse(c, x - 4, y - 5, 4, 4, {255, 255, 255});
    drawLine(c, x - 16, y - 16 + 3 * side, x + 16, y - 16 - 3 * side, 4, kLine);
}

// しおり: a girl in an old-fashioned sailor uniform, long black hair.
Canvas girl() {
    Canvas c;
    initCanvas(c, kW, kH, kMagenta);
    const Colour hair{36, 30, 40}, navy{38, 48, 88}, white{240, 240, 236};
    fillEllipse(c, kX, 200, 118, 130, hair, 1, false); // hair behind the head
    fillPolygon(c, {kX - 118, 200, kX + 118, 200, kX + 130, 470, kX - 130, 470}, hair);
    fillPolygon(c, {kX - 150, 870, kX - 120, 330, kX + 120, 330, kX + 150, 870}, navy); // body
    fillPolygon(c, {kX - 150, 560, kX - 196, 870, kX - 136, 870}, navy);                // arms
    fillPolygon(c, {kX + 150, 560, kX + 196, 870, kX + 136, 870}, navy);
    fillPolygon(c, {kX - 120, 330, kX - 172, 600, kX - 130, 610}, navy);
    fillPolygon(c, {kX + 120, 330, kX + 172, 600, kX + 130, 610}, navy);
    fillEllipse(c, kX - 150, 600, 24, 34, kSkin, 1, false); // hands
    fillEllipse(c, kX + 150, 600, 24, 34, kSkin, 1, false);
    fillRect(c, int(kX - 26), 270, int(kX + 26), 340, kSkinShade);
    fillPolygon(c, {kX - 120, 330, kX, 470, kX + 120, 330, kX + 80, 318, kX, 420, kX - 80, 318},
                white); // the sailor collar
    drawLine(c, kX - 104, 338, kX, 452, 4, navy);
    drawLine(c, kX + 104, 338, kX, 452, 4, navy);
    fillPolygon(c, {kX - 34, 430, kX + 34, 430, kX + 12, 462, kX - 12, 462}, {196, 50, 60});
    fillPolygon(c, {kX - 10, 458, kX + 10, 458, kX + 26, 540, kX - 26, 540}, {196, 50, 60});
    for (int k = -2; k <= 2; ++k) // pleats where the skirt begins
        drawLine(c, kX + k * 50, 700, kX + k * 58, 870, 3, mix(navy, {0, 0, 0}, 0.35f));
    fillRect(c, int(kX - 142), 690, int(kX + 142), 700, mix(navy, {0, 0, 0}, 0.3f));
    fillEllipse(c, kX, 190, 86, 100, kSkin); // face
    fillPolygon(c, {kX - 100, 170, kX - 92, 96, kX - 40,  84,  kX - 26,  140, kX - 6,   92,
                    kX + 20,  142, kX + 40, 96, kX + 96,  110, kX + 100, 176, kX + 118, 110,
                    kX + 60,  64,  kX - 60, 64, kX - 118, 110},
                hair); // fringe
    eye(c, kX - 36, 200, {96, 70, 60}, 1);
    eye(c, kX + 36, 200, {96, 70, 60}, -1);
    fillEllipse(c, kX - 58, 238, 14, 7, {246, 170, 170}, 0.5f);
    fillEllipse(c, kX + 58, 238, 14, 7, {246, 170, 170}, 0.5f);
    drawLine(c, kX - 10, 254, kX + 10, 256, 3, {170, 80, 80});
    fillEllipse(c, kX + 70, 120, 16, 10, {220, 60, 70}); // a hair clip
    return c;
}

// 館長: the old keeper of the library, round glasses, white hair and beard, a waistcoat.
Canvas keeper() {
    Canvas c;
    initCanvas(c, kW, kH, kMagenta);
    const Colour shirt{236, 232, 222}, vest{110, 76, 52}, coat{64, 58, 62}, grey{222, 220, 214};
    fillPolygon(c, {kX - 176, 870, kX - 150, 340, kX + 150, 340, kX + 176, 870}, coat); // body
    fillPolygon(c, {kX - 150, 340, kX - 204, 700, kX - 156, 712}, coat);                // arms
    fillPolygon(c, {kX + 150, 340, kX + 204, 700, kX + 156, 712}, coat);
    fillEllipse(c, kX - 180, 712, 28, 32, kSkinShade, 1, false);
    fillEllipse(c, kX + 180, 712, 28, 32, kSkinShade, 1, false);
    fillPolygon(c, {kX - 96, 340, kX + 96, 340, kX + 110, 870, kX - 110, 870}, vest);
    fillPolygon(c, {kX - 46, 330, kX + 46, 330, kX, 520}, shirt);
    fillPolygon(c, {kX - 30, 352, kX, 366, kX + 30, 352, kX + 30, 384, kX, 370, kX - 30, 384},
                {50, 110, 80}); // bow tie
    for (int k = 0; k < 4; ++k)
        fillEllipse(c, kX, 560 + k * 70.0f, 7, 7, {220, 190, 110});
    fillRect(c, int(kX - 30), 280, int(kX + 30), 350, kSkinShade);
    fillEllipse(c, kX, 190, 92, 106, kSkin, 1, false);    // head
    fillEllipse(c, kX - 92, 190, 30, 52, grey, 1, false); // white hair at the sides
    fillEllipse(c, kX + 92, 190, 30, 52, grey, 1, false);
    fillEllipse(c, kX, 108, 70, 26, grey, 1, false);
    fillPolygon(c, {kX - 80, 230, kX + 80, 230, kX + 60, 320, kX, 352, kX - 60, 320},
                grey); // beard
    fillEllipse(c, kX, 246, 20, 9, {200, 150, 140});
    for (int k = -1; k <= 1; k += 2) { // eyes behind round glasses
        drawLine(c, kX + k * 36 - 12, 196, kX + k * 36 + 12, 199, 4, kLine);
        fillEllipse(c, kX + k * 38, 198, 30, 30, {200, 220, 240}, 0.3f);
        for (int a = 0; a < 48; ++a) {
            float t0 = a * 6.2831853f / 48, t1 = (a + 1) * 6.2831853f / 48;
            drawLine(c, kX + k * 38 + 30 * std::cos(t0), 198 + 30 * std::sin(t0),
                     kX + k * 38 + 30 * std::cos(t1), 198 + 30 * std::sin(t1), 4, {150, 120, 60});
        }
        drawLine(c, kX + k * 56, 166, kX + k * 18, 162, 6, grey);
    }
    drawLine(c, kX - 8, 196, kX + 8, 196, 4, {150, 120, 60});
    return c;
}

} // namespace

bool makeFigures(const std::string& cgDir) {
    return saveBmp(girl(), cgDir + "/立ち絵0.bmp") && saveBmp(keeper(), cgDir + "/立ち絵1.bmp");
}
