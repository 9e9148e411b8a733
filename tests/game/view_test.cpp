// The text box put away and brought back, and the screenshot key, played headless: what the
// picture shows while the box is away, that the press bringing it back reaches nothing else,
// and where a screenshot goes.
#include "game_fixture.h"

#include <zlib.h>

#include <cstdlib>
#include <map>
#include <vector>

using namespace game;

namespace {

// A page that waits for a click, then a choice of two links.
std::string block0() {
    return sj("あいう") + "\r\n" + sj("えお") + "\r\n[link target=*a]" + sj("かき") +
           "[endlink]\r\n[link target=*b]" + sj("くけ") + "[endlink]\r\n[s]\r\n*a\r\n" + sj("さ") +
           "[reset]\r\n*b\r\n" + sj("し") + "[reset]\r\n";
}

// The checksum the state gives of a frame that shows background 0 alone.
long long backgroundAloneChecksum() {
    const std::vector<std::uint32_t> argb(800 * 600, 0xFF000000u | backgroundColour(0));
    return static_cast<long long>(::crc32(0L, reinterpret_cast<const Bytef*>(argb.data()),
                                          static_cast<uInt>(argb.size() * 4)));
}

class View : public ReplayTest {
protected:
    void SetUp() override {
        ReplayTest::SetUp();
        writeGame(dir_, block0(), "[reset]");
        ::setenv("XDG_PICTURES_DIR", (dir_ / "pictures").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_PICTURES_DIR");
        ReplayTest::TearDown();
    }
};

// Starts the game at 2; by frame 20 the first page waits for its click.
constexpr const char* kToWait = "2 click\n";

} // namespace

TEST_F(View, TheBoxGoesAwayAndTheNextPressBringsItBackAndGoesNoFurther) {
    struct Case {
        const char* what;
        const char* hide; // at 20
        const char* show; // at 30, held to 34
    };
    const Case cases[] = {
        {"H, then a click", "20 keydown H\n21 keyup H\n", "30 down left\n34 up left\n"},
        {"the middle button, then Return", "20 down middle\n21 up middle\n",
         "30 keydown Return\n34 keyup Return\n"},
        {"H, then F1", "20 keydown H\n21 keyup H\n", "30 keydown F1\n34 keyup F1\n"},
        {"H, then Escape", "20 keydown H\n21 keyup H\n", "30 keydown Escape\n34 keyup Escape\n"},
        {"H, then the right button", "20 keydown H\n21 keyup H\n", "30 down right\n34 up right\n"},
        {"H, then H", "20 keydown H\n21 keyup H\n", "30 keydown H\n34 keyup H\n"},
        {"H, then the wheel away", "20 keydown H\n21 keyup H\n", "30 wheel 1\n"},
        {"H, then held Ctrl", "20 keydown H\n21 keyup H\n",
         "30 keydown Left Ctrl\n34 keyup Left Ctrl\n"},
        {"the pad's Y, then its A", "20 pad y down\n21 pad y up\n", "30 pad a down\n34 pad a up\n"},
        {"the pad's Y, then its Back", "20 pad y down\n21 pad y up\n",
         "30 pad back down\n34 pad back up\n"},
    };
    for (const Case& c : cases) {
        auto s = play(std::string(kToWait) + c.hide + c.show + "40 click\n", {19, 25, 29, 36, 45},
                      "", 45);
        ASSERT_FALSE(jsonBool(s[19], "textRunning")) << c.what << ": no click wait by 19";
        EXPECT_TRUE(jsonBool(s[25], "textHidden")) << c.what;
        // The picture alone: the background, not even the pointer over it.
        EXPECT_EQ(jsonNumber(s[25], "picture"), backgroundAloneChecksum()) << c.what;
        EXPECT_EQ(jsonNumber(s[29], "revealPos"), jsonNumber(s[19], "revealPos")) << c.what;
        // Back as it was, and the press spent on that: still the same page, in the game, with
        // nothing of the comforts open.
        EXPECT_FALSE(jsonBool(s[36], "textHidden")) << c.what;
        EXPECT_EQ(jsonNumber(s[36], "picture"), jsonNumber(s[19], "picture")) << c.what;
        EXPECT_EQ(jsonNumber(s[36], "scene"), 211) << c.what;
        EXPECT_EQ(jsonNumber(s[36], "revealPos"), jsonNumber(s[19], "revealPos")) << c.what;
        EXPECT_FALSE(jsonBool(s[36], "menuOpen") || jsonBool(s[36], "backlogOpen")) << c.what;
        // The next click is the game's again.
        EXPECT_GT(jsonNumber(s[45], "revealPos"), jsonNumber(s[19], "revealPos")) << c.what;
    }
}

TEST_F(View, AtAChoiceTheKeyThatBringsTheBoxBackTakesNoLink) {
    // Clicks at the two waits of the first page; the choice is up by 69.
    const std::string toChoice = "2 click\n20 click\n35 click\n";
    auto s =
        play(toChoice + "70 keydown H\n71 keyup H\n80 keydown 1\n81 keyup 1\n", {69, 85}, "", 90);
    ASSERT_TRUE(jsonBool(s[69], "choiceWait"));
    EXPECT_TRUE(jsonBool(s[85], "choiceWait"));
    EXPECT_FALSE(jsonBool(s[85], "textHidden"));
    EXPECT_EQ(readText(dir_ / "trace.jsonl").find("\"event\":\"choice\""), std::string::npos);
}

TEST_F(View, TheScreenshotKeyKeepsTheFrameInThePicturesFolder) {
    for (const char* key : {"S", "F12"}) {
        fs::remove_all(dir_ / "pictures");
        const std::string input = std::string(kToWait) + "24 keydown " + key + "\n25 keyup " + key +
                                  "\n26 keydown H\n27 keyup H\n30 keydown " + key + "\n";
        writeBytes(dir_ / "input.txt", input);
        run_ = runGame(dir_, "--headless --input input.txt --frames 40 --screenshot 24:at24.png "
                             "--screenshot 30:at30.png --state 35:s35.json");
        ASSERT_EQ(run_.exitCode, 0) << run_.err;
        std::vector<fs::path> shots;
        for (const auto& entry : fs::directory_iterator(dir_ / "pictures"))
            shots.push_back(entry.path());
        // In the order taken: the second of a second has "-2" after the time.
        std::sort(shots.begin(), shots.end(), [](const fs::path& a, const fs::path& b) {
            return std::pair(a.string().size(), a) < std::pair(b.string().size(), b);
        });
        ASSERT_EQ(shots.size(), 2u) << key;
        for (const fs::path& shot : shots) {
            const std::string name = shot.filename().string();
            EXPECT_TRUE(name.starts_with("tolvane-20") && name.ends_with(".png")) << name;
            EXPECT_NE(run_.out.find("screenshot saved: " + shot.string()), std::string::npos)
                << run_.out;
        }
        // The frame the key was pressed in, as the program's own screenshot of it has it; the
        // second taken with the box away keeps it away.
        EXPECT_TRUE(readText(shots[0]) == readText(dir_ / "at24.png")) << key;
        EXPECT_TRUE(readText(shots[1]) == readText(dir_ / "at30.png")) << key;
        EXPECT_TRUE(jsonBool(readText(dir_ / "s35.json"), "textHidden")) << key;
    }
}

TEST_F(View, AScreenshotThatCannotBeWrittenIsToldAndThePlayGoesOn) {
    writeBytes(dir_ / "pictures", "a file where the folder would be");
    writeBytes(dir_ / "input.txt", std::string(kToWait) + "24 keydown S\n25 keyup S\n30 click\n");
    run_ = runGame(dir_, "--headless --input input.txt --frames 40 --state 40:s40.json");
    EXPECT_EQ(run_.exitCode, 0) << run_.err;
    EXPECT_NE(run_.err.find("the screenshot was not saved"), std::string::npos) << run_.err;
    EXPECT_EQ(readText(dir_ / "pictures"), "a file where the folder would be");
    EXPECT_EQ(jsonNumber(readText(dir_ / "s40.json"), "scene"), 211);
}
