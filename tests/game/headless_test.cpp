// The whole program, run headless on a small game folder with replayed input.
#include "game_fixture.h"
#include "support/game_copy.h"

#include <SDL_image.h>

using namespace game;

namespace {

// Page 1: a click wait, pictures and music, two choices; both lead into block 1 onto a marked
// label, an effect, a click wait and [reset].
std::string block0() {
    return sj("あいう") + "\r\n[image 1 layer=base left=0 top=0][image 0 layer=0 left=150 top=20]" +
           "[playbgm 1]" + sj("えお") + "\r\n[link target=*a]" + sj("かき") + "[endlink]\r\n" +
           "[link target=*b]" + sj("くけ") + "[endlink]\r\n[s]\r\n*a\r\n" + sj("さ") +
           "[jump 1 target=*cp]\r\n*b\r\n" + sj("し") + "[jump 1 target=*cp]\r\n";
}

std::string block1() {
    return "*cp|\r\n[playse 50]" + sj("たち") + "\r\n[reset]";
}

// The whole play: title click at 2, click waits at 8 and 16, the pointer onto the second link
// at 30 and a press at 31, a click at 39 ([reset] at 40), a title click at 43 (continue).
const char* kPlayInput = R"(# frame event args
2 click
8 click
16 click
30 move 0 75
31 click
39 click
43 click
)";

std::uint32_t pixelAt(SDL_Surface* s, int x, int y) {
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB888, 0);
    const std::uint32_t p =
        static_cast<std::uint32_t*>(rgb->pixels)[y * rgb->pitch / 4 + x] & 0xFFFFFF;
    SDL_FreeSurface(rgb);
    return p;
}

void expectNear(std::uint32_t got, int r, int g, int b, const char* what) {
    EXPECT_NEAR(int(got >> 16), r, 2) << what;
    EXPECT_NEAR(int((got >> 8) & 0xFF), g, 2) << what;
    EXPECT_NEAR(int(got & 0xFF), b, 2) << what;
}

} // namespace

class Headless : public GameTest {};

TEST_F(Headless, PlaysFromTheTitleThroughAChoiceToAContinuedGame) {
    writeGame(dir_, block0(), block1());
    writeBytes(dir_ / "input.txt", kPlayInput);
    std::string args = "--headless --frames 60 --input input.txt --trace trace.jsonl";
    for (int f : {1, 3, 4, 5, 6, 14, 29, 31, 37, 40, 41, 44})
        args += " --state " + std::to_string(f) + ":state" + std::to_string(f) + ".json";
    const RunResult run = runGame(dir_, args);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    auto state = [&](int f) { return readText(dir_ / ("state" + std::to_string(f) + ".json")); };
    EXPECT_EQ(jsonNumber(state(1), "scene"), 201);
    EXPECT_EQ(jsonNumber(state(3), "scene"), 211);
    // One character a frame from the game's first frame on.
    EXPECT_EQ(jsonNumber(state(3), "revealPos"), 2);
    EXPECT_EQ(jsonNumber(state(4), "revealPos"), 4);
    EXPECT_EQ(jsonString(state(5), "text"), "あいう");
    EXPECT_FALSE(jsonBool(state(6), "textRunning"));
    EXPECT_EQ(jsonString(state(14), "text"), "あいう\nえお");
    EXPECT_EQ(jsonNumber(state(14), "currentBackground"), 1);
    EXPECT_EQ(jsonNumber(state(14), "currentBgm"), 1);
    EXPECT_EQ(jsonNumber(state(14), "primary"), 1);

    const std::string choice = state(29);
    EXPECT_TRUE(jsonBool(choice, "choiceWait"));
    EXPECT_EQ(jsonNumber(choice, "linkCount"), 2);
    EXPECT_EQ(jsonString(choice, "target"), "a");

    EXPECT_FALSE(jsonBool(state(31), "choiceWait"));
    EXPECT_EQ(jsonString(state(31), "text"), "");
    const std::string landed = state(37);
    EXPECT_EQ(jsonNumber(landed, "currentBlock"), 1);
    EXPECT_TRUE(jsonBool(landed, "saveWritten"));
    EXPECT_EQ(jsonString(landed, "text"), "たち");
    EXPECT_TRUE(std::filesystem::exists(dir_ / "Data.sav"));

    EXPECT_EQ(jsonNumber(state(40), "scene"), 200);
    EXPECT_TRUE(jsonBool(state(40), "continueGame"));
    EXPECT_EQ(jsonNumber(state(41), "scene"), 201);
    const std::string continued = state(44);
    EXPECT_EQ(jsonNumber(continued, "scene"), 211);
    EXPECT_EQ(jsonNumber(continued, "currentBlock"), 1);
    EXPECT_EQ(jsonNumber(continued, "currentBackground"), 1);
    EXPECT_TRUE(jsonBool(continued, "visible", continued.find("\"layers\"")));

    const std::string trace = readText(dir_ / "trace.jsonl");
    EXPECT_NE(trace.find("\"event\":\"scene\",\"scene\":210"), std::string::npos);
    EXPECT_NE(trace.find("\"event\":\"checkpoint_write\""), std::string::npos);
    EXPECT_NE(trace.find("\"event\":\"checkpoint_restore\""), std::string::npos);
}

