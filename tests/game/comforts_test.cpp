// The player's comforts, played headless: taps, the keyboard and the wheel, skip, auto mode, the
// backlog, the menu and the settings file; and the game alone (mouse, F1, Escape) played the
// same with them as without them.
#include "game_fixture.h"
#include "support/game_copy.h"

#include <map>
#include <vector>

using namespace game;

namespace {

class Comforts : public ReplayTest {
protected:
    void SetUp() override {
        ReplayTest::SetUp();
        writeGame(dir_, choiceStoryBlock0(), choiceStoryBlock1());
    }

    // Plays the input and returns the state after each of the frames asked for.
};

long long scene(const std::string& state) {
    return jsonNumber(state, "scene");
}
long long revealed(const std::string& state) {
    return jsonNumber(state, "revealPos");
}

} // namespace

TEST_F(Comforts, TapsKeysAndTheWheelActAsALeftClick) {
    struct Case {
        const char* what;
        const char* start; // starts the game from the title
        const char* wait;  // answers the first click wait (reached at frame 6)
    };
    const Case cases[] = {
        {"a tap", "2 tap\n", "8 tap\n"},
        {"Return", "2 keydown Return\n3 keyup Return\n", "8 keydown Return\n9 keyup Return\n"},
        {"keypad Enter", "2 keydown Keypad Enter\n3 keyup Keypad Enter\n",
         "8 keydown Keypad Enter\n9 keyup Keypad Enter\n"},
        {"Space", "2 keydown Space\n3 keyup Space\n", "8 keydown Space\n9 keyup Space\n"},
        {"the wheel towards the player", "2 click\n", "8 wheel -1\n"},
    };
    for (const Case& c : cases) {
        auto states = play(std::string(c.start) + c.wait, {6, 7, 14});
        EXPECT_EQ(scene(states[6]), 211) << c.what;
        EXPECT_EQ(jsonBool(states[7], "textRunning"), false) << c.what << ": no wait at 7";
        EXPECT_GT(revealed(states[14]), revealed(states[7])) << c.what;
    }
    // Without them the text stays at its wait.
    auto states = play("2 click\n", {7, 14});
    EXPECT_EQ(revealed(states[14]), revealed(states[7]));
}

TEST_F(Comforts, ChoicesAreTakenWithTheKeyboard) {
    const std::string toChoice = "2 click\n8 click\n16 click\n";
    struct Case {
        const char* keys;
        const char* target;
    };
    const Case cases[] = {
        {"35 keydown Down\n36 keyup Down\n37 keydown Return\n38 keyup Return\n", "a"},
        {"35 keydown Tab\n36 keyup Tab\n37 keydown Tab\n38 keyup Tab\n39 keydown Return\n", "b"},
        {"35 keydown Up\n36 keyup Up\n37 keydown Return\n38 keyup Return\n", "b"},
        {"35 keydown 2\n36 keyup 2\n", "b"},
        {"35 keydown 1\n36 keyup 1\n", "a"},
    };
    for (const Case& c : cases) {
        play(toChoice + c.keys, {50});
        EXPECT_NE(trace().find(std::string("\"target\":\"") + c.target + "\""), std::string::npos)
            << c.keys << "\n"
            << trace();
    }
}

TEST_F(Comforts, HoldingCtrlSkipsToTheChoiceAndNeverTakesIt) {
    auto states = play("2 click\n4 keydown Left Ctrl\n", {8, 40});
    EXPECT_TRUE(jsonBool(states[8], "choiceWait"));
    EXPECT_TRUE(jsonBool(states[40], "choiceWait"));
    EXPECT_EQ(trace().find("\"event\":\"choice\""), std::string::npos);
    states = play("2 click\n", {8});
    EXPECT_FALSE(jsonBool(states[8], "choiceWait"));
}

TEST_F(Comforts, AutoModeGoesOnAfterTheLinesTime) {
    // 1.5 s and 50 ms for each of the line's three characters: 99 frames at 60 a second.
    auto states = play("2 click\n4 keydown A\n5 keyup A\n", {9, 100, 104, 112});
    EXPECT_TRUE(jsonBool(states[9], "autoMode"));
    EXPECT_FALSE(jsonBool(states[9], "textRunning"));
    EXPECT_EQ(revealed(states[100]), revealed(states[9]));
    EXPECT_GT(revealed(states[112]), revealed(states[9]));
    // A again turns it off.
    states = play("2 click\n4 keydown A\n5 keyup A\n6 keydown A\n7 keyup A\n", {9, 112});
    EXPECT_FALSE(jsonBool(states[112], "autoMode"));
    EXPECT_EQ(revealed(states[112]), revealed(states[9]));
}

TEST_F(Comforts, TheBacklogHoldsEarlierPagesAndTheGameWaitsWhileItIsOpen) {
    // Through the choice into block 1, then PageUp at its wait.
    const std::string input = "2 click\n8 click\n16 click\n35 keydown 1\n36 keyup 1\n"
                              "50 keydown PageUp\n51 keyup PageUp\n54 click\n"
                              "60 keydown Return\n61 keyup Return\n";
    auto states = play(input, {49, 52, 58, 62});
    EXPECT_GE(jsonNumber(states[52], "backlogPages"), 1);
    EXPECT_TRUE(jsonBool(states[52], "backlogOpen"));
    EXPECT_EQ(revealed(states[58]), revealed(states[49])) << "a click went to the game";
    EXPECT_FALSE(jsonBool(states[62], "backlogOpen"));
    // The wheel away from the player opens it too; scrolling past its end closes it.
    states = play("2 click\n8 click\n16 click\n35 keydown 1\n36 keyup 1\n50 wheel 1\n54 wheel -1\n"
                  "56 wheel -1\n",
                  {52, 58});
    EXPECT_TRUE(jsonBool(states[52], "backlogOpen"));
    EXPECT_FALSE(jsonBool(states[58], "backlogOpen"));
}

