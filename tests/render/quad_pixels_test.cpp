// Quads as drawn, read back from the target on each renderer the game may run on: the two differ
// (the software one takes a copy path for plain rectangles), so every case runs on both.
#include "render_fixture.h"

using namespace rendertest;

namespace {

class QuadPixels : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!device.ready) GTEST_SKIP() << "no " << GetParam() << " renderer here";
    }
    TempFolder folder;
    Device device{GetParam()};
};

// Close to the blending formula source x alpha + destination x (1 - alpha): within one step on
// OpenGL; SDL's software blitter truncates twice (source x alpha, then destination x (1 - alpha))
// and so lands up to two steps below.
void expectBlended(std::uint32_t got, std::uint32_t src, std::uint32_t dst, int alpha) {
    const bool software =
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->value_param())
            .find("software") != std::string::npos;
    const double tolerance = software ? 2.0 : 1.0;
    auto mix = [alpha](int s, int d) { return (s * alpha + d * (255 - alpha)) / 255.0; };
    EXPECT_NEAR(red(got), mix(red(src), red(dst)), tolerance) << std::hex << got;
    EXPECT_NEAR(green(got), mix(green(src), green(dst)), tolerance) << std::hex << got;
    EXPECT_NEAR(blue(got), mix(blue(src), blue(dst)), tolerance) << std::hex << got;
}

TEST_P(QuadPixels, EveryFrameStartsOpaqueWhite) {
    beginFrame();
    drawQuad(nullptr, quadAt(255, 0, 0, 800, 600));
    endFrame();
    beginFrame();
    for (std::uint32_t p : readScreen())
        ASSERT_EQ(p, 0xFFFFFFFFu);
}

TEST_P(QuadPixels, OpaqueQuadShowsEveryTexelOfThePicture) {
    // 4 x 2 texels, each its own colour, stretched to 50 x 50 pixels a texel.
    writeBmp("cg/grid.bmp", 4, 2, [](int x, int y) { return 0x102030u * (x + 1) + 0x400000u * y; });
    Texture* tex = nullptr;
    ASSERT_EQ(loadTexturePlain(".\\CG\\grid.bmp", tex), 0);
    beginFrame();
    drawQuad(tex, quadAt(255, 100, 100, 300, 200));
    const auto screen = readScreen();
    for (int ty = 0; ty < 2; ++ty)
        for (int tx = 0; tx < 4; ++tx) {
            const std::uint32_t want = 0xFF000000u | (0x102030u * (tx + 1) + 0x400000u * ty);
            // Corners of each texel's block: nearest sampling, no blur into the neighbours.
            for (int dx : {1, 48})
                for (int dy : {1, 48})
                    EXPECT_EQ(at(screen, 100 + tx * 50 + dx, 100 + ty * 50 + dy), want)
                        << tx << "," << ty;
        }
    EXPECT_EQ(at(screen, 99, 150), 0xFFFFFFFFu);
    EXPECT_EQ(at(screen, 300, 150), 0xFFFFFFFFu);
    EXPECT_EQ(at(screen, 150, 200), 0xFFFFFFFFu);

    // The click icon's coordinates: the top-left quarter-width, half-height part.
    ScreenQuad part;
    buildQuad(part, 255, 400, 400, 440, 420, 0, 0, 16, 32);
    drawQuad(tex, part);
    const auto after = readScreen();
    EXPECT_EQ(at(after, 402, 402), 0xFF102030u);
    EXPECT_EQ(at(after, 437, 417), 0xFF102030u);
    releaseTexture(tex);
}

TEST_P(QuadPixels, HalfTransparentQuadsBlendOverWhatIsDrawn) {
    writeSolidBmp("under.bmp", 8, 8, 0xC8280A);
    writeSolidBmp("over.bmp", 8, 8, 0x0ADC64);
    Texture* under = nullptr;
    Texture* over = nullptr;
    ASSERT_EQ(loadTexturePlain("under.bmp", under), 0);
    ASSERT_EQ(loadTexturePlain("over.bmp", over), 0);
    beginFrame();
    drawQuad(under, quadAt(255, 0, 0, 800, 600));
    drawQuad(over, quadAt(127, 100, 100, 300, 300));    // textured, as the text box
    drawQuad(nullptr, quadAt(127, 400, 100, 600, 300)); // untextured, as a link area
    drawQuad(over, quadAt(255, 100, 400, 300, 500));    // the same texture opaque again
    ScreenQuad skew = quadAt(255, 400, 400, 600, 500);
    skew.v[1].y += 3; // not a plain rectangle: drawn as triangles on every renderer
    drawQuad(over, skew);
    const auto screen = readScreen();
    expectBlended(at(screen, 200, 200), 0x0ADC64, 0xC8280A, 127);
    expectBlended(at(screen, 500, 200), 0xFFFFFF, 0xC8280A, 127);
    // Nothing of the half-transparent draw may linger in the texture's state.
    EXPECT_EQ(at(screen, 200, 450), 0xFF0ADC64u);
    EXPECT_EQ(at(screen, 500, 470), 0xFF0ADC64u);
    EXPECT_EQ(at(screen, 50, 50), 0xFFC8280Au);
    releaseTexture(under);
    releaseTexture(over);
}

