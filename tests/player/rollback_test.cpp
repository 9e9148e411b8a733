// Rollback from the backlog: the demo played in process with the comforts on, through a choice,
// its [reset], the title and the continue, each page's first frame recorded; then returning to
// a page of the backlog (by a click on its lines, and by the keys) shows that frame again, and
// the same input from there plays the very frames the run played.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/options.h"
#include "app/state_dump.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "player/save_file.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"
#include "support/game_copy.h"
#include "support/played_frames.h"

namespace fs = std::filesystem;

namespace {

using namespace played_frames;

// A page as it began: the frame after which it was on screen, and what that frame showed.
struct PageBegin {
    std::size_t frame;
    Frame shown;
    int index = -1; // its place in the backlog once it is left behind
    int game;       // 0 the first game, 1 the continued one
    int block;
};

class RolledBackDemo : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path demo = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
        ASSERT_TRUE(fs::exists(demo / "Scenario" / "scenario0.qv_")) << "the demo is not built";
        dir_ = fs::temp_directory_path() / ("tolvane-rollback-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        game_copy::copyGameFiles(demo, dir_);
        back_ = fs::current_path();
        fs::current_path(dir_);
        options_.headless = true;
        options_.plain = false;
        // A game played before in this process leaves its scene and its continue pending,
        // which only a new process starts without.
        g_frameNo = kSceneTitleInit;
        g_script = ScriptState{};
        ASSERT_EQ(startProgram(options_), 0);
        started_ = true;
    }
    void TearDown() override {
        if (started_) finishProgram();
        fs::current_path(back_);
        if (!HasFailure()) fs::remove_all(dir_);
    }

    // Clicks (the button down every other frame) through the first game, its choice, [reset],
    // the title and the continue, where the pointer goes onto the first link again, until the
    // continued game's choice has led into block 1 and a few of its lines are read.
    void record() {
        int game = 0;
        bool wasInGame = false;
        std::vector<std::uint8_t> before;
        int choices = 0;
        std::size_t afterSecondChoice = 0;
        while (inputs_.size() < 6000 &&
               (afterSecondChoice == 0 || inputs_.size() < afterSecondChoice + 300)) {
            const std::uint64_t f = programFrame() + 1;
            FrameInput in{0, 0, f % 2 == 0};
            if (f == 3) in.dy = 40; // onto the first link's line
            if (game == 1 && !continued_ && g_frameNo == kSceneGame) {
                in.dy = 40; // from the title's corner onto the first link again
                continued_ = true;
            }
            const int block = g_script.currentBlock;
            inputs_.push_back(in);
            frames_.push_back(playFrame(in));
            const std::size_t i = frames_.size() - 1;
            if (!pages_.empty() && pages_.back().index < 0 && pages_.back().frame + 1 == i)
                pages_.back().index = backlogPageCount();
            const bool inGameNow = g_frameNo == kSceneGame;
            if (inGameNow && block == 0 && g_script.currentBlock == 1 && ++choices == 2)
                afterSecondChoice = i;
            if (wasInGame && !inGameNow) ++game;
            const std::vector<std::uint8_t> now =
                inGameNow ? revealed() : std::vector<std::uint8_t>();
            const bool samePage = wasInGame && now.size() >= before.size() &&
                                  std::equal(before.begin(), before.end(), now.begin());
            if (inGameNow && !samePage)
                pages_.push_back({i, frames_.back(), -1, game, g_script.currentBlock});
            before = now;
            wasInGame = inGameNow;
        }
        ASSERT_NE(afterSecondChoice, 0u) << "the game never took its second choice";
        ASSERT_EQ(game, 1) << "one [reset] and one continue";
    }

    // Returns with the frame the return was made in; then plays the recorded input on from
    // the page's second frame and compares every frame with the run's.
    void expectSameFramesFrom(const PageBegin& page, const Frame& returned, const char* how,
                              bool playOn = true) {
        EXPECT_EQ(gameOnly(returned.state), gameOnly(page.shown.state)) << how;
        EXPECT_EQ(returned.pixels, page.shown.pixels) << how;
        EXPECT_EQ(backlogPageCount(), page.index) << how;
        EXPECT_FALSE(g_comforts.backlogOpen) << how;
        for (std::size_t k = page.frame + 1; playOn && k < frames_.size(); ++k) {
            const Frame again = playFrame(inputs_[k]);
            ASSERT_EQ(again.state, frames_[k].state) << how << ": frame " << k - page.frame;
            ASSERT_EQ(again.pixels, frames_[k].pixels) << how << ": frame " << k - page.frame;
        }
    }

    // The row of the backlog where the page's first line is shown (a blank line after every
    // page), negative above the view.
    int rowOf(int index) {
        int line = 0;
        const auto& history = g_comfortsMemory.history;
        for (std::size_t p = 0; p < history.size(); ++p) {
            if (static_cast<int>(p) == index) break;
            const auto& text = history[p];
            line += static_cast<int>(std::count(text.begin(), text.end(), '\n')) +
                    (!text.empty() && text.back() != '\n' ? 1 : 0) + 1;
        }
        return line - g_comforts.backlogTop;
    }

