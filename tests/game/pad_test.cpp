// The game played with a game pad alone, headless: replayed pad input goes through SDL's virtual
// controller, the path a real pad's events take.
#include "game_fixture.h"

#include <SDL_image.h>

#include <map>
#include <vector>

using namespace game;

namespace {

// A press of the button at the frame, let go at the next.
std::string press(int frame, const char* button) {
    return std::to_string(frame) + " pad " + button + " down\n" + std::to_string(frame + 1) +
           " pad " + button + " up\n";
}

class Pad : public ReplayTest {
protected:
    void SetUp() override {
        ReplayTest::SetUp();
        writeGame(dir_, choiceStoryBlock0(), choiceStoryBlock1());
    }
};

long long revealed(const std::string& state) {
    return jsonNumber(state, "revealPos");
}

long long pointerX(const std::string& state) {
    return jsonNumber(state, "x", state.find("\"pointer\":"));
}

// Through the first page's two click waits to its choice (reached by frame 30).
const std::string kToChoice = "2 click\n8 click\n16 click\n";

} // namespace

TEST_F(Pad, ThePadStartsTheGameAndGoesOnAtAClickWait) {
    struct Case {
        const char* what;
        std::string start; // starts the game from the title
        std::string wait;  // answers the first click wait (reached at frame 6)
    };
    const Case cases[] = {
        {"A", press(2, "a"), press(8, "a")},
        {"A pressed and let go within a frame", "2 pad a down\n2 pad a up\n",
         "8 pad a down\n8 pad a up\n"},
        {"the right trigger", "2 axis righttrigger 32767\n3 axis righttrigger 0\n",
         "8 axis righttrigger 20000\n9 axis righttrigger 0\n"},
    };
    for (const Case& c : cases) {
        auto states = play(c.start + c.wait, {6, 7, 14});
        EXPECT_EQ(jsonNumber(states[6], "scene"), 211) << c.what;
        EXPECT_FALSE(jsonBool(states[7], "textRunning")) << c.what << ": no wait at 7";
        EXPECT_GT(revealed(states[14]), revealed(states[7])) << c.what;
    }
    // A trigger touched lightly, or held from before the wait, does not click.
    auto states = play("2 click\n8 axis righttrigger 6000\n", {7, 14});
    EXPECT_EQ(revealed(states[14]), revealed(states[7]));
}

TEST_F(Pad, TheStickAndTheDpadMoveThePointer) {
    // The pointer starts at x 10; its right edge stops at 790 - 40.
    struct Case {
        const char* what;
        const char* input;
        long long atLeast, atMost; // x at frame 30
        long long at70;            // x at frame 70, -1: not checked
    };
    const Case cases[] = {
        {"full lean: about a second across", "2 click\n5 axis leftx 32767\n", 300, 500, 750},
        {"half lean goes slower", "2 click\n5 axis leftx 20000\n", 40, 200, -1},
        {"inside the dead zone nothing", "2 click\n5 axis leftx 7900\n5 axis lefty -7900\n", 10, 10,
         10},
        {"let go, it stops", "2 click\n5 axis leftx 32767\n15 axis leftx 0\n", 100, 200, -1},
        {"the d-pad outside a choice", "2 click\n5 pad dpright down\n", 80, 200, -1},
    };
    for (const Case& c : cases) {
        auto states = play(c.input, {30, 70});
        EXPECT_GE(pointerX(states[30]), c.atLeast) << c.what << "\n" << states[30];
        EXPECT_LE(pointerX(states[30]), c.atMost) << c.what;
        if (c.at70 >= 0) {
            EXPECT_EQ(pointerX(states[70]), c.at70) << c.what;
        }
    }
}

TEST_F(Pad, TheDpadChoosesALinkAndATakesIt) {
    struct Case {
        std::string keys;
        const char* target;
    };
    const Case cases[] = {
        {press(35, "dpdown") + press(37, "a"), "a"},
        {press(35, "dpdown") + press(37, "dpdown") + press(39, "a"), "b"},
        {press(35, "dpup") + "37 axis righttrigger 32767\n", "b"},
        // Held for ten frames, the d-pad moves once.
        {"35 pad dpdown down\n45 pad dpdown up\n" + press(47, "a"), "a"},
    };
    for (const Case& c : cases) {
        play(kToChoice + c.keys, {50});
        EXPECT_NE(trace().find(std::string("\"target\":\"") + c.target + "\""), std::string::npos)
            << c.keys << "\n"
            << trace();
    }
}

