// Page text as drawn: placement on the 14/28 x 35 grid, clipping, colour, and the glyph cache.
#include "render_fixture.h"

#include <array>

using namespace rendertest;

namespace {

constexpr Rect kTextRect{50, 50, 750, 550};
constexpr Rect kShadowRect{52, 52, 752, 552};
constexpr std::uint32_t kBackground = 0xFF0000FFu;

class TextPixels : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!device.ready) GTEST_SKIP() << "no " << GetParam() << " renderer here";
        writeSolidBmp("bg.bmp", 2, 2, kBackground & 0xFFFFFF);
        ASSERT_EQ(loadTexturePlain("bg.bmp", background), 0);
        createTextFont();
        ASSERT_TRUE(fontReady()) << "the IPAGothic font is needed for these tests";
    }
    void TearDown() override {
        releaseTexture(background);
        releaseTextFont();
    }

    // A frame of the background with some text on it.
    std::vector<std::uint32_t> frameWith(const std::vector<std::uint8_t>& text, const Rect& rect,
                                         std::uint32_t colour = 0xFFFFFFFFu) {
        return frameWith(text, static_cast<int>(text.size()), rect, colour);
    }
    std::vector<std::uint32_t> frameWith(const std::vector<std::uint8_t>& text, int count,
                                         const Rect& rect, std::uint32_t colour = 0xFFFFFFFFu) {
        beginFrame();
        drawQuad(background, quadAt(255, 0, 0, 800, 600));
        drawText(text.data(), count, rect, colour);
        return readScreen();
    }

    TempFolder folder;
    Device device{GetParam()};
    Texture* background = nullptr;
};

