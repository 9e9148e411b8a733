// The save and load screens, the title's menu and the quick keys, played in process on the demo
// with replayed input: what they write, what they show, what they leave alone, and the moment
// a load returns to.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
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

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The game's state as the dump gives it, the comforts' own record (which screen is open) aside,
// and the sounds loaded (a load from the title loads them all again).
std::string gameState() {
    std::string state = gameStateJson(0);
    for (const char* part : {",\"comforts\":{", ",\"sound\":{"}) {
        const std::size_t at = state.find(part);
        if (at != std::string::npos) state.erase(at, state.find('}', at) + 1 - at);
    }
    return state;
}

std::uint32_t pictureChecksum() {
    static std::vector<std::uint32_t> argb(kScreenWidth * kScreenHeight);
    EXPECT_TRUE(readPixels(argb.data(), kScreenWidth * 4));
    return static_cast<std::uint32_t>(::crc32(0L, reinterpret_cast<const Bytef*>(argb.data()),
                                              static_cast<uInt>(argb.size() * 4)));
}

class Screens : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path demo = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
        ASSERT_TRUE(fs::exists(demo / "Scenario" / "scenario0.qv_")) << "the demo is not built";
        dir_ = fs::temp_directory_path() / ("tolvane-screens-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        game_copy::copyGameFiles(demo, dir_);
        back_ = fs::current_path();
        fs::current_path(dir_);
        start(false);
    }
    void TearDown() override {
        if (started_) finishProgram();
        fs::current_path(back_);
        if (!HasFailure()) fs::remove_all(dir_);
    }
    void start(bool plain) {
        if (started_) finishProgram();
        options_ = ProgramOptions{};
        options_.headless = true;
        options_.plain = plain;
        g_frameNo = kSceneTitleInit; // as a new process starts, whatever the test before left
        ASSERT_EQ(startProgram(options_), 0);
        started_ = true;
    }

    void frame() { ASSERT_EQ(stepProgram(false), StepResult::Ran); }
    void frames(int n) {
        for (int i = 0; i < n; ++i)
            frame();
    }
    void key(int code, int times = 1) {
        for (int i = 0; i < times; ++i) {
            injectKey(code, true);
            frame();
            injectKey(code, false);
            frame();
        }
    }
    void button(int which) {
        injectMouseButton(which, true);
        frame();
        injectMouseButton(which, false);
        frame();
    }
    // Clicks on until the game waits for a click with its page written out, `pages` times.
    void toClickWait(int pages = 1) {
        for (int p = 0; p < pages; ++p) {
            if (p > 0 || g_frameNo != kSceneGame) button(0);
            for (int n = 0; !atClickWait() || g_frameNo != kSceneGame; ++n) {
                ASSERT_LT(n, 2000) << "the game never waited for a click";
                if (g_frameNo != kSceneGame)
                    button(0);
                else if (g_script.choiceWait)
                    key(kKeyDigit1); // the first link
                else
                    frame();
            }
        }
    }
    // The right-click menu's item, counted from its top, chosen with the keyboard.
    void menuItem(int index) {
        constexpr int kItems = 12; // the menu keeps the item it was left at
        button(1);
        ASSERT_TRUE(g_comforts.menuOpen);
        key(kKeyDown, (index - g_comforts.menuItem + kItems) % kItems);
        key(kKeyReturn);
    }
    void openSaveScreen() {
        menuItem(8);
        ASSERT_EQ(g_screens.open, SlotScreen::Save);
    }
    void openLoadScreen() {
        menuItem(9);
        ASSERT_EQ(g_screens.open, SlotScreen::Load);
    }
    // Back from a screen and the menu under it to the game.
    void backToGame() {
        while (g_screens.open != SlotScreen::None || g_comforts.menuOpen)
            button(1);
    }

    fs::path dir_, back_;
    ProgramOptions options_;
    bool started_ = false;
};

} // namespace

