#include "engine_fixture.h"

using namespace fixture;

namespace {

// Runs one tag at the start of a fresh page.
void runOne(const std::string& tag) {
    startFromMemory(tag + sj("あ"));
    stepScript();
}

struct LayerPos {
    float x0, y0, x1, y1;
};

LayerPos pos(int layer) {
    const ScreenQuad& q = g_layers[layer].quad;
    return {q.v[0].x, q.v[0].y, q.v[2].x, q.v[2].y};
}

} // namespace

TEST(PictureTags, ImageTagsMoveLayersAndSetTheBackground) {
    resetEngine();
    runOne("[image 3 layer=base left=0 top=0]");
    EXPECT_EQ(currentBackground, 3);
    EXPECT_FALSE(g_layers[0].visible);
    EXPECT_EQ(pos(0).x0, 150.0f);
    EXPECT_EQ(g_script.removedBytes, 33); // cut out and counted

    runOne("[image 1 layer=0 left=150 top=20]");
    EXPECT_TRUE(g_layers[0].visible);
    EXPECT_EQ(g_layers[0].imageNo, 1);
    EXPECT_EQ(pos(0).x0, 150.0f);
    EXPECT_EQ(pos(0).y0, 20.0f);

    runOne("[image 1 layer=0 left=0 top=0]");
    EXPECT_EQ(pos(0).x0, 0.0f);
    EXPECT_EQ(pos(0).y0, 0.0f);
    EXPECT_EQ(pos(0).x1, 559.0f);
    EXPECT_EQ(pos(0).y1, 870.0f);

    runOne("[image 0 layer=4 left=100 top=100]");
    EXPECT_TRUE(g_layers[4].visible);
    EXPECT_EQ(pos(4).x0, pos(4).x1); // never built: no size, nothing seen

    runOne("[image 1 layer=1 left=1234 top=5]");
    EXPECT_EQ(pos(1).x0, 1234.0f);
    EXPECT_EQ(pos(1).y0, 5.0f);

    runOne("[image 12 layer=9 left=000 top=0000000000000000000000000007]");
    EXPECT_EQ(g_layers[9].imageNo, 12);
    EXPECT_EQ(pos(9).y0, 7.0f);
}

TEST(PictureTags, OutOfRangeAndMalformedTagsAreCutOutWithoutEffect) {
    const char* tags[] = {
        "[image 13 layer=0 left=0 top=0]",
        "[image 1 layer=10 left=0 top=0]",
        "[image 10 layer=base left=0 top=0]",
        "[image 1 layer=0 left=0]",
        "[image 1 layer=0 lft=0 top=0]",
        "[image 1  layer=0 left=0 top=0]",
        "[image x layer=0 left=0 top=0]",
        "[image 1 layer=0 left=-5 top=0]",
        "[image 1 layer=0 left=5 top=]",
        "[image]",
        "[image 999999999999999999999999999999 layer=0 left=0 top=0]",
        "[image 1 layer=0 left=0 top=999999999999999999999999999999]",
        "[playse]",
        "[playse 64]",
        "[playse 5x]",
        "[playbgm 1 2]",
        "[playbgm 99999999999999999999]",
    };
    for (const std::string tag : tags) {
        resetEngine();
        const PictureLayer before = g_layers[0];
        runOne(tag);
        EXPECT_EQ(shown(), sj("あ").substr(0, 0)) << tag;
        EXPECT_EQ(g_script.removedBytes, static_cast<int>(tag.size())) << tag;
        EXPECT_EQ(currentBackground, 0) << tag;
        EXPECT_EQ(currentBgm, -1) << tag;
        EXPECT_EQ(g_layers[0].visible, before.visible) << tag;
        EXPECT_EQ(pos(0).x0, 150.0f) << tag;
        for (const PictureLayer& l : g_layers)
            EXPECT_FALSE(l.visible) << tag;
    }
}

TEST(PictureTags, ReadTagNumberPassesOverNonDigits) {
    resetEngine();
    const std::string tag = "[x 1-2a3]";
    std::copy(tag.begin(), tag.end(), g_page.begin());
    int digits = 0;
    EXPECT_EQ(readTagNumber(7, 2, &digits), 123);
    EXPECT_EQ(digits, 3);
    EXPECT_EQ(readTagNumber(1, 2, &digits), 0); // an empty range reads nothing
    EXPECT_EQ(digits, 0);
}

TEST(SoundTags, MusicTagsRecordTheSlotAndStopKeepsIt) {
    resetEngine();
    runOne("[playbgm 1]");
    EXPECT_EQ(currentBgm, 1);
    runOne("[stopbgm]");
    EXPECT_EQ(currentBgm, 1);
    runOne("[playse 50]");
    EXPECT_EQ(currentBgm, 1);
    runOne("[playbgm 0]");
    EXPECT_EQ(currentBgm, 0);
}
