#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/options.h"
#include "input/input.h"
#include "player/save_file.h"

namespace fs = std::filesystem;

namespace {

// A folder of its own for each test, removed afterwards.
class Options : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tolvane-options-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string writeFile(const std::string& name, const std::string& text) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    fs::path dir;
};

bool parse(std::vector<std::string> args, ProgramOptions* out, std::string* error) {
    args.insert(args.begin(), "tolvane");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return parseOptions(static_cast<int>(args.size()), argv.data(), out, error);
}

std::string parseError(std::vector<std::string> args) {
    ProgramOptions o;
    std::string error;
    if (parse(std::move(args), &o, &error)) return "(accepted)";
    return error;
}

std::string replayError(const std::string& text) {
    std::vector<ReplayEvent> events;
    std::string error;
    if (parseReplayText(text, "in.txt", &events, &error)) return "(accepted)";
    return error;
}

std::string absolute(const char* name) {
    return (fs::current_path() / name).string();
}

} // namespace

TEST_F(Options, GoodCommandLines) {
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(parse({}, &o, &error)) << error;
    EXPECT_EQ(o.gameDir, "");
    EXPECT_FALSE(o.headless);
    EXPECT_EQ(o.frames, 0u);
    EXPECT_TRUE(o.inputFile.empty() && o.tracePath.empty() && o.replay.empty());
    EXPECT_FALSE(o.help);

    ASSERT_TRUE(parse({"--headless", "--frames", "40", dir.string(), "--screenshot", "5:a.png",
                       "--screenshot=5:sub/b.png", "--state", "40:s.json", "--trace=t.jsonl"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.gameDir, dir.string());
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.frames, 40u);
    // Outputs are written after the program moved into GAME_DIR, but mean the starting folder.
    ASSERT_EQ(o.screenshots.size(), 2u);
    EXPECT_EQ(o.screenshots[0].frame, 5u);
    EXPECT_EQ(o.screenshots[0].path, absolute("a.png"));
    EXPECT_EQ(o.screenshots[1].path, absolute("sub/b.png"));
    ASSERT_EQ(o.states.size(), 1u);
    EXPECT_EQ(o.states[0].frame, 40u);
    EXPECT_EQ(o.states[0].path, absolute("s.json"));
    EXPECT_EQ(o.tracePath, absolute("t.jsonl"));

    EXPECT_FALSE(o.source);
    EXPECT_EQ(o.startBlock, -1);
    ASSERT_TRUE(parse({"--source", "--start", "1:*owari", dir.string()}, &o, &error)) << error;
    EXPECT_TRUE(o.source);
    EXPECT_EQ(o.startBlock, 1);
    EXPECT_EQ(o.startLabel, "owari");
    EXPECT_EQ(o.gameDir, dir.string());

    // The slots by the names the command line gives them; --resume is the quit slot.
    const std::pair<std::vector<std::string>, int> starts[] = {
        {{"--load", "1"}, 1},
        {{"--load=60"}, 60},
        {{"--load", "quick"}, kQuickSlot},
        {{"--load", "quit"}, kQuitSlot},
        {{"--resume"}, kQuitSlot},
    };
    for (const auto& [args, slot] : starts) {
        ASSERT_TRUE(parse(args, &o, &error)) << error;
        EXPECT_EQ(o.loadSlot, slot) << args[0];
        EXPECT_EQ(o.resume, args[0] == "--resume") << args[0];
    }
    ASSERT_TRUE(parse({}, &o, &error));
    EXPECT_FALSE(o.loadSlot);

    ASSERT_TRUE(parse({"--state", "3:/x/a:b.json", "--", dir.string()}, &o, &error)) << error;
    EXPECT_EQ(o.states[0].path, "/x/a:b.json");
    EXPECT_EQ(o.gameDir, dir.string());

    // Help wins over whatever follows it.
    ASSERT_TRUE(parse({"--headless", "--help", "--bogus"}, &o, &error));
    EXPECT_TRUE(o.help);
    EXPECT_FALSE(o.headless);
    EXPECT_NE(usageText().find("--screenshot N:FILE"), std::string_view::npos);
    EXPECT_NE(usageText().find("--source "), std::string_view::npos);
    EXPECT_NE(usageText().find("--start B:*LABEL"), std::string_view::npos);
}

TEST_F(Options, BadCommandLinesNameTheOption) {
    const std::string missing = (dir / "missing").string();
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus' (see --help)"},
        {{"-x"}, "unknown option '-x' (see --help)"},
        {{"--bo\x01gus=1"}, "unknown option '--bo\\x01gus=1' (see --help)"},
        {{"--headless=yes"}, "--headless takes no value"},
        {{"--frames"}, "--frames needs a value (N)"},
        {{"--frames="}, "--frames needs a value (N)"},
        {{"--input", "--headless"}, "--input needs a value (FILE)"},
        {{"--frames", "0"}, "--frames: frame 0: frames count from 1"},
        {{"--frames", "-3"}, "--frames: frame -3: frames count from 1"},
        {{"--frames", "+3"}, "--frames: '+3' is not a frame number"},
        {{"--frames", "1e3"}, "--frames: '1e3' is not a frame number"},
        {{"--frames", " 5"}, "--frames: ' 5' is not a frame number"},
        {{"--frames", "2147483648"},
         "--frames: frame 2147483648 is out of range (at most 2147483647)"},
        {{"--frames", "99999999999999999999999"},
         "--frames: frame 99999999999999999999999 is out of range (at most 2147483647)"},
        {{"--frames", "3", "--frames=4"}, "--frames is given twice"},
        {{"--trace", "a", "--trace", "b"}, "--trace is given twice"},
        {{"--source=yes"}, "--source takes no value"},
        {{"--start", "2:*a"}, "--start: expected B:*LABEL with B 0 or 1, got '2:*a'"},
        {{"--start", "0:a"}, "--start: expected B:*LABEL with B 0 or 1, got '0:a'"},
        {{"--start", "0:*"}, "--start: expected B:*LABEL with B 0 or 1, got '0:*'"},
        {{"--start", "0:*a", "--start", "1:*b"}, "--start is given twice"},
        {{"--load", "0"}, "--load: expected a slot 1 to 60, quick or quit, got '0'"},
        {{"--load", "61"}, "--load: expected a slot 1 to 60, quick or quit, got '61'"},
        {{"--load", "Quick"}, "--load: expected a slot 1 to 60, quick or quit, got 'Quick'"},
        {{"--load", "1", "--load", "2"}, "--load is given twice"},
        {{"--load"}, "--load needs a value (SLOT)"},
        {{"--resume=1"}, "--resume takes no value"},
        {{"--resume", "--load", "2"}, "--resume and --load name two starts; give one"},
        {{"--source", "--load", "2", "--start", "0:*a"},
         "--load and --start name two starts; give one"},
        {{"--plain", "--resume"}, "--resume needs the saves --plain turns off"},
        {{"--text-feed", "a", "--plain"}, "--text-feed needs the comforts --plain turns off"},
        {{"--screenshot", "5"}, "--screenshot: expected N:FILE, got '5'"},
        {{"--screenshot", "5:"}, "--screenshot: expected N:FILE, got '5:'"},
        {{"--screenshot", ":a.png"}, "--screenshot: '' is not a frame number"},
        {{"--state", "x:s.json"}, "--state: 'x' is not a frame number"},
        {{"--state", "11:s.json", "--frames", "10"},
         "--state: frame 11 comes after the last frame (--frames 10)"},
        {{dir.string(), "other"},
         "unexpected argument 'other': GAME_DIR is already '" + dir.string() + "'"},
        {{missing}, "GAME_DIR '" + missing + "' is not a folder"},
        {{"--input", missing}, "--input: cannot read '" + missing + "': No such file or directory"},
        {{"--input", dir.string()}, "--input: cannot read '" + dir.string() + "': it is a folder"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseError(c.args), c.error) << c.args[0];
}

TEST(Replay, ParsesSortsAndExpands) {
    const std::string text = "\xEF\xBB\xBF# a replay\n"
                             "\n"
                             "3 keydown Escape   # close\r\n"
                             "2 click\n"
                             "3 move -2147483648 2147483647\n"
                             "\t1  down   right\n"
                             "3 keyup left shift\n"
                             "1 move 0 -0";
    std::vector<ReplayEvent> e;
    std::string error;
    ASSERT_TRUE(parseReplayText(text, "in.txt", &e, &error)) << error;
    ASSERT_EQ(e.size(), 7u);
    // By frame; within a frame in file order, the click's release where the click line is.
    EXPECT_EQ(e[0].frame, 1u);
    EXPECT_EQ(e[0].kind, ReplayKind::ButtonDown);
    EXPECT_EQ(e[0].button, 1);
    EXPECT_EQ(e[1].kind, ReplayKind::Move);
    EXPECT_EQ(e[1].dx, 0);
    EXPECT_EQ(e[2].frame, 2u);
    EXPECT_EQ(e[2].kind, ReplayKind::ButtonDown);
    EXPECT_EQ(e[2].button, 0);
    EXPECT_EQ(e[3].frame, 3u);
    EXPECT_EQ(e[3].kind, ReplayKind::KeyDown);
    EXPECT_EQ(e[3].keyCode, kKeyEscape);
    EXPECT_TRUE(e[3].escape);
    EXPECT_EQ(e[4].kind, ReplayKind::ButtonUp);
    EXPECT_EQ(e[4].frame, 3u);
    EXPECT_EQ(e[5].kind, ReplayKind::Move);
    EXPECT_EQ(e[5].dx, -2147483647 - 1);
    EXPECT_EQ(e[5].dy, 2147483647);
    EXPECT_EQ(e[6].kind, ReplayKind::KeyUp);
    EXPECT_EQ(e[6].keyCode, 0x2A);
    EXPECT_FALSE(e[6].escape);

    ASSERT_TRUE(parseReplayText("", "in.txt", &e, &error));
    EXPECT_TRUE(e.empty());
}

TEST(Replay, BadLinesNameTheFileAndLine) {
    const std::string keyHint = " (an SDL key name such as F1, Escape, Return or A)";
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"# jump\n\n1 click\n2 jump\n", "in.txt:4: unknown event 'jump'"},
        {"1 Click", "in.txt:1: unknown event 'Click'"},
        {std::string("1 jump\0\x80", 8), "in.txt:1: unknown event 'jump\\x00\x80'"},
        {"5", "in.txt:1: missing event after frame 5"},
        {"5 # click", "in.txt:1: missing event after frame 5"},
        {"click", "in.txt:1: 'click' is not a frame number"},
        {"0 click", "in.txt:1: frame 0: frames count from 1"},
        {"-1 click", "in.txt:1: frame -1: frames count from 1"},
        {"1.5 click", "in.txt:1: '1.5' is not a frame number"},
        {"2147483648 click", "in.txt:1: frame 2147483648 is out of range (at most 2147483647)"},
        {"1 move 1", "in.txt:1: 'move' takes 2 arguments (DX DY), got 1"},
        {"1 move 1 2 3", "in.txt:1: 'move' takes 2 arguments (DX DY), got 3"},
        {"1 move a 2", "in.txt:1: DX 'a' is not a whole number"},
        {"1 move 1 +2", "in.txt:1: DY '+2' is not a whole number"},
        {"1 move - 2", "in.txt:1: DX '-' is not a whole number"},
        {"1 move 0x10 2", "in.txt:1: DX '0x10' is not a whole number"},
        {"1 move 2147483648 0",
         "in.txt:1: DX 2147483648 is out of range (-2147483648 to 2147483647)"},
        {"1 move 0 -2147483649",
         "in.txt:1: DY -2147483649 is out of range (-2147483648 to 2147483647)"},
        {"1 down", "in.txt:1: 'down' takes 1 argument (left, right or middle), got 0"},
        {"1 up left right", "in.txt:1: 'up' takes 1 argument (left, right or middle), got 2"},
        {"1 down Left", "in.txt:1: unknown button 'Left' (left, right or middle)"},
        {"1 click left", "in.txt:1: 'click' takes no arguments, got 1"},
        {"1 keydown", "in.txt:1: 'keydown' takes a key name" + keyHint},
        {"1 keyup Jump", "in.txt:1: unknown key 'Jump'" + keyHint},
        {"1 keydown F1 F2", "in.txt:1: unknown key 'F1 F2'" + keyHint},
        {"1 keydown " + std::string(100, 'K'),
         "in.txt:1: unknown key '" + std::string(60, 'K') + "...'" + keyHint},
    };
    for (const Case& c : cases)
        EXPECT_EQ(replayError(c.text), c.error) << c.text;
}

