// Rollback on stories made at random (seeded), played from their sources in process with the
// comforts on: each page's first frame recorded through the pages, the checkpoint and a choice;
// then a return to the newest page left, to the page that offered the choice (across the link
// taken) and to the oldest page that can be returned to shows that frame again, and the same
// input from there plays the very frames the run played.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/options.h"
#include "app/state_dump.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"
#include "support/played_frames.h"
#include "support/random_story.h"

namespace fs = std::filesystem;

namespace {

using namespace played_frames;

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

struct PageBegin {
    std::size_t frame; // the frame after which the page was on screen
    Frame shown;
    int index = -1; // its place in the backlog once it is left behind
    bool offeredChoice = false;
};

// Frames played on after each return, and kept idle at the end of the run so that every return
// has that many to compare.
constexpr std::size_t kPlayOn = 200;

class RolledBackStories : public ::testing::Test {
protected:
    void SetUp() override {
        demo_ = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
        ASSERT_TRUE(fs::exists(demo_ / "CG")) << "the demo is not built";
        dir_ =
            fs::temp_directory_path() / ("tolvane-rollback-stories-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        back_ = fs::current_path();
    }
    void TearDown() override {
        stop();
        fs::current_path(back_);
        if (!HasFailure()) fs::remove_all(dir_);
    }

    // A game folder with the demo's pictures and sounds and the story as its sources, the
    // program started in it.
    void start(const random_story::Story& story, std::uint32_t seed) {
        const fs::path game = dir_ / ("story" + std::to_string(seed));
        fs::create_directories(game / "Scenario");
        fs::copy(demo_ / "CG", game / "CG", fs::copy_options::recursive);
        fs::copy(demo_ / "Sound", game / "Sound", fs::copy_options::recursive);
        writeText(game / "Scenario" / "scenario0.txt", story.block0);
        writeText(game / "Scenario" / "end1.txt", story.block1);
        fs::current_path(game);
        options_ = ProgramOptions{};
        options_.headless = true;
        options_.source = true;
        // A game played before in this process leaves its scene and its continue pending.
        g_frameNo = kSceneTitleInit;
        g_script = ScriptState{};
        inputs_.clear();
        frames_.clear();
        pages_.clear();
        ASSERT_EQ(startProgram(options_), 0);
        started_ = true;
    }
    void stop() {
        if (started_) finishProgram();
        started_ = false;
    }

    // Clicks (the button down every other frame) from the title into the game, where the
    // pointer goes onto link `link`, through the choice to the first page of block 1; then
    // the button stays up for kPlayOn frames.
    void record(int link) {
        bool moved = false, wasInGame = false;
        std::vector<std::uint8_t> before;
        std::size_t idleFrom = 0;
        while (inputs_.size() < 4000 && (idleFrom == 0 || inputs_.size() < idleFrom + kPlayOn)) {
            const std::uint64_t f = programFrame() + 1;
            FrameInput in{0, 0, idleFrom == 0 && f % 2 == 0};
            if (!moved && g_frameNo == kSceneGame) {
                // From the corner onto the link's line: one line of text above the links, each
                // link a line 35 pixels high, a unit of movement two pixels.
                in.dx = 40;
                in.dy = 46 + 35 * link / 2;
                moved = true;
            }
            inputs_.push_back(in);
            frames_.push_back(playFrame(in));
            const std::size_t i = frames_.size() - 1;
            if (!pages_.empty() && pages_.back().index < 0 && pages_.back().frame + 1 == i)
                pages_.back().index = backlogPageCount();
            const bool inGameNow = g_frameNo == kSceneGame;
            ASSERT_TRUE(inGameNow || !wasInGame) << "the game ended at frame " << i;
            const std::vector<std::uint8_t> now =
                inGameNow ? revealed() : std::vector<std::uint8_t>();
            const bool samePage = wasInGame && now.size() >= before.size() &&
                                  std::equal(before.begin(), before.end(), now.begin());
            if (inGameNow && !samePage) {
                pages_.push_back({i, frames_.back()});
                if (g_script.currentBlock == 1 && idleFrom == 0) idleFrom = i + 1;
            }
            // A click can take a link in the very frame the links appear, so the page is known
            // by its links rather than by the wait for them.
            if (inGameNow && (g_script.choiceWait || g_script.linkMode))
                pages_.back().offeredChoice = true;
            before = now;
            wasInGame = inGameNow;
        }
        ASSERT_NE(idleFrom, 0u) << "the story never reached block 1 after its choice";
        // The run ends waiting on block 1's first page; every page before it has been left.
        ASSERT_GE(pages_.size(), 2u);
        ASSERT_EQ(pages_.back().index, backlogPageCount());
    }

    // Up marks the newest page and then each one before (no further than the oldest that can
    // be returned to); Return returns to the marked page, in the frame returned.
    Frame returnByKeys(int ups) {
        tapKey(kKeyPageUp);
        EXPECT_TRUE(g_comforts.backlogOpen);
        for (int u = 0; u < ups; ++u)
            tapKey(kKeyUp);
        injectKey(kKeyReturn, true);
        const Frame returned = playFrame({});
        injectKey(kKeyReturn, false);
        return returned;
    }

    // The frame of the return is the page's first, and the recorded input played on from the
    // page's second frame gives the run's frames.
    void expectSameFramesFrom(const PageBegin& page, const Frame& returned, const char* how) {
        SCOPED_TRACE(how);
        ASSERT_EQ(gameOnly(returned.state), gameOnly(page.shown.state));
        ASSERT_EQ(returned.pixels, page.shown.pixels);
        ASSERT_EQ(backlogPageCount(), page.index);
        ASSERT_FALSE(g_comforts.backlogOpen);
        const std::size_t end = std::min(frames_.size(), page.frame + 1 + kPlayOn);
        for (std::size_t k = page.frame + 1; k < end; ++k) {
            const Frame again = playFrame(inputs_[k]);
            ASSERT_EQ(again.state, frames_[k].state) << "frame " << k - page.frame;
            ASSERT_EQ(again.pixels, frames_[k].pixels) << "frame " << k - page.frame;
        }
    }

    fs::path demo_, dir_, back_;
    ProgramOptions options_;
    bool started_ = false;
    std::vector<FrameInput> inputs_;
    std::vector<Frame> frames_;
    std::vector<PageBegin> pages_;
};

} // namespace

TEST_F(RolledBackStories, AReturnedPagePlaysOnAsItFirstDid) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        const random_story::Story story = random_story::makeStory(seed);
        SCOPED_TRACE("story " + std::to_string(seed) + ":\n" + story.block0 + story.block1);
        start(story, seed);
        if (HasFatalFailure()) return;
        record(static_cast<int>(seed % static_cast<std::uint32_t>(story.links)));
        if (HasFatalFailure()) return;

