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

// What the engine does with tags written loosely: numbers are their field's digits, other bytes
// passed over, and each key is looked for where the field before it ends; a key that is not
// the expected one reads as 0 with a one-byte value.
TEST(PictureTags, SloppyTagsActAsTheirFieldsRead) {
    struct Case {
        const char* tag;
        int background; // -1: the tag shows a picture on a layer
        int layer, picture;
        float x, y;
    };
    const Case cases[] = {
        {"[image 3 layer=base]", 3, 0, 0, 0, 0},
        {"[image 3x layer=base left=0 top=0]", -1, 0, 3, 0, 0}, // the key is read from the space
        {"[image 2x layer=1 left=10 top=20]", -1, 0, 2, 10, 20},
        {"[image 1 layr=1 left=10 top=20]", -1, 0, 1, 10, 20},
        {"[image 1 layer=1 lft=10 top=20]", -1, 1, 1, 0, 0}, // top= is looked for inside "10 top"
        {"[image 1 layer=1 lft=1 top=20]", -1, 1, 1, 0, 20},
        {"[image 1 layer=0 left=-5 top=7]", -1, 0, 1, 5, 0}, // the sign shifts where top= is
        {"[image 1 layer=0 left=1,000 top=20]", -1, 0, 1, 1000, 0},
        {"[image 0  layer=base left=0 top=0]", -1, 0, 0, 0, 0},
        {"[image 1 layer=1 left=30 top=4 ]", -1, 1, 1, 30, 4},
    };
    for (const Case& c : cases) {
        resetEngine();
        runOne(c.tag);
        EXPECT_EQ(g_script.removedBytes, static_cast<int>(std::string(c.tag).size())) << c.tag;
        EXPECT_TRUE(messages().empty()) << c.tag;
        if (c.background >= 0) {
            EXPECT_EQ(currentBackground, c.background) << c.tag;
            for (const PictureLayer& l : g_layers)
                EXPECT_FALSE(l.visible) << c.tag;
            continue;
        }
        EXPECT_EQ(currentBackground, 0) << c.tag;
        EXPECT_TRUE(g_layers[c.layer].visible) << c.tag;
        EXPECT_EQ(g_layers[c.layer].imageNo, c.picture) << c.tag;
        EXPECT_EQ(pos(c.layer).x0, c.x) << c.tag;
        EXPECT_EQ(pos(c.layer).y0, c.y) << c.tag;
    }
}

TEST(SoundTags, SloppyTagsPlayTheSlotTheirDigitsName) {
    const std::pair<const char*, int> cases[] = {
        {"[playbgm 2x]", 2}, {"[playbgm 1 2]", 12}, {"[playbgm -1]", 1},
        {"[playbgm  1]", 1}, {"[playbgm x0]", 0},   {"[playbgm 0051]", 51},
    };
    for (const auto& [tag, slot] : cases) {
        resetEngine();
        runOne(tag);
        EXPECT_EQ(currentBgm, slot) << tag;
        EXPECT_EQ(g_script.removedBytes, static_cast<int>(std::string(tag).size())) << tag;
    }

    // Before a bare line feed the page builder's [l] takes the tag's ']': the tag runs on to the
    // [l]'s, still plays its slot, and takes the click wait with it.
    resetEngine();
    startFromMemory("[playbgm 3]\n" + sj("あ"));
    EXPECT_EQ(pageBytes(0, 14), "[playbgm 3[l]\n");
    stepScript();
    EXPECT_EQ(currentBgm, 3);
    EXPECT_TRUE(g_script.textRunning);
    steps(2);
    EXPECT_EQ(shown(), "\n" + sj("あ"));
}

// Ignored (cut out, with a line on standard error) only where obeying would leave a table, the
// tag or the positions the engine allows.
TEST(PictureTags, OutOfBoundsTagsAreCutOutWithoutEffect) {
    const char* tags[] = {
        "[image 13 layer=0 left=0 top=0]",
        "[image 1 layer=10 left=0 top=0]",
        "[image 10 layer=base left=0 top=0]",
        "[image 1 layer=0 left=0]",
        "[image 1 layer=0 left=5 top=]",
        "[image 1 layer=0 left=100001 top=0]",
        "[image]",
        "[image 1]",
        "[image 1 layer]",
        "[image 999999999999999999999999999999 layer=0 left=0 top=0]",
        "[image 1 layer=0 left=0 top=999999999999999999999999999999]",
        "[playse]",
        "[playse ]",
        "[playse x]",
        "[playse 100]",
        "[playbgm]",
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