TEST_F(Headless, ScreenshotsShowTheLayersTextBoxIconAndPointer) {
    writeGame(dir_, block0(), block1());
    writeBytes(dir_ / "input.txt", "2 click\n8 click\n");
    const RunResult run =
        runGame(dir_, "--headless --frames 14 --input input.txt --screenshot 1:title.png "
                      "--screenshot 13:running.png --screenshot 14:waiting.png");
    ASSERT_EQ(run.exitCode, 0) << run.err;

    SDL_Surface* title = IMG_Load((dir_ / "title.png").c_str());
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->w, 800);
    EXPECT_EQ(title->h, 600);
    expectNear(pixelAt(title, 400, 300), 128, 128, 128, "title picture");
    SDL_FreeSurface(title);

    SDL_Surface* waiting = IMG_Load((dir_ / "waiting.png").c_str());
    SDL_Surface* running = IMG_Load((dir_ / "running.png").c_str());
    ASSERT_NE(waiting, nullptr);
    ASSERT_NE(running, nullptr);
    // Background 1 under the text box at alpha 127.
    expectNear(pixelAt(waiting, 5, 595), 0x30 * 128 / 255, 0x20 * 128 / 255, 0x30 * 128 / 255 + 127,
               "background under the text box");
    // Layer 0's green figure under the text box; its magenta border keyed away.
    expectNear(pixelAt(waiting, 430, 400), 0, 0xC0 * 128 / 255, 127, "layer 0");
    // The pointer's yellow, drawn last and opaque, at its start (10, 10).
    expectNear(pixelAt(waiting, 30, 30), 255, 255, 0, "pointer");
    // The click icon behind え お on line 1 while the text waits, and not while it runs.
    expectNear(pixelAt(waiting, 120, 100), 0, 255, 255, "click icon");
    EXPECT_NE(pixelAt(running, 120, 100), 0x00FFFFu);
    SDL_FreeSurface(waiting);
    SDL_FreeSurface(running);
}

TEST_F(Headless, F1ReturnsToTheTitleAndEscapeEndsTheProgram) {
    writeGame(dir_, block0(), block1());
    writeBytes(dir_ / "input.txt", "2 click\n10 keydown F1\n11 keyup F1\n20 keydown Escape\n");
    const RunResult run = runGame(dir_, "--headless --frames 100 --input input.txt --state "
                                        "10:f1.json --state 11:title.json --state 19:last.json");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(jsonNumber(readText(dir_ / "f1.json"), "scene"), 200);
    EXPECT_EQ(jsonNumber(readText(dir_ / "title.json"), "scene"), 201);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "last.json")); // ran up to the Escape, no further
}

