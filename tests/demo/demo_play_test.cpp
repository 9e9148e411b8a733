// Plays the demo story through the scenario engine alone, clicking through every wait and
// picking choices, and watches for what a player must never see: blank cells from single-byte
// bytes, tags shown as text, a page that runs out, a branch that never ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

#include "base/scene_number.h"
#include "input/input.h"
#include "script/script.h"

namespace fs = std::filesystem;

namespace {

struct Playthrough {
    std::set<int> backgrounds;
    std::set<int> music;
    std::set<std::pair<int, int>> layerPictures; // (layer, picture) seen visible
    int clicks = 0;
    int choices = 0;
    std::string trouble;
};

// Picks link `index` as a player would: the pointer on the link's rectangle, the button down.
void choose(int index) {
    const LinkEntry& link = g_links[index];
    const float x = link.quad.v[0].x + 4, y = link.quad.v[0].y + 1;
    buildQuad(g_pointerQuad, 255, x, y, x + 40, y + 40, 0, 0, 64, 64);
    g_pointer.pressed[0] = 1;
    testLinks();
    g_pointer.pressed[0] = 0;
}

// Runs the script until [reset] sends the game to the title, taking the choices in order.
Playthrough play(std::initializer_list<int> picks) {
    Playthrough p;
    auto pick = picks.begin();
    for (int step = 0; step < 200000 && g_frameNo != kSceneTitleInit; ++step) {
        if (g_script.choiceWait) {
            if (pick == picks.end()) {
                p.trouble = "a choice with no pick left";
                break;
            }
            ++p.choices;
            choose(*pick++);
            continue;
        }
        if (!g_script.textRunning) {
            ++p.clicks;
            signalClick();
        }
        const int at = g_script.revealPos;
        const std::int32_t source = g_script.source;
        const std::uint8_t c = g_page[at];
        stepScript();
        if (g_script.pageEnded) p.trouble = "the page ran out at source " + std::to_string(source);
        if (c == 0) p.trouble = "a blank cell at page byte " + std::to_string(at);
        if (c == '[' && g_script.source == source && g_script.revealPos > at)
            p.trouble = "a tag shown as text at page byte " + std::to_string(at);
        if (!p.trouble.empty()) break;
        p.backgrounds.insert(currentBackground);
        p.music.insert(currentBgm);
        for (int k = 0; k < kLayerCount; ++k)
            if (g_layers[k].visible) p.layerPictures.insert({k, g_layers[k].imageNo});
    }
    if (p.trouble.empty() && g_frameNo != kSceneTitleInit) p.trouble = "no [reset] reached";
    return p;
}

// A new game as the game scene starts one, in a folder holding a copy of the demo's scenario.
void startGame() {
    g_frameNo = kSceneGame;
    g_script.currentBlock = 0;
    g_script.charsPerLine = 25;
    currentBackground = 0;
    for (int k = 0; k < 2; ++k) {
        buildQuad(g_layers[k].quad, 255, 150, 20, 709, 890, 0, 0, 64, 64);
        g_layers[k].visible = false;
    }
    startScenario();
    if (g_script.continueGame) restoreCheckpoint();
}

class DemoPlay : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = fs::current_path();
        dir_ = fs::temp_directory_path() / ("demo_play_" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "Scenario");
        const fs::path game = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game" / "Scenario";
        fs::copy_file(game / "scenario0.qv_", dir_ / "Scenario" / "scenario0.qv_");
        fs::copy_file(game / "end1.qv_", dir_ / "Scenario" / "end1.qv_");
        fs::current_path(dir_);
        g_script = {};
        g_links = {};
        g_layers = {};
        currentBgm = -1;
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    fs::path old_, dir_;
};

TEST_F(DemoPlay, BothEndingsAreReachedAndTheSecondGameContinuesAtTheChoice) {
    // First game: ask the keeper (which comes back to the choice), then give the page back.
    startGame();
    Playthrough first = play({2, 0});
    ASSERT_EQ(first.trouble, "");
    EXPECT_EQ(first.choices, 2);
    EXPECT_EQ(g_script.currentBlock, 1);
    EXPECT_TRUE(g_script.saveWritten);
    EXPECT_TRUE(g_script.continueGame);
    EXPECT_GT(first.clicks, 60); // a story of some minutes, a click a line

    // Second game: it continues at the checkpoint, before the choice, with its pictures and music.
    startGame();
    EXPECT_EQ(g_script.currentBlock, 0);
    EXPECT_EQ(currentBackground, 3);
    EXPECT_EQ(currentBgm, 1);
    EXPECT_TRUE(g_layers[0].visible && g_layers[1].visible);
    Playthrough second = play({1});
    ASSERT_EQ(second.trouble, "");
    EXPECT_EQ(second.choices, 1);
    EXPECT_EQ(currentBackground, 7);

    std::set<int> backgrounds = first.backgrounds;
    backgrounds.insert(second.backgrounds.begin(), second.backgrounds.end());
    EXPECT_EQ(backgrounds, (std::set<int>{0, 1, 2, 3, 5, 6, 7}));
    EXPECT_TRUE(first.music.count(0) && first.music.count(1));
    EXPECT_TRUE(first.layerPictures.count({0, 0}) && first.layerPictures.count({1, 1}));
}

TEST_F(DemoPlay, KeepingThePageLeadsToTheRainEnding) {
    startGame();
    Playthrough p = play({1});
    ASSERT_EQ(p.trouble, "");
    EXPECT_EQ(currentBackground, 7);
    EXPECT_TRUE(g_script.continueGame);
}

} // namespace