        // The newest page left, the one before block 1's.
        const PageBegin& newest = pages_[pages_.size() - 2];
        ASSERT_EQ(newest.index, backlogPageCount() - 1);
        expectSameFramesFrom(newest, returnByKeys(1), "the newest page left");
        if (HasFatalFailure()) return;

        // Across the choice: the page that offered it, its link taken again on the way on.
        const auto choice = std::find_if(pages_.begin(), pages_.end(),
                                         [](const PageBegin& p) { return p.offeredChoice; });
        ASSERT_NE(choice, pages_.end());
        ASSERT_TRUE(canReturnToPage(choice->index));
        ASSERT_LT((choice + 1)->frame, choice->frame + kPlayOn) << "the play on takes the link";
        expectSameFramesFrom(*choice, returnByKeys(backlogPageCount() - choice->index),
                             "the page of the choice");
        if (HasFatalFailure()) return;

        // Up past the oldest page that can be returned to stops there.
        const auto oldest = std::find_if(pages_.begin(), pages_.end(), [](const PageBegin& p) {
            return canReturnToPage(p.index);
        });
        ASSERT_NE(oldest, pages_.end());
        for (int p = 0; p < oldest->index; ++p)
            ASSERT_FALSE(canReturnToPage(p)) << "page " << p << " began before the run's pages";
        expectSameFramesFrom(*oldest, returnByKeys(backlogPageCount() + 2), "the oldest page");
        if (HasFatalFailure()) return;
        stop();
    }
}