TEST_P(QuadPixels, UntexturedQuadDrawsItsVertexColour) {
    writeSolidBmp("under.bmp", 2, 2, 0x204060);
    Texture* under = nullptr;
    ASSERT_EQ(loadTexturePlain("under.bmp", under), 0);
    beginFrame();
    drawQuad(under, quadAt(255, 0, 0, 800, 600));
    drawQuad(nullptr, quadAt(255, 10, 10, 110, 60));
    drawQuad(nullptr, quadAt(0, 200, 10, 300, 60)); // alpha 0 leaves no trace
    const auto screen = readScreen();
    EXPECT_EQ(at(screen, 10, 10), 0xFFFFFFFFu);
    EXPECT_EQ(at(screen, 109, 59), 0xFFFFFFFFu);
    EXPECT_EQ(at(screen, 110, 30), 0xFF204060u);
    EXPECT_EQ(at(screen, 250, 30), 0xFF204060u);
    releaseTexture(under);
}

TEST_P(QuadPixels, MagentaOfAKeyedPictureShowsTheBackground) {
    writeSolidBmp("bg.bmp", 4, 4, 0x0000FF);
    // Left half magenta, right half a colour that 5 bits a channel cannot hold exactly.
    writeBmp("chara.bmp", 4, 4, [](int x, int) { return x < 2 ? 0xFF00FFu : 0x6496C8u; });
    Texture* bg = nullptr;
    Texture* chara = nullptr;
    ASSERT_EQ(loadTexturePlain("bg.bmp", bg), 0);
    ASSERT_EQ(loadTextureKeyed("chara.bmp", chara), 0);
    beginFrame();
    drawQuad(bg, quadAt(255, 0, 0, 800, 600));
    drawQuad(chara, quadAt(255, 100, 100, 300, 300));
    drawQuad(chara, quadAt(127, 400, 100, 600, 300));
    const auto screen = readScreen();
    const std::uint32_t keyed = keyedTexel(0xFF6496C8u);
    EXPECT_NE(keyed, 0xFF6496C8u); // the 16-bit look
    EXPECT_EQ(at(screen, 150, 200), 0xFF0000FFu);
    EXPECT_EQ(at(screen, 250, 200), keyed);
    EXPECT_EQ(at(screen, 450, 200), 0xFF0000FFu); // keyed texels stay invisible at any alpha
    expectBlended(at(screen, 550, 200), keyed, 0x0000FF, 127);
    releaseTexture(bg);
    releaseTexture(chara);
}

TEST_P(QuadPixels, TexturesSurviveTheRendererLosingThem) {
    writeSolidBmp("pic.bmp", 4, 4, 0x336699);
    Texture* pic = nullptr;
    ASSERT_EQ(loadTexturePlain("pic.bmp", pic), 0);
    beginFrame();
    drawQuad(pic, quadAt(255, 0, 0, 400, 600));
    readScreen(); // the picture is on the device now
    SDL_Texture* before = pic->sdl;
    ASSERT_NE(before, nullptr);
    SDL_Event reset{};
    reset.type = SDL_RENDER_DEVICE_RESET;
    EXPECT_TRUE(handleRenderEvent(reset));
    EXPECT_NE(pic->sdl, before);
    resetGraphicsDevice();
    beginFrame();
    drawQuad(pic, quadAt(255, 0, 0, 400, 600));
    drawQuad(pic, quadAt(127, 400, 0, 800, 600));
    const auto screen = readScreen();
    EXPECT_EQ(at(screen, 200, 300), 0xFF336699u);
    expectBlended(at(screen, 600, 300), 0x336699, 0xFFFFFF, 127);
    releaseTexture(pic);
}

INSTANTIATE_TEST_SUITE_P(Renderers, QuadPixels, ::testing::Values("software", "opengl"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
