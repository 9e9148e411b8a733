// The author's loop on a game folder that holds only UTF-8 sources: played with --source and
// --start, edited on disk, reloaded with F5 in place.
#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <vector>

#include "app/authoring.h"
#include "app/frame.h"
#include "game/game_fixture.h"
#include "input/input.h"
#include "render/render.h"
#include "script/script.h"

namespace {

using game::fs::path;

// A game folder with the game's pictures and sounds and, for its scenario, only sources.
void writeSourceGame(const path& dir, const std::string& block0, const std::string& block1) {
    game::writeGame(dir, "", "");
    game::fs::remove(dir / "Scenario" / "scenario0.qv_");
    game::fs::remove(dir / "Scenario" / "end1.qv_");
    game::writeBytes(dir / "Scenario" / "scenario0.txt", block0);
    game::writeBytes(dir / "Scenario" / "end1.txt", block1);
}

// The program's start-up, in this process, headless, in the game folder.
class Authoring : public game::GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        char buf[4096];
        previous_ = getcwd(buf, sizeof buf) ? buf : ".";
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER), 0) << SDL_GetError();
        ASSERT_GE(createGraphicsDevice(GraphicsOptions{true, false}), 0);
        setInputDevicesEnabled(false);
        createKeyboard();
        createMouse();
        applyRenderStates();
    }
    void TearDown() override {
        stopAuthoring();
        releaseInput();
        releaseImageTables();
        releaseFixedTextures();
        releaseTextFont();
        releaseGraphics();
        SDL_Quit();
        ASSERT_EQ(chdir(previous_.c_str()), 0);
        g_frameNo = kSceneTitleInit;
        GameTest::TearDown();
    }

    // Starts as `tolvane --source --start 0:*LABEL` does, in the folder.
    void start(const std::string& label) {
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        g_script = ScriptState{};
        ProgramOptions options;
        options.source = true;
        options.startBlock = 0;
        options.startLabel = label;
        ASSERT_TRUE(startAuthoring(options));
    }
    void frames(int n) {
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(runFrame(), 1);
    }
    void pressF5() {
        injectKey(kKeyF5, true);
        frames(1);
        injectKey(kKeyF5, false);
    }
    void click() {
        injectMouseButton(0, true);
        frames(1);
        injectMouseButton(0, false);
        frames(1);
    }
    std::vector<std::uint32_t> screen() {
        std::vector<std::uint32_t> pixels(800 * 600);
        EXPECT_TRUE(readPixels(pixels.data(), 800 * 4));
        return pixels;
    }
    static std::string shown() {
        return std::string(reinterpret_cast<const char*>(g_page.data()), g_script.revealPos);
    }

    std::string previous_;
};

const std::string kBlock1 = "*b\nおわり\n[reset]\n";

TEST_F(Authoring, AnEditedPageIsShownAgainAtItsLineAsAFreshStartShowsIt) {
    writeSourceGame(dir_,
                    "はじめ\n[reset]\n*here\n[image 2 layer=base left=0 top=0]あめがふる。\n"
                    "[reset]\n",
                    kBlock1);
    start("here");
    frames(20);
    EXPECT_EQ(g_frameNo, kSceneGame);
    EXPECT_EQ(shown(), game::sj("あめがふる。"));
    EXPECT_EQ(currentBackground, 2);
    EXPECT_EQ(sourcePlaceOf(g_script.source).line, 4);

    // The line under the label is rewritten on disk; F5 plays it again from its start.
    const std::string edited = "はじめ\n[reset]\n*here\n[image 3 layer=base left=0 top=0]"
                               "ゆきがふる、しずかに。\n[reset]\n";
    game::writeBytes(dir_ / "Scenario" / "scenario0.txt", edited);
    pressF5();
    EXPECT_EQ(g_script.revealPos, 0);
    frames(25);
    EXPECT_EQ(shown(), game::sj("ゆきがふる、しずかに。"));
    EXPECT_EQ(currentBackground, 3);
    EXPECT_EQ(sourcePlaceOf(g_script.source).line, 4);
    const std::vector<std::uint32_t> reloaded = screen();

    // What a fresh start of the edited text at the label shows after as many steps.
    stopAuthoring();
    start("here");
    frames(25);
    EXPECT_EQ(shown(), game::sj("ゆきがふる、しずかに。"));
    EXPECT_TRUE(screen() == reloaded) << "the reloaded page looks other than a fresh start";
}