// A million events at most, counted as the events the lines make (a click is two): the error
// names the line that goes past them.
TEST(Replay, AReplayHoldsAtMostAMillionEvents) {
    std::string taps;
    for (std::size_t i = 1; i < kMaxReplayEvents; ++i)
        taps += "1 tap\n";
    const std::string line = std::to_string(kMaxReplayEvents);
    struct Case {
        std::string last;
        std::string error;
    };
    const Case cases[] = {
        {"2 tap\n", "(accepted)"},
        {"2 click\n",
         "in.txt:" + line + ": more than " + line + " events; a replay holds at most that many"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(replayError(taps + c.last), c.error) << c.last;
}

TEST_F(Options, InputFileIsReadAndItsErrorsUseTheNameAsTyped) {
    const std::string good = writeFile("good.txt", "1 click\n1 keydown F1\n");
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--input", good}, &o, &error)) << error;
    EXPECT_EQ(o.inputFile, good);
    ASSERT_EQ(o.replay.size(), 3u);
    EXPECT_EQ(o.replay[1].keyCode, kKeyF1);

    const std::string bad = writeFile("bad.txt", "1 click\n\n3 move 1\n");
    EXPECT_EQ(parseError({"--input=" + bad}), bad + ":3: 'move' takes 2 arguments (DX DY), got 1");
}

TEST(Replay, FramesTakeTheirEventsOnceAndInOrder) {
    std::vector<ReplayEvent> events;
    std::string error;
    ASSERT_TRUE(parseReplayText("2 move 1 0\n2 move 2 0\n4 click\n", "in.txt", &events, &error));
    ReplayCursor cursor;
    EXPECT_TRUE(replayEventsForFrame(events, 1, &cursor).empty());
    const auto second = replayEventsForFrame(events, 2, &cursor);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1].dx, 2);
    EXPECT_TRUE(replayEventsForFrame(events, 2, &cursor).empty()) << "handed out once";
    EXPECT_TRUE(replayEventsForFrame(events, 3, &cursor).empty());
    // Frame 4 was never asked for: its press comes late rather than not at all.
    const auto sixth = replayEventsForFrame(events, 6, &cursor);
    ASSERT_EQ(sixth.size(), 2u);
    EXPECT_EQ(sixth[0].kind, ReplayKind::ButtonDown);
    EXPECT_TRUE(replayEventsForFrame(events, 7, &cursor).empty());
}