TEST_F(Comforts, TheMenuChangesSettingsThatAreKept) {
    const fs::path settings = dir_ / "config" / "settings.ini";
    // Right click opens the menu; four items down is the music volume; Return lowers it.
    const std::string input = "2 click\n10 down right\n11 up right\n"
                              "12 keydown Down\n13 keyup Down\n14 keydown Down\n15 keyup Down\n"
                              "16 keydown Down\n17 keyup Down\n18 keydown Down\n19 keyup Down\n"
                              "20 keydown Return\n21 keyup Return\n22 down right\n23 up right\n";
    auto states = play(input, {12, 21, 24}, "--settings " + settings.string());
    EXPECT_TRUE(jsonBool(states[12], "menuOpen"));
    EXPECT_EQ(jsonNumber(states[21], "menuItem"), 4);
    EXPECT_EQ(jsonNumber(states[21], "musicVolume"), 75);
    EXPECT_FALSE(jsonBool(states[24], "menuOpen"));
    EXPECT_NE(readText(settings).find("music_volume = 75"), std::string::npos)
        << readText(settings);

    // The next run starts with it.
    states = play("", {2}, "--settings " + settings.string());
    EXPECT_EQ(jsonNumber(states[2], "musicVolume"), 75);

    // A damaged file is named on standard error and its settings keep their defaults.
    writeBytes(settings, "music_volume = loud\nthis is not a setting\neffect_volume = 25\n");
    states = play("", {2}, "--settings " + settings.string());
    EXPECT_EQ(jsonNumber(states[2], "musicVolume"), 100);
    EXPECT_EQ(jsonNumber(states[2], "effectVolume"), 25);
    EXPECT_NE(run_.err.find("settings.ini:1:"), std::string::npos) << run_.err;
    EXPECT_NE(run_.err.find("settings.ini:2:"), std::string::npos) << run_.err;
}

TEST_F(Comforts, TextSpeedAndAutoTimingsComeFromTheSettings) {
    const fs::path settings = dir_ / "settings.ini";
    // As is, the first line (three characters) is written a character a frame.
    auto states = play("2 click\n", {4, 5}, "--settings " + settings.string());
    EXPECT_LT(revealed(states[4]), revealed(states[5]));
    writeBytes(settings, "text_speed = faster\n");
    auto faster = play("2 click\n", {4}, "--settings " + settings.string());
    EXPECT_GT(revealed(faster[4]), revealed(states[4]));
    writeBytes(settings, "text_speed = instant-page\n");
    states = play("2 click\n", {4}, "--settings " + settings.string());
    EXPECT_FALSE(jsonBool(states[4], "textRunning")) << "the line is written at once and waits";
    // Auto mode after 0.1 s and nothing a character: 6 frames at 60 a second.
    writeBytes(settings, "auto_base_ms = 100\nauto_per_char_ms = 0\n");
    states = play("2 click\n4 keydown A\n5 keyup A\n", {9, 16}, "--settings " + settings.string());
    EXPECT_GT(revealed(states[16]), revealed(states[9]));
}

// The demo, played with only the mouse, F1 and Escape, gives the same state at every frame
// with the comforts as with the game alone (--plain).
TEST_F(Comforts, TheGameAlonePlaysTheSameWithThem) {
    const fs::path demo = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
    ASSERT_TRUE(fs::exists(demo / "Scenario" / "scenario0.qv_")) << "the demo game is not built";
    game_copy::copyGameFiles(demo, dir_ / "demo");
    writeBytes(dir_ / "demo" / "input.txt", demoWalkInput(3000));
    std::vector<int> frames;
    for (int f = 1; f <= 3000; f += (f < 400 ? 7 : 23))
        frames.push_back(f);
    std::map<std::string, std::vector<std::string>> runs;
    for (const char* mode : {"", "--plain"}) {
        std::string args = std::string("--headless --input input.txt --frames 3000 ") + mode;
        for (int f : frames)
            args += " --state " + std::to_string(f) + ":" + (*mode ? "p" : "c") +
                    std::to_string(f) + ".json";
        fs::remove(dir_ / "demo" / "Data.sav");
        const RunResult run = runGame(dir_ / "demo", args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        // The game's state; the comforts' own record (a backlog kept in the background) aside.
        for (int f : frames) {
            std::string state =
                readText(dir_ / "demo" / ((*mode ? "p" : "c") + std::to_string(f) + ".json"));
            const std::size_t at = state.find(",\"comforts\":{");
            if (at != std::string::npos) state.erase(at, state.find('}', at) + 1 - at);
            runs[mode].push_back(state);
        }
    }
    int differing = 0;
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (runs[""][i] != runs["--plain"][i] && ++differing <= 3)
            ADD_FAILURE() << "frame " << frames[i] << ":\n" << runs[""][i] << runs["--plain"][i];
    EXPECT_EQ(differing, 0);
    EXPECT_NE(runs[""].back().find("\"saveWritten\":true"), std::string::npos);
}