TEST_F(Authoring, APageBehindACtRestartsBehindItAndAGoneLineAtTheLabelAbove) {
    writeSourceGame(dir_, "*here\nひとつめ。\n[ct]ふたつめ。\n[reset]\n", kBlock1);
    start("here");
    frames(10);
    EXPECT_EQ(shown(), game::sj("ひとつめ。"));
    click(); // the line's click wait; [ct] starts the page behind it
    frames(10);
    EXPECT_EQ(shown(), game::sj("ふたつめ。"));
    EXPECT_EQ(sourcePlaceOf(g_script.source).line, 3);

    game::writeBytes(dir_ / "Scenario" / "scenario0.txt",
                     "*here\nひとつめ。\n[ct]べつのふたつめ。\n[reset]\n");
    pressF5();
    frames(12);
    EXPECT_EQ(shown(), game::sj("べつのふたつめ。"));
    const SourcePlace place = sourcePlaceOf(g_script.source);
    EXPECT_EQ(place.line, 3);
    EXPECT_EQ(place.byte, 4); // behind the [ct], which is not run again

    // The page's line is gone: the page after the label above it plays.
    game::writeBytes(dir_ / "Scenario" / "scenario0.txt", "*here\nみじかい。\n");
    pressF5();
    frames(10);
    EXPECT_EQ(shown(), game::sj("みじかい。"));
    EXPECT_EQ(sourcePlaceOf(g_script.source).line, 2);
}

TEST_F(Authoring, AReloadThatDoesNotEncodeKeepsTheGameAsItIs) {
    writeSourceGame(dir_, "*here\nひとつめ。\n[reset]\n", kBlock1);
    start("here");
    frames(10);
    game::writeBytes(dir_ / "Scenario" / "scenario0.txt", "*here\nミ\n[reset]\n");
    pressF5();
    frames(3);
    EXPECT_EQ(shown(), game::sj("ひとつめ。"));
    EXPECT_EQ(sourcePlaceOf(g_script.source).line, 2);
}

// A source changed on disk is announced in a band at the top of the screen until F5 takes it.
TEST_F(Authoring, AChangeOnDiskIsAnnouncedUntilReloaded) {
    writeSourceGame(dir_, "*ここ\nひとつめ。\n[reset]\n", kBlock1);
    start("ここ");
    frames(10);
    EXPECT_EQ(shown(), game::sj("ひとつめ。"));
    auto top = [this] {
        std::vector<std::uint32_t> pixels = screen();
        pixels.resize(800 * 45);
        return pixels;
    };
    const std::vector<std::uint32_t> before = top();
    game::writeBytes(dir_ / "Scenario" / "scenario0.txt", "*ここ\nふたつめ。\n[reset]\n");
    SDL_Delay(600); // the watch looks twice a second
    frames(1);
    const std::vector<std::uint32_t> announced = top();
    EXPECT_FALSE(announced == before);
    pressF5();
    frames(10);
    EXPECT_EQ(shown(), game::sj("ふたつめ。"));
    EXPECT_TRUE(top() == before);
}

// The command line: sources that do not encode stop the game with their places, as encode
// gives them; the trace names the source line of every page and tag.
TEST(AuthoringCommandLine, EncodeErrorsStopAndTheTraceNamesSourceLines) {
    const path dir =
        game::fs::temp_directory_path() / ("tolvane-authoring-" + std::to_string(::getpid()));
    game::fs::remove_all(dir);
    writeSourceGame(dir, "あ\nいミう\n[reset]\n", kBlock1);
    game::RunResult run = game::runGame(dir, "--headless --source --frames 5 .");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Scenario/scenario0.txt:2:2: error: "), std::string::npos) << run.err;

    game::writeBytes(dir / "Scenario" / "scenario0.txt", "あ\n*here\n[playbgm 1]い\n[reset]\n");
    run = game::runGame(dir, "--headless --source --start 0:*here --frames 5 --trace trace.txt");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string trace = game::readText(dir / "trace.txt");
    EXPECT_NE(trace.find(R"("event":"page","source":)"), std::string::npos) << trace;
    EXPECT_NE(trace.find(R"("at":"Scenario/scenario0.txt:3"})"), std::string::npos) << trace;
    EXPECT_NE(trace.find(R"("text":"[playbgm 1]","known":1,"at":"Scenario/scenario0.txt:3")"),
              std::string::npos)
        << trace;
    game::fs::remove_all(dir);
}

} // namespace