TEST(Replay, InjectedEventsReachTheSnapshots) {
    std::vector<ReplayEvent> events;
    std::string error;
    ASSERT_TRUE(parseReplayText("1 move 3 -4\n1 move 1 0\n1 down middle\n1 keydown F1\n"
                                "2 keyup F1\n2 keydown Escape\n3 keyup Escape\n",
                                "in.txt", &events, &error));
    releaseInput();
    setInputDevicesEnabled(false);
    ReplayCursor cursor;
    auto frame = [&](std::uint64_t n) {
        const bool escape = injectReplayEvents(replayEventsForFrame(events, n, &cursor));
        pollKeyboard();
        pollMouse();
        return escape;
    };
    EXPECT_FALSE(frame(1));
    EXPECT_EQ(g_mouse.lX, 4);
    EXPECT_EQ(g_mouse.lY, -4);
    EXPECT_EQ(g_mouse.rgbButtons[2], 0x80);
    EXPECT_EQ(g_keys[kKeyF1], 0x80);
    EXPECT_TRUE(frame(2));
    EXPECT_EQ(g_mouse.lX, 0);
    EXPECT_EQ(g_mouse.rgbButtons[2], 0x80);
    EXPECT_EQ(g_keys[kKeyF1], 0);
    EXPECT_EQ(g_keys[kKeyEscape], 0x80);
    EXPECT_FALSE(frame(3)) << "releasing Escape closes nothing";
    EXPECT_EQ(g_keys[kKeyEscape], 0);
    releaseInput();
    setInputDevicesEnabled(true);
}

TEST_F(Options, WithoutGameDirTheCurrentFoldersGameElseTheInstalledDemo) {
    const std::string demo = (dir / "demo").string();
    fs::create_directories(dir / "here" / "Scenario");
    const std::string here = (dir / "here").string();
    EXPECT_EQ(defaultGameFolder(here, demo), demo);
    EXPECT_EQ(defaultGameFolder(here, ""), ""); // no demo installed: the current folder, as ever
    writeFile("here/Scenario/scenario0.qv_", "x");
    EXPECT_EQ(defaultGameFolder(here, demo), "");
}