TEST_F(Pad, BOpensTheMenuWhichTheDpadAndAWork) {
    // Four items down is the music volume; A lowers it; B closes the menu.
    std::string input = "2 click\n" + press(10, "b");
    for (int f = 12; f < 20; f += 2)
        input += press(f, "dpdown");
    input += press(20, "a") + press(22, "b");
    auto states = play(input, {12, 21, 24});
    EXPECT_TRUE(jsonBool(states[12], "menuOpen"));
    EXPECT_EQ(jsonNumber(states[21], "menuItem"), 4);
    EXPECT_EQ(jsonNumber(states[21], "musicVolume"), 75);
    EXPECT_FALSE(jsonBool(states[24], "menuOpen"));
    // Start opens it too, and the text waits under it.
    states = play("2 click\n" + press(10, "start"), {12, 30});
    EXPECT_TRUE(jsonBool(states[12], "menuOpen"));
    EXPECT_EQ(revealed(states[30]), revealed(states[12]));
}

TEST_F(Pad, ShouldersOpenTheBacklogAndSkipAndBackGoesToTheTitle) {
    // The left shoulder is Page Up: the backlog, once a page has gone by.
    auto states =
        play(kToChoice + press(35, "dpdown") + press(37, "a") + press(50, "leftshoulder"), {52});
    EXPECT_TRUE(jsonBool(states[52], "backlogOpen")) << states[52];
    // The right shoulder held skips to the choice as Ctrl does, and never takes it.
    states = play("2 click\n4 pad rightshoulder down\n", {8, 40});
    EXPECT_TRUE(jsonBool(states[8], "choiceWait"));
    EXPECT_EQ(trace().find("\"event\":\"choice\""), std::string::npos);
    // Back is F1.
    states = play("2 click\n" + press(10, "back"), {9, 14});
    EXPECT_EQ(jsonNumber(states[9], "scene"), 211);
    EXPECT_EQ(jsonNumber(states[14], "scene"), 201);
}

TEST_F(Pad, ThePlainGameTakesNoPad) {
    auto states = play(press(2, "a") + "4 axis leftx 32767\n", {10}, "--plain");
    EXPECT_EQ(jsonNumber(states[10], "scene"), 201);
    EXPECT_EQ(pointerX(states[10]), 10);
}

// After three seconds of the pad without the pointer moving, the pointer's picture (yellow) is
// left out; the stick brings it back.
TEST_F(Pad, ThePointerHidesWhileThePadIsInUse) {
    const std::string used = "2 click\n4 axis leftx 32767\n10 axis leftx 0\n" + press(12, "x");
    struct Case {
        const char* what;
        std::string back; // at frame 300
        const char* mode;
    };
    const Case cases[] = {
        {"the stick brings it back", "300 axis lefty 32767\n", ""},
        {"the mouse brings it back", "300 move 3 0\n", ""},
        {"the game alone never hides it", "300 axis lefty 32767\n", "--plain"},
    };
    for (const Case& c : cases) {
        writeBytes(dir_ / "input.txt", used + c.back);
        const RunResult run =
            runGame(dir_, std::string("--headless --input input.txt --frames 300 ") + c.mode +
                              " --screenshot 100:shown.png --screenshot 200:hidden.png "
                              "--screenshot 300:back.png");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::map<std::string, bool> yellow;
        for (const char* shot : {"shown", "hidden", "back"}) {
            SDL_Surface* s = IMG_Load((dir_ / (std::string(shot) + ".png")).c_str());
            ASSERT_NE(s, nullptr) << IMG_GetError();
            SDL_Surface* rgb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB24, 0);
            SDL_FreeSurface(s);
            ASSERT_NE(rgb, nullptr);
            bool found = false;
            const auto* px = static_cast<const std::uint8_t*>(rgb->pixels);
            for (int y = 0; y < rgb->h && !found; ++y)
                for (int x = 0; x < rgb->w && !found; ++x) {
                    const std::uint8_t* q = px + y * rgb->pitch + x * 3;
                    found = q[0] > 200 && q[1] > 200 && q[2] < 60;
                }
            SDL_FreeSurface(rgb);
            yellow[shot] = found;
        }
        EXPECT_TRUE(yellow["shown"]) << c.what;
        EXPECT_EQ(yellow["hidden"], *c.mode != '\0') << c.what;
        EXPECT_TRUE(yellow["back"]) << c.what;
    }
}
