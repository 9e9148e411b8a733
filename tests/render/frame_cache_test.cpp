// Frames drawn only where they changed give, on every renderer, the picture a full redraw gives:
// a sequence of game-like frames (stretched pictures, a half-transparent box, text growing a
// character a frame, the click icon coming and going, the pointer crossing the text, a picture
// replaced) is drawn both ways and compared pixel for pixel, frame by frame.
#include "render_fixture.h"

#include <cmath>

using namespace rendertest;

namespace {

constexpr Rect kTextRect{50, 50, 750, 550};
constexpr Rect kShadowRect{52, 52, 752, 552};

class FrameCache : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!device.ready) GTEST_SKIP() << "no " << GetParam() << " renderer here";
        // Odd sizes, so that every picture is stretched onto its quad.
        writeBmp("bg.bmp", 203, 151,
                 [](int x, int y) { return (x * 3) << 16 | (y * 5) << 8 | 77; });
        writeBmp("bg2.bmp", 97, 61, [](int x, int y) { return (x ^ y) * 0x010203; });
        writeBmp("chara.bmp", 57, 89, [](int x, int y) {
            return (x - 28) * (x - 28) + (y - 44) * (y - 44) < 600 ? 0xFF00FF : 0x20A040 + x;
        });
        writeBmp("box.bmp", 31, 23, [](int x, int) { return 0x101030 + x; });
        writeBmp("icon.bmp", 13, 17, [](int x, int y) { return x > y ? 0xFF00FF : 0xF0F0F0; });
        writeBmp("click.bmp", 37, 19, [](int x, int y) { return x < 9 ? 0xFFE040 - y : 0xFF00FF; });
        ASSERT_EQ(loadTexturePlain("bg.bmp", bg), 0);
        ASSERT_EQ(loadTexturePlain("bg2.bmp", bg2), 0);
        ASSERT_EQ(loadTextureKeyed("chara.bmp", chara), 0);
        ASSERT_EQ(loadTextureKeyed("box.bmp", box), 0);
        ASSERT_EQ(loadTextureKeyed("icon.bmp", icon), 0);
        ASSERT_EQ(loadTextureKeyed("click.bmp", click), 0);
        createTextFont();
        ASSERT_TRUE(fontReady()) << "the IPAGothic font is needed for these tests";
        page = sjis("吾輩は猫である。名前はまだ無い。\nどこで生れたかとんと見当がつかぬ。\n"
                    "何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。");
    }
    void TearDown() override {
        for (Texture** t : {&bg, &bg2, &chara, &box, &icon, &click})
            releaseTexture(*t);
        releaseTextFont();
    }

    // Frame n of the sequence, as the game scene draws it.
    void drawFrame(int n) {
        beginFrame();
        ScreenQuad q;
        buildQuad(q, 255, 0, 0, 800, 600, 0, 0, 64, 64);
        drawQuad(n < 40 ? bg : bg2, q); // the background changes at frame 40
        buildQuad(q, 255, 150, 20, 709, 890, 0, 0, 64, 64);
        drawQuad(chara, q);
        buildQuad(q, 127, 0, 0, 800, 600, 0, 0, 64, 64);
        drawQuad(box, q);
        const int count = std::min<int>(2 * n, static_cast<int>(page.size()));
        drawText(page.data(), count, kShadowRect, 0xFF000000u);
        drawText(page.data(), count, kTextRect, 0xFFFFFFFFu);
        if (n % 9 >= 6) { // waiting for a click: the icon behind the last character
            buildQuad(q, 255, 0, 0, 30, 30, 0, 0, 16, 32);
            translateQuad(q, 60.0f + 28.0f * static_cast<float>(n % 25), 52.0f, 0.0f);
            drawQuad(click, q);
        }
        // The pointer crosses the text diagonally, a few pixels a frame.
        const float x = 40.0f + 7.0f * static_cast<float>(n),
                    y = 30.0f + 3.0f * static_cast<float>(n);
        buildQuad(q, 255, x, y, x + 40, y + 40, 0, 0, 64, 64);
        drawQuad(icon, q);
    }

    std::vector<std::vector<std::uint32_t>> play(bool full) {
        setFullRedraw(full);
        std::vector<std::vector<std::uint32_t>> frames;
        for (int n = 0; n < kFrameCount; ++n) {
            drawFrame(n);
            endFrame();
            frames.push_back(readScreen());
        }
        setFullRedraw(false);
        return frames;
    }

    static constexpr int kFrameCount = 60;
    TempFolder folder;
    Device device{GetParam()};
    Texture *bg = nullptr, *bg2 = nullptr, *chara = nullptr, *box = nullptr, *icon = nullptr,
            *click = nullptr;
    std::vector<std::uint8_t> page;
};

TEST_P(FrameCache, EveryFrameEqualsItsFullRedraw) {
    const auto frugal = play(false);
    const auto full = play(true);
    for (int n = 0; n < kFrameCount; ++n) {
        int differing = 0, firstX = -1, firstY = -1;
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x)
                if (at(frugal[n], x, y) != at(full[n], x, y) && differing++ == 0) {
                    firstX = x;
                    firstY = y;
                }
        EXPECT_EQ(differing, 0) << "frame " << n << ", first at (" << firstX << ", " << firstY
                                << ")";
    }
}

TEST_P(FrameCache, AFrameThatChangesNothingIsNotDrawnAgain) {
    drawFrame(3);
    EXPECT_TRUE(endFrame());
    drawFrame(3);
    EXPECT_FALSE(endFrame()) << "nothing changed, yet the frame was presented";
    drawFrame(4);
    EXPECT_TRUE(endFrame());
    // A texture released right after it was drawn still shows in that frame.
    Texture* gone = nullptr;
    ASSERT_EQ(loadTexturePlain("bg2.bmp", gone), 0);
    beginFrame();
    drawQuad(gone, quadAt(255, 0, 0, 800, 600));
    releaseTexture(gone);
    const auto screen = readScreen();
    EXPECT_NE(at(screen, 400, 300), 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Renderers, FrameCache, ::testing::Values("software", "opengl"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