TEST_F(Headless, MissingFilesAreReportedAndTheGameGoesOn) {
    writeGame(dir_, block0(), block1());
    std::filesystem::remove(dir_ / "CG" / "背景3.bmp");
    std::filesystem::remove(dir_ / "Sound" / "door50.wav");
    std::filesystem::remove(dir_ / "Scenario" / "end1.qv_");
    writeBytes(dir_ / "input.txt", "2 click\n");
    const RunResult run = runGame(dir_, "--headless --frames 5 --input input.txt --state 5:s.json");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find(".\\CG\\背景3.bmp の読み込み失敗"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("MIDIファイルのロードに失敗"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Error:Open file [.\\Scenario\\end1.qv_]"), std::string::npos)
        << run.err;
    EXPECT_EQ(jsonString(readText(dir_ / "s.json"), "text"), "あいう");
    EXPECT_NE(run.out.find("File: .\\Scenario\\scenario0.qv_ \n\n"), std::string::npos);
}

TEST_F(Headless, BadCommandLinesStopBeforeAnythingStarts) {
    writeBytes(dir_ / "bad.txt", "1 click\n2 jump 3\n");
    const char* cases[] = {"--frames x",      "--bogus",           "--input missing.txt",
                           "--input bad.txt", "--screenshot nope", "no-such-folder"};
    for (const char* args : cases) {
        const RunResult run = runGame(dir_, std::string("--headless ") + args);
        EXPECT_EQ(run.exitCode, 2) << args;
        EXPECT_FALSE(run.err.empty()) << args;
    }
    EXPECT_NE(runGame(dir_, "--headless --input bad.txt").err.find("bad.txt:2"), std::string::npos);
}

TEST_F(Headless, TheFrameRateLineShowsOnlyWhenAskedFor) {
    writeGame(dir_, block0(), block1());
    // The first line comes at the first frame, counting it; then one a second. Headless frames
    // take microseconds, so a short headless run says the first line alone, and for the next the
    // game runs in a window of the offscreen driver, where frames are paced to the display: 80
    // last over 1 s.
    const RunResult first = runGame(dir_, "--headless --debug-log --frames 3");
    EXPECT_EQ(first.exitCode, 0) << first.err;
    const std::size_t at = first.err.find("SceneNo");
    ASSERT_NE(at, std::string::npos) << first.err;
    EXPECT_EQ(first.err.compare(at, std::string("SceneNo：201 / 0001 FPS").size(),
                                "SceneNo：201 / 0001 FPS"),
              0)
        << first.err;

    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    const RunResult quiet = runGame(dir_, "--frames 80");
    const RunResult loud = runGame(dir_, "--debug-log --frames 80");
    unsetenv("SDL_VIDEODRIVER");
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.err.find("SceneNo"), std::string::npos) << quiet.err;
    EXPECT_EQ(loud.exitCode, 0);
    const std::string line = "SceneNo：201 / ";
    const std::size_t opening = loud.err.find(line + "0001 FPS");
    ASSERT_NE(opening, std::string::npos) << loud.err;
    const std::size_t second = loud.err.find(line, opening + 1);
    ASSERT_NE(second, std::string::npos) << loud.err;
    EXPECT_EQ(loud.err.compare(second + line.size() + 4, 4, " FPS"), 0);
}

// The demo's first line as the player sees it: the glyphs fill the 35-pixel line (a kanji's
// white ink about 32 pixels high) and keep inside the text rectangle.
TEST_F(Headless, TheDemosFirstLineFillsItsLineInsideTheTextRectangle) {
    writeBytes(dir_ / "input.txt", "2 click\n");
    const fs::path shot = dir_ / "first.png";
    // A copy: the game in play at the end leaves a quit save beside the game.
    game_copy::copyGameFiles(TOLVANE_BINARY_DIR "/demo/game", dir_ / "demo");
    const RunResult run = runGame(
        dir_,
        "--headless --frames 120 --input input.txt --screenshot 120:" + shot.string() + " demo");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    SDL_Surface* loaded = IMG_Load(shot.c_str());
    ASSERT_NE(loaded, nullptr);
    SDL_Surface* s = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB888, 0);
    SDL_FreeSurface(loaded);
    ASSERT_NE(s, nullptr);
    // White ink of the first line, from the text box's inside to well below the line.
    int top = 600, bottom = -1, left = 800, right = -1;
    for (int y = 40; y < 120; ++y)
        for (int x = 40; x < 800; ++x) {
            const std::uint32_t p = static_cast<std::uint32_t*>(s->pixels)[y * s->pitch / 4 + x];
            if ((p >> 16) < 240 || ((p >> 8) & 0xFF) < 240 || (p & 0xFF) < 240) continue;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            left = std::min(left, x);
            right = std::max(right, x);
        }
    SDL_FreeSurface(s);
    ASSERT_GE(bottom, 0) << "no text";
    EXPECT_GE(top, 50);
    EXPECT_GE(left, 50);
    EXPECT_LT(right, 750);
    EXPECT_LT(bottom, 50 + 35);
    EXPECT_GE(bottom - top + 1, 31);
    EXPECT_LE(bottom - top + 1, 33);
}
