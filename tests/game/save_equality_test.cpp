// A quit save, loaded by a new process, is the very moment the first process left: the frames
// that follow it, state and picture, are the frames the game went on to show without the quit.
// Shown on the demo and on stories made at random (seeded), across a checkpoint, a choice, the
// [reset] that ends the game, the title and the continue that follows.
#include "game_fixture.h"

#include <algorithm>
#include <functional>
#include <random>

#include "support/game_copy.h"
#include "support/random_story.h"
#include "support/state_compare.h"

using namespace game;
using random_story::makeStory;
using random_story::Story;

namespace {

// A replayed input: one line "FRAME EVENT ARGS" for each event, in frame order.
struct InputLine {
    std::uint64_t frame;
    std::string event;
};

std::string inputText(const std::vector<InputLine>& lines, std::uint64_t after = 0) {
    std::string text;
    for (const InputLine& line : lines)
        if (line.frame > after)
            text += std::to_string(line.frame - after) + " " + line.event + "\n";
    return text;
}

// The left button pressed at every even frame from `from` to `until` and let go at the next.
void addClicks(std::vector<InputLine>* lines, std::uint64_t from, std::uint64_t until) {
    for (std::uint64_t f = from + from % 2; f < until; f += 2) {
        lines->push_back({f, "down left"});
        lines->push_back({f + 1, "up left"});
    }
}

void sortInput(std::vector<InputLine>* lines) {
    std::stable_sort(lines->begin(), lines->end(),
                     [](const InputLine& a, const InputLine& b) { return a.frame < b.frame; });
}

// The states of frames first..last of a run, the frame number left out, the files removed.
std::vector<std::string> takeStates(const fs::path& dir, std::uint64_t first, std::uint64_t last) {
    std::vector<std::string> states;
    for (std::uint64_t f = first; f <= last; ++f) {
        const fs::path file = dir / ("s" + std::to_string(f) + ".json");
        std::string state = readText(file);
        fs::remove(file);
        const std::size_t comma = state.find(',');
        if (state.starts_with("{\"frame\":") && comma != std::string::npos) state.erase(1, comma);
        states.push_back(state_compare::withoutEffectClock(std::move(state)));
    }
    return states;
}

std::string stateArguments(std::uint64_t first, std::uint64_t last) {
    std::string args;
    for (std::uint64_t f = first; f <= last; ++f)
        args += " --state " + std::to_string(f) + ":s" + std::to_string(f) + ".json";
    return args;
}

// Where a run went: the frames of its trace's landmarks (0: never).
struct Landmarks {
    std::uint64_t gameStart = 0;  // the first frame of the first game
    std::uint64_t checkpoint = 0; // the checkpoint written
    std::uint64_t choice = 0;     // the first choice taken
    std::uint64_t reset = 0;      // the first game ended: back on the title
    std::uint64_t resumed = 0;    // the continue: the checkpoint restored
};

std::uint64_t firstFrame(const std::string& trace, const std::string& match, std::uint64_t after) {
    for (long long f : framesOf(trace, match))
        if (f > static_cast<long long>(after)) return static_cast<std::uint64_t>(f);
    return 0;
}

Landmarks landmarksOf(const std::string& trace) {
    Landmarks m;
    m.gameStart = firstFrame(trace, "\"scene\":211", 0);
    m.checkpoint = firstFrame(trace, "\"event\":\"checkpoint_write\"", 0);
    m.choice = firstFrame(trace, "\"event\":\"choice\"", 0);
    m.reset = firstFrame(trace, "\"scene\":200", m.gameStart);
    m.resumed = firstFrame(trace, "\"event\":\"checkpoint_restore\"", 0);
    return m;
}

// Plays `input` to frame `quitAt` (the quit save made then), and again to `last` in a second
// folder; then, in a copy of the first folder, --load quit with the input after `quitAt`. Frame
// k of the load must be frame quitAt + k of the second run. `fresh` makes a game folder.
void expectTheLoadPlaysOn(const fs::path& root, const std::function<void(const fs::path&)>& fresh,
                          const std::string& options, const std::vector<InputLine>& input,
                          std::uint64_t quitAt, std::uint64_t last, const std::string& what) {
    const fs::path a = root / "quit", b = root / "on", c = root / "load";
    for (const fs::path& dir : {a, b, c})
        fs::remove_all(dir);
    fresh(a);
    fresh(b);
    writeBytes(a / "input.txt", inputText(input));
    writeBytes(b / "input.txt", inputText(input));
    RunResult run = runGame(a, options + " --input input.txt --frames " + std::to_string(quitAt));
    ASSERT_EQ(run.exitCode, 0) << what << ": " << run.err;
    ASSERT_TRUE(fs::exists(a / "QuitSave.sav")) << what << ": no quit save after frame " << quitAt;
    run = runGame(b, options + " --input input.txt --frames " + std::to_string(last) +
                         stateArguments(quitAt + 1, last));
    ASSERT_EQ(run.exitCode, 0) << what << ": " << run.err;
    const std::vector<std::string> on = takeStates(b, quitAt + 1, last);

    fs::copy(a, c, fs::copy_options::recursive);
    writeBytes(c / "input.txt", inputText(input, quitAt));
    run = runGame(c, options + " --load quit --input input.txt --frames " +
                         std::to_string(last - quitAt) + stateArguments(1, last - quitAt));
    ASSERT_EQ(run.exitCode, 0) << what << ": " << run.err;
    const std::vector<std::string> loaded = takeStates(c, 1, last - quitAt);

    int differing = 0;
    for (std::size_t k = 0; k < on.size(); ++k)
        if (loaded[k] != on[k] && ++differing <= 2)
            ADD_FAILURE() << what << ": frame " << k + 1 << " after the load (" << quitAt + k + 1
                          << " of the run that went on):\n"
                          << loaded[k] << on[k];
    EXPECT_EQ(differing, 0) << what << ": of " << on.size() << " frames";
}

// The pointer, in its corner as a game starts, onto link i of a choice after one line of text
// (each link a line 35 pixels high from y = 85; a unit of movement is two pixels).
std::string ontoLink(int i) {
    return "move 40 " + std::to_string(46 + (35 * i) / 2);
}

void copyDemo(const fs::path& to) {
    game_copy::copyGameFiles(fs::path(TOLVANE_BINARY_DIR) / "demo" / "game", to);
}

// A game folder that plays the story from its sources (--source).
void writeStory(const fs::path& dir, const Story& story) {
    writeGame(dir, "", "");
    fs::remove(dir / "Scenario" / "scenario0.qv_");
    fs::remove(dir / "Scenario" / "end1.qv_");
    writeBytes(dir / "Scenario" / "scenario0.txt", story.block0);
    writeBytes(dir / "Scenario" / "end1.txt", story.block1);
}

} // namespace

