// A small scenario across both blocks, played frame by frame as the game scene drives it:
// clicks, a choice, a checkpoint, [reset] and a continued game.
#include "engine_fixture.h"

using namespace fixture;

namespace {

// What game init does to the scenario engine (pictures and sound aside).
void gameInit() {
    prepareScenarioForGame();
    buildQuad(g_pointerQuad, 255, 10, 10, 50, 50, 0, 0, 64, 64);
    startScenario();
    if (g_script.continueGame) restoreCheckpoint();
    g_frameNo = kSceneGame;
}

// One game frame: the pointer, then a step or the link test.
void gameFrame(int dx = 0, int dy = 0, bool down = false) {
    g_mouse = MouseState{dx, dy, 0, {static_cast<std::uint8_t>(down ? 0x80 : 0), 0, 0, 0}};
    updatePointer();
    if (g_script.textRunning && !g_script.choiceWait) stepScript();
    if (g_script.choiceWait) testLinks();
}

int framesUntilWait(int limit = 2000) {
    for (int n = 1; n <= limit; ++n) {
        gameFrame();
        if (!g_script.textRunning || g_script.choiceWait || g_frameNo != kSceneGame) return n;
    }
    return -1;
}

void click() {
    gameFrame(0, 0, true);
    gameFrame(); // released again
}

} // namespace

class Play : public GameFolderTest {};

TEST_F(Play, AScenarioAcrossBothBlocks) {
    const std::string block0 =
        sj("あいう") + "\r\n;a comment\r\n[image 3 layer=base left=0 top=0]" +
        "[playbgm 1][ct]\r\n" + sj("えらんで") + "\r\n" + "[link target=*left]" + sj("ひだり") +
        "[endlink]\r\n" + "[link target=*right]" + sj("みぎ") + "[endlink]\r\n[s]\r\n" +
        "*left\r\n" + sj("左") + "[jump 1 target=*cp]\r\n" + "*right\r\n" + sj("右") +
        "[jump 1 target=*cp]\r\n";
    const std::string block1 =
        "*cp|\r\n[image 1 layer=0 left=100 top=20]" + sj("おわり") + "\r\n[reset]";
    writeScenario(block0, block1);
    g_pointer = PointerState{{10, 10, 790, 590}, 10, 10, {0, 0, 0}, 2, 40, 40, false};

    gameInit();
    EXPECT_EQ(framesUntilWait(), 4); // three characters, then the [l]
    EXPECT_EQ(shown(), sj("あいう"));
    gameFrame();
    EXPECT_FALSE(g_script.textRunning); // waiting frames change nothing
    click();
    // The comment, the picture and music tags and [ct] each take a frame; then a new page.
    EXPECT_GT(framesUntilWait(), 0);
    EXPECT_EQ(currentBackground, 3);
    EXPECT_EQ(currentBgm, 1);
    EXPECT_EQ(shown(), sj("えらんで"));
    click();
    EXPECT_GT(framesUntilWait(), 0);
    ASSERT_TRUE(g_script.choiceWait);
    EXPECT_EQ(g_script.linkCount, 2);

    // Move the pointer onto the second link (line 2, y 120..155) and press.
    gameFrame(20, 60);
    EXPECT_TRUE(g_links[1].hovered);
    EXPECT_FALSE(g_links[0].hovered);
    gameFrame(0, 0, true);
    EXPECT_FALSE(g_script.choiceWait);
    EXPECT_EQ(pageBytes(0, 2), sj("右"));
    gameFrame(); // 右
    gameFrame(); // the jump into block 1, onto the marked label: the checkpoint is written
    EXPECT_EQ(g_script.currentBlock, 1);
    EXPECT_TRUE(g_script.saveWritten);
    EXPECT_GT(framesUntilWait(), 0);
    EXPECT_EQ(g_layers[0].imageNo, 1);
    EXPECT_EQ(g_layers[0].quad.v[0].x, 100.0f);
    click();
    EXPECT_GT(framesUntilWait(), 0);
    EXPECT_EQ(g_frameNo, kSceneTitleInit);
    EXPECT_TRUE(g_script.continueGame);

    // A new game continues from the checkpoint.
    g_layers[0].imageNo = 0;
    gameInit();
    EXPECT_EQ(g_script.currentBlock, 1);
    EXPECT_EQ(currentBackground, 3);
    EXPECT_FALSE(g_layers[0].visible); // no layer was shown when the label was reached
    EXPECT_EQ(g_layers[0].quad.v[0].x, 150.0f);
    EXPECT_EQ(currentBgm, 1);
    framesUntilWait();
    EXPECT_EQ(shown(), sj("おわり"));
    EXPECT_TRUE(g_layers[0].visible);
    EXPECT_EQ(g_layers[0].imageNo, 1);
}
