#include "engine_fixture.h"

using namespace fixture;

namespace {

// Steps like the game frame does, clicking whenever the text waits, until a choice or scene end.
void playToChoice() {
    for (int i = 0; i < 4000 && !g_script.choiceWait && g_frameNo == kSceneGame; ++i) {
        if (!g_script.textRunning) signalClick();
        stepScript();
    }
}

// The pointer quad with its top-left at (x, y).
void pointerAt(float x, float y) {
    buildQuad(g_pointerQuad, 255, x, y, x + 40, y + 40, 0, 0, 64, 64);
}

} // namespace

class Links : public GameFolderTest {};

TEST_F(Links, JumpsLandBehindTheLabelLine) {
    const std::string a = sj("あ"), b = sj("い"), c = sj("う");
    startFromMemory("[jump 0 target=*start]" + a + "\r\n*start\r\n" + b + "\r\n*start\r\n" + c,
                    "*last\r\n" + c);
    stepScript();
    EXPECT_EQ(pageBytes(0, 2), b); // the first of two equal labels wins
    EXPECT_EQ(g_script.revealPos, 0);
    EXPECT_FALSE(std::filesystem::exists("Data.sav"));

    startFromMemory("[jump 1 target=*last]", "*last\r\n" + c);
    stepScript();
    EXPECT_EQ(g_script.currentBlock, 1);
    EXPECT_EQ(g_script.source, kBlockSize + 7);
    EXPECT_EQ(pageBytes(0, 2), c);
}

TEST_F(Links, AMarkedLabelWritesTheCheckpointBeforeThePage) {
    startFromMemory("[jump 0 target=*scene2]\r\n*scene2|ignored\r\n" + sj("あ"));
    stepScript();
    EXPECT_TRUE(g_script.saveWritten);
    const std::string bytes = readFile("Data.sav");
    ASSERT_EQ(bytes.size(), 500u);
    std::string plain;
    for (int i = 0; i < 13; ++i)
        plain += static_cast<char>(bytes[i] - 30);
    EXPECT_EQ(plain, "000 scene2 00");
    EXPECT_EQ(pageBytes(0, 2), sj("あ"));
}

TEST_F(Links, BrokenJumpsAreCutOutAndTheRevealGoesOn) {
    const char* tags[] = {"[jump 0 target=*nowhere]", "[jump 7 target=*x]", "[jump 0 label=*x]",
                          "[jump target=*x]"};
    for (const std::string tag : tags) {
        resetEngine();
        startFromMemory(tag + sj("あ") + "\r\n*x\r\n");
        stepScript();
        EXPECT_EQ(g_script.currentBlock, 0) << tag;
        EXPECT_EQ(g_script.revealPos, 0) << tag;
        EXPECT_EQ(g_script.removedBytes, static_cast<int>(tag.size())) << tag;
        stepScript();
        EXPECT_EQ(shown(), sj("あ")) << tag;
        if (tag.find("nowhere") != std::string::npos) {
            ASSERT_EQ(messages().size(), 1u);
            EXPECT_EQ(messages()[0], "ラベル *nowhere (ブロック 0) の検索に失敗");
        }
    }
}

TEST_F(Links, TheLabelSearchEndsWithTheLoadedText) {
    // A zero byte inside the text is a blank byte of it: a label behind it is still found.
    startFromMemory("[jump 0 target=*after]" + std::string(1, '\0') + "\r\n*after\r\n" + sj("い"));
    stepScript();
    EXPECT_EQ(pageBytes(0, 2), sj("い"));
    EXPECT_TRUE(messages().empty());

    // A shorter load leaves the longer text's tail behind its zero byte: not text, not searched.
    writeScenario(std::string(40, 'x') + "\r\n*old\r\n" + sj("う"), "");
    startScenario();
    writeScenario("[jump 0 target=*old]", "");
    startScenario();
    stepScript();
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "ラベル *old (ブロック 0) の検索に失敗");
}