// The bounding box of every pixel that is not the background; empty (left > right) if none.
Rect inkBox(const std::vector<std::uint32_t>& screen) {
    Rect box{800, 600, -1, -1};
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            if (at(screen, x, y) != kBackground) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

int countPixels(const std::vector<std::uint32_t>& screen, std::uint32_t colour) {
    int n = 0;
    for (std::uint32_t p : screen)
        n += p == colour;
    return n;
}

TEST_P(TextPixels, ShadowLiesTwoPixelsRightAndBelowTheWhiteText) {
    const auto page = sjis("あいうえお漢字\nかきくけこ");
    const auto white = frameWith(page, kTextRect, 0xFFFFFFFFu);
    const auto black = frameWith(page, kShadowRect, 0xFF000000u);
    EXPECT_GT(countPixels(white, 0xFFFFFFFFu), 100);
    EXPECT_GT(countPixels(black, 0xFF000000u), 100);
    const Rect box = inkBox(white);
    EXPECT_GE(box.left, kTextRect.left);
    EXPECT_GE(box.top, kTextRect.top);
    EXPECT_LT(box.bottom, kTextRect.top + 2 * 35); // two lines
    EXPECT_LT(box.right, kTextRect.left + 7 * 28); // seven characters on the longest
    for (int y = 0; y + 2 < 600; ++y)
        for (int x = 0; x + 2 < 800; ++x)
            ASSERT_EQ(at(white, x, y) == kBackground, at(black, x + 2, y + 2) == kBackground)
                << x << "," << y;

    // Both together, as the game draws them: black shows where only the shadow falls.
    beginFrame();
    drawQuad(background, quadAt(255, 0, 0, 800, 600));
    drawText(page.data(), static_cast<int>(page.size()), kShadowRect, 0xFF000000u);
    drawText(page.data(), static_cast<int>(page.size()), kTextRect, 0xFFFFFFFFu);
    const auto both = readScreen();
    EXPECT_GT(countPixels(both, 0xFF000000u), 0);
    EXPECT_GT(countPixels(both, 0xFFFFFFFFu), 0);
}

// The face fills the grid's 35-pixel lines, squeezed sideways into its cells: a kanji's ink is
// nearly a line high and at most a cell wide; kana and a narrow letter keep to their cells.
// The sizes are IPAGothic's, within a pixel.
TEST_P(TextPixels, GlyphsFillTheirTallNarrowCells) {
    struct Case {
        const char* text;
        int cellWidth;
        int width, height; // of the ink
    };
    const Case cases[] = {
        {"漢", 28, 26, 32},
        {"語", 28, 26, 30},
        {"あ", 28, 23, 30},
        {"M", 14, 12, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Rect box = inkBox(frameWith(sjis(c.text), kTextRect));
        EXPECT_NEAR(box.right - box.left + 1, c.width, 1);
        EXPECT_NEAR(box.bottom - box.top + 1, c.height, 1);
        EXPECT_GE(box.left, kTextRect.left);
        EXPECT_LT(box.right, kTextRect.left + c.cellWidth);
        EXPECT_GE(box.top, kTextRect.top);
        EXPECT_LT(box.bottom, kTextRect.top + 35);
    }
}

TEST_P(TextPixels, TextIsCutAtTheRectangle) {
    // 30 characters on a line that holds 25; a rectangle shorter than one line.
    std::string line;
    for (int i = 0; i < 30; ++i)
        line += "漢";
    const auto wide = frameWith(sjis(line), kTextRect);
    const Rect box = inkBox(wide);
    EXPECT_LT(box.right, kTextRect.right);
    EXPECT_GE(box.right, kTextRect.right - 4); // the 25th character reaches the edge
    const Rect low{100, 100, 400, 115};
    const Rect cut = inkBox(frameWith(sjis("漢字"), low));
    EXPECT_LT(cut.bottom, low.bottom);
    EXPECT_GE(cut.bottom, low.bottom - 2);
    EXPECT_GE(cut.top, low.top);
    // A rectangle wholly off the text's way draws nothing at all.
    EXPECT_LT(inkBox(frameWith(sjis("漢字"), Rect{300, 300, 300, 400})).right, 0);
}

TEST_P(TextPixels, TextTakesTheGivenColour) {
    const auto screen = frameWith(sjis("漢字かな"), kTextRect, 0xFFFF0000u);
    EXPECT_GT(countPixels(screen, 0xFFFF0000u), 50);
    for (std::uint32_t p : screen)
        ASSERT_TRUE(p == kBackground || (green(p) == 0 && red(p) + blue(p) >= 250))
            << std::hex << p;
}

// Each pair must draw the same picture: the grid of 14- and 28-pixel cells, the line feed, the
// zero bytes that take no room, and characters cut off by the count.
struct SameDrawing {
    const char* what;
    std::vector<std::uint8_t> text;
    int count; // -1: the whole text
    std::vector<std::pair<std::vector<std::uint8_t>, Rect>> parts;
};

TEST_P(TextPixels, LayoutFollowsTheGrid) {
    const Rect r = kTextRect;
    const auto a = sjis("あ");
    const auto i = sjis("い");
    auto with = [](std::vector<std::uint8_t> v, std::initializer_list<std::uint8_t> tail) {
        v.insert(v.end(), tail);
        return v;
    };
    std::vector<std::uint8_t> zeros{0, 0};
    zeros.insert(zeros.end(), a.begin(), a.end());
    const std::vector<SameDrawing> cases = {
        {"zero bytes take no room", zeros, -1, {{a, r}}},
        {"a cut-off second byte is dropped", with(a, {0x82}), -1, {{a, r}}},
        {"the count ends the text", sjis("あいう"), 5, {{sjis("あい"), r}}},
        {"a single-byte cell is 14 wide",
         sjis("Aあ"),
         -1,
         {{sjis("A"), r}, {a, Rect{r.left + 14, r.top, r.right, r.bottom}}}},
        {"a double-byte cell is 28 wide",
         sjis("漢あ"),
         -1,
         {{sjis("漢"), r}, {a, Rect{r.left + 28, r.top, r.right, r.bottom}}}},
        {"a line feed starts a line 35 lower",
         with(a, {'\n', i[0], i[1]}),
         -1,
         {{a, r}, {i, Rect{r.left, r.top + 35, r.right, r.bottom}}}},
        {"a stray lead byte leaves one narrow cell",
         with({0x82, '\n'}, {a[0], a[1]}),
         -1,
         {{a, Rect{r.left, r.top + 35, r.right, r.bottom}}}},
    };
    for (const SameDrawing& c : cases) {
        const int count = c.count < 0 ? static_cast<int>(c.text.size()) : c.count;
        const auto got = frameWith(c.text, count, r);
        beginFrame();
        drawQuad(background, quadAt(255, 0, 0, 800, 600));
        for (const auto& [part, rect] : c.parts)
            drawText(part.data(), static_cast<int>(part.size()), rect, 0xFFFFFFFFu);
        const auto want = readScreen();
        EXPECT_GT(countPixels(want, 0xFFFFFFFFu), 0) << c.what;
        EXPECT_TRUE(got == want) << c.what;
    }
}

TEST_P(TextPixels, APageIsRasterisedOnce) {
    const auto page = sjis("吾輩は猫である。名前はまだ無い。\nどこで生れたかとんと見当がつかぬ。");
    frameWith(page, kTextRect);
    const int first = textGlyphsRasterised();
    EXPECT_GT(first, 0);
    const auto again = frameWith(page, kTextRect);
    EXPECT_EQ(textGlyphsRasterised(), first);
    // The cache outlives a device reset: the atlas comes back with its glyphs.
    SDL_Event reset{};
    reset.type = SDL_RENDER_DEVICE_RESET;
    handleRenderEvent(reset);
    EXPECT_TRUE(frameWith(page, kTextRect) == again);
    EXPECT_EQ(textGlyphsRasterised(), first);
}

TEST_P(TextPixels, AFullGlyphCacheStartsOverWithoutSpoilingThePage) {
    const auto page = sjis("吾輩は猫である。名前はまだ無い。");
    const auto before = frameWith(page, kTextRect);
    const int first = textGlyphsRasterised();
    // More distinct characters than the cache holds: 1200 double-byte codes of the kanji rows.
    beginFrame();
    int drawn = 0;
    for (std::uint8_t lead = 0x89; lead <= 0x97 && drawn < 1200; ++lead)
        for (int trail = 0x40; trail <= 0xFC && drawn < 1200; ++trail) {
            if (trail == 0x7F) continue;
            const std::uint8_t ch[2] = {lead, static_cast<std::uint8_t>(trail)};
            drawText(ch, 2, kTextRect, 0xFFFFFFFFu);
            ++drawn;
        }
    const int flooded = textGlyphsRasterised();
    EXPECT_GT(flooded - first, 1100);
    EXPECT_TRUE(frameWith(page, kTextRect) == before);
    EXPECT_GT(textGlyphsRasterised(), flooded); // the page's glyphs had been pushed out
}

INSTANTIATE_TEST_SUITE_P(Renderers, TextPixels, ::testing::Values("software", "opengl"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