TEST_F(Screens, SavingFromTheMenuWritesTheSlotAndAsksBeforeGoingOverIt) {
    toClickWait();
    openSaveScreen();
    const fs::path file = slotPath(1, false);
    ASSERT_FALSE(fs::exists(file));
    key(kKeyReturn); // slot 1, empty: saved at once
    ASSERT_TRUE(fs::exists(file));
    const SlotInfo first = readSlot(1);
    ASSERT_EQ(first.state, SlotState::Ready) << first.reason;
    EXPECT_FALSE(first.record.preview.empty());
    EXPECT_EQ(slotLines(0).preview, first.record.preview) << "the row shows the new save";
    EXPECT_EQ(first.record.thumbnail.width, kThumbnailWidth);

    // On to the next page; saving there over slot 1 asks, and いいえ leaves the file as it was.
    backToGame();
    toClickWait(2);
    const std::string before = readAll(file);
    openSaveScreen();
    key(kKeyReturn);
    EXPECT_EQ(g_screens.asking, 1);
    key(kKeyReturn); // いいえ is the answer first offered
    EXPECT_EQ(g_screens.asking, 0);
    EXPECT_EQ(readAll(file), before);
    EXPECT_EQ(g_screens.open, SlotScreen::Save);
    // Backspace takes the question back too; はい writes.
    key(kKeyReturn);
    key(kKeyBackspace);
    EXPECT_EQ(g_screens.asking, 0);
    EXPECT_EQ(readAll(file), before);
    key(kKeyReturn);
    key(kKeyLeft);
    key(kKeyReturn);
    EXPECT_NE(readAll(file), before);
    EXPECT_GT(readSlot(1).record.moment.script.revealPos, first.record.moment.script.revealPos);
    // A file the game cannot read is not written over, not even after a question.
    std::ofstream(slotPath(2, true), std::ios::binary) << "TVSAVE01 and then nothing";
    key(kKeyPageDown);
    key(kKeyPageUp); // the page read again
    key(kKeyDown);
    key(kKeyReturn);
    EXPECT_EQ(g_screens.asking, 0);
    EXPECT_GT(g_screens.flashFrames, 0);
    EXPECT_EQ(readAll(slotPath(2, false)), "TVSAVE01 and then nothing");
    EXPECT_TRUE(comfortsHoldGame());
    backToGame();
    EXPECT_FALSE(comfortsHoldGame());
}

