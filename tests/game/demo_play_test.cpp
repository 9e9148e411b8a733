// The bundled demo game, played headless from the title to both endings: the first game takes
// the first choice to the sunny ending; its [reset] arms the continue, and the continued game
// takes the second choice to the rainy ending.
#include "game_fixture.h"
#include "support/game_copy.h"

#include <vector>

using namespace game;

namespace {

// Clicks every other frame, so every click wait is answered within two frames; where the
// pointer stands when a choice comes decides the link.
std::string clicks(int until) {
    std::string input;
    for (int n = 2; n < until; n += 2)
        input += std::to_string(n) + " click\n";
    return input;
}

} // namespace

class DemoPlay : public GameTest {};

TEST_F(DemoPlay, BothEndingsAndTheContinueBetweenThem) {
    const fs::path demo = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
    ASSERT_TRUE(fs::exists(demo / "Scenario" / "scenario0.qv_")) << "the demo game is not built";
    game_copy::copyGameFiles(demo, dir_ / "game");
    const fs::path game = dir_ / "game";
    constexpr int kFrames = 4000;

    // The pointer 80 pixels down: the first link of the choice (display line 1) is under it.
    writeBytes(game / "first.txt", "3 move 0 40\n" + clicks(kFrames));
    RunResult run = runGame(game, "--headless --frames 2400 --input first.txt --trace first.jsonl");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string first = readText(game / "first.jsonl");
    const auto restarts = framesOf(first, "\"event\":\"checkpoint_restore\"");
    ASSERT_FALSE(restarts.empty()) << "the first game never reached its ending and continue";
    EXPECT_NE(first.find("\"target\":\"watasu\""), std::string::npos);

    // Again, and in the continued game the pointer goes one line lower: the second link.
    const long long continued = restarts.front();
    writeBytes(game / "second.txt",
               "3 move 0 40\n" + std::to_string(continued) + " move 0 60\n" + clicks(kFrames));
    fs::remove(game / "Data.sav");
    run = runGame(game, "--headless --frames " + std::to_string(kFrames) +
                            " --input second.txt --trace second.jsonl --state " +
                            std::to_string(kFrames) + ":end.json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string second = readText(game / "second.jsonl");
    const auto choices = framesOf(second, "\"event\":\"choice\"");
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_NE(second.find("\"target\":\"watasu\""), std::string::npos);
    EXPECT_NE(second.find("\"target\":\"motsu\""), std::string::npos);
    EXPECT_GT(choices[1], continued);
    // Two endings, each ending in [reset]; the second game began at the checkpoint.
    EXPECT_EQ(framesOf(second, "\"text\":\"[reset]\"").size(), 2u);
    EXPECT_EQ(framesOf(second, "\"event\":\"checkpoint_restore\"").front(), continued);
    const std::string end = readText(game / "end.json");
    EXPECT_TRUE(jsonBool(end, "continueGame"));
    EXPECT_TRUE(jsonBool(end, "saveWritten"));
}
