// The author's loop on a game folder that holds only UTF-8 sources: played with --source and
// --start, edited on disk, reloaded with F5 in place.
#include <gtest/gtest.h>

#include <SDL.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
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

// F5 reads the sources as --source does: one that is a pipe, far too large or a fault a byte is
// refused within the frame, with its reason in a few lines, and the game goes on as it was.
TEST_F(Authoring, AHostileSourceIsRefusedByF5WithinTheFrame) {
    struct Case {
        const char* what;
        void (*make)(const path& file);
        const char* reason;
    };
    const Case cases[] = {
        {"a pipe", [](const path& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); },
         "Scenario/end1.txt is not a regular file"},
        {"5 MB",
         [](const path& f) {
             game::writeBytes(f, "*b\n");
             game::fs::resize_file(f, 5 << 20);
         },
         "is 5242880 bytes, over the bound of 4194304"},
        {"lone CRs", [](const path& f) { game::writeBytes(f, std::string(300000, '\r')); },
         "(and 299990 more like it)"},
    };
    for (const Case& c : cases) {
        writeSourceGame(dir_, "*here\nひとつめ。\n[reset]\n", kBlock1);
        start("here");
        frames(10);
        const path file = dir_ / "Scenario" / "end1.txt";
        game::fs::remove(file);
        c.make(file);
        // A reader waiting on the pipe is let go by a writer, so that a fault fails the test
        // rather than hanging it.
        std::atomic<bool> done{false};
        std::thread writer([&] {
            while (!done) {
                const int fd = ::open(file.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
                SDL_Delay(20);
            }
        });
        testing::internal::CaptureStderr();
        pressF5();
        const std::string err = testing::internal::GetCapturedStderr();
        done = true;
        writer.join();
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.what << "\n" << err;
        EXPECT_LT(std::count(err.begin(), err.end(), '\n'), 40) << c.what;
        frames(3);
        EXPECT_EQ(shown(), game::sj("ひとつめ。")) << c.what;
        stopAuthoring();
        game::fs::remove_all(dir_);
    }
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

// --start names a label the block must hold: one it does not is a failed start, told before
// the first frame, with exit status 1.
TEST(AuthoringCommandLine, AStartLabelTheBlockDoesNotHoldEndsTheProgram) {
    const path dir =
        game::fs::temp_directory_path() / ("tolvane-start-" + std::to_string(::getpid()));
    game::fs::remove_all(dir);
    writeSourceGame(dir, "あ\n[reset]\n", kBlock1);
    game::writeBytes(dir / "Scenario" / "end1.qv_",
                     game::scrambled(game::sj("*b\r\nおわり\r\n[reset]\r\n")));
    // Longer than both blocks: the game loads only what block 0 holds, and so does the check.
    game::writeBytes(dir / "Scenario" / "scenario0.qv_",
                     game::scrambled("*a\r\n" + std::string(200000, 'x') + "\r\n*late\r\n"));
    struct Case {
        const char* args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"--source --start 1:*nope", 1, "--start 1:*nope: Scenario/end1.txt has no such label"},
        {"--start 1:*nope", 1, "--start 1:*nope: Scenario/end1.qv_ has no such label"},
        {"--source --start 0:*b", 1, "Scenario/scenario0.txt has no such label"},
        {"--source --start 1:*b", 0, ""},
        {"--start 1:*b", 0, ""},
        {"--start 0:*a", 0, ""},
        {"--start 0:*late", 1, "Scenario/scenario0.qv_ has no such label"},
    };
    for (const Case& c : cases) {
        const game::RunResult run =
            game::runGame(dir, std::string("--headless --frames 5 ") + c.args + " .");
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << "\n" << run.err;
        if (*c.message) {
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        }
    }
    game::fs::remove_all(dir);
}

} // namespace
