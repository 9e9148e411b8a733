// A frame is drawn only where it changed, and presented only when it did; the picture must be
// exactly what a full redraw gives. The demo is played headless from the title through typing,
// click waits, a moving pointer, F1, choices, [reset] and the continue, and many frames of it,
// runs of consecutive frames around every change of scene and choice among them, are compared
// pixel for pixel with the same frames drawn whole (--full-redraw).
#include "game_fixture.h"
#include "support/game_copy.h"

#include <set>
#include <vector>

using namespace game;

namespace {

constexpr int kFrames = 3300;

} // namespace

class FrugalFrames : public GameTest {};

TEST_F(FrugalFrames, EveryFrameEqualsTheFullRedraw) {
    const fs::path demo = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
    ASSERT_TRUE(fs::exists(demo / "Scenario" / "scenario0.qv_")) << "the demo game is not built";
    game_copy::copyGameFiles(demo, dir_ / "game");
    const fs::path game = dir_ / "game";
    writeBytes(game / "input.txt", demoWalkInput(kFrames));

    // Where things happen, from a first run's trace.
    RunResult run = runGame(game, "--headless --frames " + std::to_string(kFrames) +
                                      " --input input.txt --trace trace.jsonl");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string trace = readText(game / "trace.jsonl");
    std::set<long long> events;
    for (const char* kind : {"\"event\":\"scene\"", "\"event\":\"choice\"",
                             "\"event\":\"checkpoint_restore\"", "\"text\":\"[reset]\""})
        for (long long f : framesOf(trace, kind))
            events.insert(f);
    EXPECT_GE(framesOf(trace, "\"event\":\"choice\"").size(), 1u);
    EXPECT_EQ(framesOf(trace, "\"event\":\"checkpoint_restore\"").size(), 1u);

    std::set<long long> shots;
    for (long long f = 1; f <= 90; ++f) // the title, the start, typing under a moving pointer
        shots.insert(f);
    for (long long e : events)
        for (long long f = e - 3; f <= e + 8; ++f)
            if (f >= 1 && f <= kFrames) shots.insert(f);
    for (long long f = 100; f <= kFrames; f += 37) // click waits and pages along the way
        shots.insert(f);

    for (const char* mode : {"frugal", "full"}) {
        fs::create_directories(game / mode);
        std::string args = std::string("--headless --input input.txt --frames ") +
                           std::to_string(kFrames) +
                           (std::string(mode) == "full" ? " --full-redraw" : "");
        for (long long f : shots)
            args += " --screenshot " + std::to_string(f) + ":" + mode + "/" + std::to_string(f) +
                    ".bmp";
        fs::remove(game / "Data.sav");
        run = runGame(game, args);
        ASSERT_EQ(run.exitCode, 0) << mode << ": " << run.err;
    }
    int differing = 0;
    for (long long f : shots) {
        const std::string name = std::to_string(f) + ".bmp";
        const std::string frugal = readText(game / "frugal" / name);
        ASSERT_FALSE(frugal.empty()) << "frame " << f << " was not written";
        if (frugal != readText(game / "full" / name) && ++differing <= 5)
            ADD_FAILURE() << "frame " << f << " differs from its full redraw";
    }
    EXPECT_EQ(differing, 0) << "of " << shots.size() << " frames";
}