class SaveEquality : public GameTest {};

TEST_F(SaveEquality, TheDemoLoadsWhereItWasQuitAndPlaysOnTheSame) {
    ASSERT_TRUE(
        fs::exists(fs::path(TOLVANE_BINARY_DIR) / "demo" / "game" / "Scenario" / "scenario0.qv_"))
        << "the demo is not built";
    // A click every other frame, the pointer onto the line of the first link once the game
    // runs: the game starts, reads on to its checkpoint and its choice, takes the first link to
    // an ending, [reset]s to the title and continues from the checkpoint.
    std::vector<InputLine> input = {{20, ontoLink(0)}};
    addClicks(&input, 4, 9000);
    sortInput(&input);
    copyDemo(dir_ / "way");
    writeBytes(dir_ / "way" / "input.txt", inputText(input));
    RunResult run = runGame(dir_ / "way", "--headless --input input.txt --frames 9000 --trace t");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Landmarks way = landmarksOf(readText(dir_ / "way" / "t"));
    ASSERT_TRUE(way.checkpoint && way.choice > way.checkpoint && way.reset > way.choice &&
                way.resumed > way.reset)
        << "the walk never got through the choice, the [reset] and the continue: " << way.checkpoint
        << " " << way.choice << " " << way.reset << " " << way.resumed;
    // In the continued game the pointer goes onto the second link (the title put it back).
    input.push_back({way.resumed + 1, ontoLink(1)});
    sortInput(&input);

    // Quit at the choice, the button up, with the page shown whole and its links waiting.
    const std::uint64_t quitAt = (way.choice - 4) | 1;
    expectTheLoadPlaysOn(dir_, copyDemo, "--headless", input, quitAt, way.resumed + 300, "demo");
}

TEST_F(SaveEquality, RandomStoriesLoadWhereTheyWereQuitAndPlayOnTheSame) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        const std::string what = "story " + std::to_string(seed);
        const Story story = makeStory(seed);
        const auto fresh = [&story](const fs::path& dir) { writeStory(dir, story); };
        const fs::path way = dir_ / "way";
        fs::remove_all(way);
        fresh(way);
        // The story is one the author's checks pass, so what follows tests the save alone.
        const std::string lint = "cd '" + way.string() +
                                 "' && '" TOLVANE_BINARY_DIR
                                 "/tools/tolvane-script' lint --source . > lint.txt 2>&1";
        ASSERT_EQ(std::system(lint.c_str()), 0)
            << what << ":\n"
            << readText(way / "lint.txt") << story.block0 << story.block1;
        RunResult run;

        // A click every other frame; the pointer goes onto one of the links once the game runs.
        std::mt19937 random(seed);
        const auto ontoALink = [&] {
            return ontoLink(static_cast<int>(random() % static_cast<unsigned>(story.links)));
        };
        std::vector<InputLine> input = {{20, ontoALink()}};
        addClicks(&input, 4, 1000);
        sortInput(&input);
        writeBytes(way / "input.txt", inputText(input));
        run = runGame(way, "--headless --source --input input.txt --frames 1000 --trace t");
        ASSERT_EQ(run.exitCode, 0) << what << ": " << run.err;
        const Landmarks m = landmarksOf(readText(way / "t"));
        ASSERT_TRUE(m.gameStart && m.choice && m.reset > m.choice && m.resumed > m.reset)
            << what << " never got through its choice, [reset] and continue:\n"
            << story.block0 << story.block1;
        // The continued game takes a link too.
        input.push_back({m.resumed + 1, ontoALink()});
        sortInput(&input);
        // Quit anywhere in the first game, the button up; play on into the continued game.
        const std::uint64_t quitAt = (m.gameStart + 1 + random() % (m.reset - m.gameStart - 2)) | 1;
        expectTheLoadPlaysOn(dir_, fresh, "--headless --source", input, quitAt, m.resumed + 40,
                             what);
        if (HasFailure()) break;
    }
}