    fs::path dir_, back_;
    ProgramOptions options_;
    bool started_ = false;
    bool continued_ = false;
    std::vector<FrameInput> inputs_;
    std::vector<Frame> frames_;
    std::vector<PageBegin> pages_;
};

} // namespace

TEST_F(RolledBackDemo, AReturnedPagePlaysOnAsItFirstDid) {
    record();
    if (HasFatalFailure()) return;
    // The continued game's pages: its first (the checkpoint's), the last before its choice and
    // the first after it, in block 1.
    std::vector<const PageBegin*> continued;
    for (const PageBegin& p : pages_)
        if (p.game == 1) continued.push_back(&p);
    ASSERT_GE(continued.size(), 3u);
    const PageBegin& first = *continued[0];
    const PageBegin& beforeChoice = *continued[1];
    const PageBegin& afterChoice = *continued[2];
    ASSERT_EQ(beforeChoice.block, 0);
    ASSERT_EQ(afterChoice.block, 1);
    ASSERT_LT(afterChoice.index, backlogPageCount()) << "the page after the choice is not left";
    ASSERT_GT(first.index, 0) << "the first game's pages are in the backlog too";
    ASSERT_NE(currentBgm, 1) << "block 1 plays its own music by the end";

    // Up marks the newest page and then each one before; Return returns to the marked page.
    const auto returnByKeys = [this](const PageBegin& page) {
        tapKey(kKeyPageUp);
        EXPECT_TRUE(g_comforts.backlogOpen);
        for (int p = backlogPageCount() - 1; p >= page.index; --p)
            tapKey(kKeyUp);
        injectKey(kKeyReturn, true);
        const Frame returned = playFrame({});
        injectKey(kKeyReturn, false);
        return returned;
    };
    expectSameFramesFrom(afterChoice, returnByKeys(afterChoice), "Up and Return");

    // Across the choice by a left click on the page's lines, the pointer moved there over the
    // open backlog. The press is held on into the
    // game's next frame in the run's input only when that frame had the button up.
    ASSERT_FALSE(inputs_[beforeChoice.frame + 1].down);
    for (int i = 0; i < 30 && (i == 0 || rowOf(beforeChoice.index) < 0); ++i) {
        injectMouseWheel(1);
        playFrame({});
    }
    ASSERT_TRUE(g_comforts.backlogOpen);
    const int row = rowOf(beforeChoice.index);
    ASSERT_GE(row, 0);
    ASSERT_LT(row, 14);
    const int x = 200, y = g_textRect.top + row * kLineHeight + 10;
    playFrame({(x - g_pointer.x) / g_pointer.speed, (y - g_pointer.y) / g_pointer.speed, false});
    ASSERT_EQ((g_pointer.y - g_textRect.top) / kLineHeight, row);
    const Frame clicked = playFrame({0, 0, true});
    EXPECT_EQ(currentBgm, 1) << "the music of block 0 plays again";
    expectSameFramesFrom(beforeChoice, clicked, "a click on the page");

    // The first game's pages are read again but not returned to: Up marks none of them, and
    // Return returns to the continued game's first page.
    for (int p = 0; p < first.index; ++p)
        EXPECT_FALSE(canReturnToPage(p)) << "page " << p << " is of the game before the [reset]";
    tapKey(kKeyPageUp);
    for (int p = backlogPageCount() + 2; p > 0; --p)
        tapKey(kKeyUp);
    injectKey(kKeyReturn, true);
    const Frame oldest = playFrame({});
    injectKey(kKeyReturn, false);
    expectSameFramesFrom(first, oldest, "Up past the oldest page of the game", false);

    // A save loaded in the game puts back its own backlog: none of its pages, nor the page it
    // put on screen, began in this run's play since, so none is returned to; the pages after it
    // are.
    const auto pageLeft = [] {
        const int before = backlogPageCount();
        for (int i = 0; i < 600 && backlogPageCount() == before; ++i) {
            if (g_script.choiceWait) tapKey(kKeyDigit1); // the first link
            playFrame({0, 0, i % 2 == 0});
        }
        playFrame({});
        ASSERT_EQ(g_frameNo, kSceneGame);
        ASSERT_EQ(backlogPageCount(), before + 1);
    };
    ASSERT_EQ(writeSlot(1, captureSave()), "");
    pageLeft();
    pageLeft();
    std::string reason, note;
    ASSERT_TRUE(loadSlot(1, &reason, &note)) << reason;
    const int loaded = backlogPageCount();
    ASSERT_EQ(loaded, first.index);
    for (int p = 0; p < loaded; ++p)
        EXPECT_FALSE(canReturnToPage(p)) << "page " << p << " of the loaded backlog";
    pageLeft();
    EXPECT_FALSE(canReturnToPage(loaded)) << "the page the load put on screen";
    pageLeft();
    EXPECT_TRUE(canReturnToPage(loaded + 1)) << "a page that began after the load";
}