TEST_F(Links, LinkRectanglesFollowTheTextGrid) {
    startFromMemory(sj("あ") + "\r\n" + sj("い") + "\r\n[link target=*a]" + sj("かきくけ") +
                    "[endlink]\r\n[link target=*b]" + sj("さし") + "[endlink]\r\n[s]");
    playToChoice();
    ASSERT_TRUE(g_script.choiceWait);
    EXPECT_EQ(g_script.linkCount, 2);
    const ScreenQuad& q = g_links[0].quad;
    EXPECT_EQ(q.v[0].x, 50.0f);
    EXPECT_EQ(q.v[0].y, 120.0f);
    EXPECT_EQ(q.v[2].x, 162.0f);
    EXPECT_EQ(q.v[2].y, 155.0f);
    EXPECT_EQ(std::string(g_links[1].target.data()), "b");
    EXPECT_EQ(g_links[1].quad.v[0].y, 155.0f);
    EXPECT_EQ(g_links[1].quad.v[2].x, 106.0f);
}

TEST_F(Links, TheFirstOverlappedLinkIsHoveredAndChosen) {
    const std::string page = "[link target=*a]" + sj("かきくけ") + "[endlink]\r\n[link target=*b]" +
                             sj("さし") + "[endlink]\r\n[s]\r\n*a\r\n" + sj("あ") + "\r\n*b\r\n" +
                             sj("い");
    startFromMemory(page);
    playToChoice();
    pointerAt(60, 70); // reaches into both lines
    testLinks();
    EXPECT_TRUE(g_links[0].hovered);
    EXPECT_TRUE(g_script.choiceWait);

    pointerAt(400, 400); // off both: hover goes
    testLinks();
    EXPECT_FALSE(g_links[0].hovered);

    // The button already held when the pointer arrives: chosen in the first frame of overlap.
    g_pointer.pressed[0] = 1;
    testLinks();
    EXPECT_TRUE(g_script.choiceWait);
    pointerAt(60, 100);
    testLinks();
    EXPECT_FALSE(g_script.choiceWait);
    EXPECT_FALSE(g_script.linkMode);
    EXPECT_EQ(g_script.linkCount, 0);
    EXPECT_FALSE(g_links[0].active);
    EXPECT_EQ(pageBytes(0, 2), sj("い")); // link b: its rectangle spans y = 85..120
}

TEST_F(Links, ALinkToNowhereLeavesTheChoicePending) {
    startFromMemory("[link target=*gone]" + sj("かき") + "[endlink][s]");
    playToChoice();
    pointerAt(50, 50);
    g_pointer.pressed[0] = 1;
    for (int i = 0; i < 5; ++i)
        testLinks();
    EXPECT_TRUE(g_script.choiceWait);
    EXPECT_TRUE(g_links[0].active);
    EXPECT_EQ(messages().size(), 1u); // reported once, not every frame
}

TEST_F(Links, LinkLimitsAndBadKeysAreIgnored) {
    std::string page;
    for (int i = 0; i < 11; ++i)
        page += "[link target=*x]" + sj("か") + "[endlink]";
    page += "[link label=*y]" + sj("か") + "[endlink][s]";
    startFromMemory(page);
    playToChoice();
    EXPECT_EQ(g_script.linkCount, 10);
    for (const LinkEntry& l : g_links)
        EXPECT_TRUE(l.active);
}

TEST_F(Links, ResetClearsLinksAndArmsTheContinueOnlyAfterACheckpoint) {
    startFromMemory("[link target=*x]" + sj("か") + "[endlink][reset]");
    playToChoice();
    EXPECT_EQ(g_frameNo, kSceneTitleInit);
    EXPECT_EQ(g_script.linkCount, 0);
    EXPECT_FALSE(g_links[0].active);
    EXPECT_FALSE(g_script.continueGame);

    resetEngine();
    g_script.saveWritten = true;
    startFromMemory("[reset]");
    stepScript();
    EXPECT_TRUE(g_script.continueGame);
}