TEST_F(Screens, TheLoadScreenShowsEachSlotAsItIsAndReturnsToTheSavedMoment) {
    toClickWait(2);
    openSaveScreen();
    key(kKeyReturn);
    const std::string saved = gameState();
    const std::string savedPreview = readSlot(1).record.preview;
    const int savedBacklog = backlogPageCount();
    backToGame();
    // A damaged save beside it, a cut short one and one from a newer engine.
    const std::string good = readAll(slotPath(1, false));
    std::string damaged = good;
    damaged[damaged.size() / 2] ^= 0x55;
    std::string newer = good;
    newer[8] = static_cast<char>(kSaveVersion + 1);
    const std::string files[] = {damaged, good.substr(0, good.size() / 3), newer};
    for (int i = 0; i < 3; ++i)
        std::ofstream(slotPath(2 + i, true), std::ios::binary) << files[i];
    toClickWait(2);
    ASSERT_NE(gameState(), saved);

    openLoadScreen();
    EXPECT_EQ(slotLines(0).preview, savedPreview);
    EXPECT_NE(slotLines(0).head.find("20"), std::string::npos) << slotLines(0).head;
    EXPECT_NE(slotLines(1).head.find("壊れた"), std::string::npos) << slotLines(1).head;
    EXPECT_NE(slotLines(2).head.find("壊れた"), std::string::npos) << slotLines(2).head;
    EXPECT_NE(slotLines(3).head.find("新しい版"), std::string::npos) << slotLines(3).head;
    EXPECT_NE(slotLines(4).head.find("空き"), std::string::npos) << slotLines(4).head;
    // Choosing the damaged one refuses it and leaves it as it is.
    key(kKeyDown);
    key(kKeyReturn);
    EXPECT_EQ(g_screens.open, SlotScreen::Load);
    EXPECT_GT(g_screens.flashFrames, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(readAll(slotPath(2 + i, false)), files[i]) << "slot " << 2 + i;
    // Pages turn and come back.
    key(kKeyPageDown);
    EXPECT_EQ(g_screens.page, 1);
    EXPECT_EQ(slotLines(0).head.substr(0, 2), "07");
    key(kKeyPageUp);
    key(kKeyPageUp);
    EXPECT_EQ(g_screens.page, kSlotPages - 1);
    EXPECT_EQ(slotLines(kSlotsPerPage - 1).head.substr(0, 2), "60");
    key(kKeyPageDown);

    // A click on slot 1, held down a while: the held button does not go on in the loaded game.
    injectMouseMove((100 - g_pointer.x) / 2, (80 - g_pointer.y) / 2);
    frame();
    EXPECT_EQ(g_screens.row, 0);
    injectMouseButton(0, true);
    frames(4);
    injectMouseButton(0, false);
    frame();
    EXPECT_EQ(g_screens.open, SlotScreen::None);
    EXPECT_FALSE(g_comforts.menuOpen);
    EXPECT_EQ(gameState(), saved);
    EXPECT_EQ(backlogPageCount(), savedBacklog);
}

TEST_F(Screens, QuickSaveAndQuickLoadReturnToTheMomentWithANoteThatFades) {
    toClickWait(2);
    key(kKeyF6);
    const std::string saved = gameStateJson(0);
    ASSERT_EQ(readSlot(kQuickSlot).state, SlotState::Ready);
    EXPECT_EQ(g_screens.note, "クイックセーブしました");
    EXPECT_GT(g_screens.noteFrames, 0);
    EXPECT_FALSE(comfortsHoldGame()) << "the game goes on under the note";
    frames(2 * g_comfortsMemory.framesPerSecond);
    EXPECT_EQ(g_screens.noteFrames, 0);

    toClickWait(3);
    ASSERT_NE(gameStateJson(0), saved);
    key(kKeyF9);
    EXPECT_EQ(gameStateJson(0), saved);
    EXPECT_EQ(g_screens.note, "クイックロードしました");

    // A quick save that cannot be read is said so and left alone.
    std::ofstream(slotPath(kQuickSlot, true), std::ios::binary) << "not a save";
    const std::string here = gameStateJson(0);
    key(kKeyF9);
    EXPECT_EQ(g_screens.note, "クイックロードできません");
    EXPECT_EQ(gameStateJson(0), here);
    EXPECT_EQ(readAll(slotPath(kQuickSlot, false)), "not a save");

    // A quick save that cannot be written says so; what stands in its place stays.
    fs::remove(slotPath(kQuickSlot, true));
    fs::create_directory(slotPath(kQuickSlot, true));
    key(kKeyF6);
    EXPECT_EQ(g_screens.note, "クイックセーブできません");
    EXPECT_TRUE(fs::is_directory(slotPath(kQuickSlot, false)));
}

TEST_F(Screens, TheTitlesMenuContinuesFromTheNewestSave) {
    toClickWait(2);
    openSaveScreen();
    key(kKeyDown, 4);
    key(kKeyReturn); // slot 5
    const std::string newest = gameState();
    backToGame();
    toClickWait(2);
    key(kKeyF6);
    // The quick save is the later one in play; the record makes slot 5 the newest.
    SlotInfo five = readSlot(5);
    ASSERT_EQ(five.state, SlotState::Ready);
    five.record.savedAt += 3600;
    ASSERT_EQ(writeSlot(5, five.record), "");

    key(kKeyF1);
    frames(3);
    ASSERT_EQ(g_frameNo, kSceneTitle);
    button(1);
    ASSERT_TRUE(comfortsHoldTitle());
    // Clicks in the menu off its items start nothing.
    button(0);
    ASSERT_EQ(g_frameNo, kSceneTitle);
    key(kKeyReturn); // つづきから, the item first offered
    EXPECT_FALSE(comfortsHoldTitle());
    EXPECT_EQ(g_frameNo, kSceneGame);
    EXPECT_EQ(gameState(), newest);
}

TEST_F(Screens, TheTitleIsAsItWasWithoutItsMenuAndOnceItCloses) {
    frames(5);
    ASSERT_EQ(g_frameNo, kSceneTitle);
    const std::uint32_t title = pictureChecksum();
    const std::string state = gameStateJson(0);
    button(1);
    EXPECT_TRUE(comfortsHoldTitle());
    EXPECT_NE(pictureChecksum(), title);
    // Its settings are the menu's settings alone; back from them is back to the title's menu.
    EXPECT_EQ(g_screens.titleItem, 1) << "with no save, ロード is offered first";
    key(kKeyDown);
    key(kKeyReturn);
    EXPECT_TRUE(g_comforts.menuOpen);
    button(1);
    EXPECT_FALSE(g_comforts.menuOpen);
    EXPECT_TRUE(comfortsHoldTitle());
    // The load screen opens over it and goes back to it.
    key(kKeyUp);
    key(kKeyReturn);
    EXPECT_EQ(g_screens.open, SlotScreen::Load);
    key(kKeyBackspace);
    EXPECT_EQ(g_screens.open, SlotScreen::None);
    button(1);
    EXPECT_FALSE(comfortsHoldTitle());
    EXPECT_EQ(g_frameNo, kSceneTitle);
    EXPECT_EQ(pictureChecksum(), title);
    EXPECT_EQ(gameStateJson(0), state) << "the pointer is back where the title keeps it";
    button(0);
    EXPECT_EQ(g_frameNo, kSceneGame) << "a fresh click starts the game";

    // The game alone shows the same title.
    start(true);
    frames(5);
    EXPECT_EQ(pictureChecksum(), title);
    button(1);
    EXPECT_FALSE(comfortsHoldTitle());
    EXPECT_EQ(pictureChecksum(), title);
}
