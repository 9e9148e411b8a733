// Failures the player must hear of: output files that cannot be written and a display that
// cannot be opened end with a message and a non-zero exit status, never as a success.
#include "game_fixture.h"

using namespace game;

class Failures : public GameTest {};

TEST_F(Failures, AnOutputFileThatCannotBeWrittenIsReportedAndFailsTheRun) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    writeGame(dir_, sj("あ") + "\r\n", "");
    struct Case {
        const char* args;
        const char* file;
    };
    const Case cases[] = {
        {"--screenshot 3:/dev/full", "/dev/full"},
        {"--state 3:/dev/full", "/dev/full"},
        {"--trace /dev/full", "/dev/full"},
        {"--trace no/such/folder/trace.jsonl", "trace.jsonl"},
        {"--screenshot 3:no/such/folder/shot.png", "shot.png"},
        {"--state 3:no/such/folder/state.json", "state.json"},
    };
    for (const Case& c : cases) {
        const RunResult run = runGame(dir_, std::string("--headless --frames 5 ") + c.args);
        EXPECT_EQ(run.exitCode, 1) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find(c.file), std::string::npos) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find("cannot write"), std::string::npos) << c.args << "\n" << run.err;
    }
}

TEST_F(Failures, NoDisplayEndsTheProgramWithStatusOne) {
    writeGame(dir_, sj("あ") + "\r\n", "");
    struct Case {
        const char* environment;
    };
    const Case cases[] = {
        {"SDL_VIDEODRIVER=no-such-driver"},
        {"SDL_VIDEODRIVER=x11 DISPLAY=:31999 WAYLAND_DISPLAY="},
    };
    for (const Case& c : cases) {
        const fs::path err = dir_ / "stderr.txt";
        // Only the exit status is looked at here: the display libraries' own allocations, left
        // behind when they fail, are not the program's to report in a sanitizer build.
        const std::string command =
            "cd '" + dir_.string() + "' && env " + c.environment +
            " ASAN_OPTIONS=detect_leaks=0 SDL_AUDIODRIVER=dummy timeout -k 5 60 '" +
            TOLVANE_BINARY_DIR "/tolvane' --frames 5 > /dev/null 2> '" + err.string() + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.environment;
        EXPECT_EQ(WEXITSTATUS(status), 1) << c.environment;
        EXPECT_NE(readText(err).find("tolvane: cannot"), std::string::npos) << c.environment << "\n"
                                                                            << readText(err);
    }
}

// What a file holds reaches the terminal escaped: a replayed input line and a label name.
TEST_F(Failures, FileTextReachesTheTerminalEscaped) {
    struct Case {
        const char* what;
        std::string block0;
        std::string input;
    };
    const Case cases[] = {
        {"an input line", sj("あ") + "\r\n", "2 click\x1b]0;owned\x07\n"},
        {"a label name", "[jump 0 target=*a\x1b[2J]\r\n", "2 click\n"},
    };
    for (const Case& c : cases) {
        writeGame(dir_, c.block0, "");
        writeBytes(dir_ / "input.txt", c.input);
        const RunResult run = runGame(dir_, "--headless --frames 10 --input input.txt");
        EXPECT_NE(run.err.find("\\x1"), std::string::npos) << c.what << "\n" << run.err;
        for (char ch : run.err)
            EXPECT_TRUE(ch == '\n' || static_cast<unsigned char>(ch) >= 0x20) << c.what << "\n"
                                                                              << run.err;
    }
}

// A script loop that never waits lands on its marked label every frame; the file is written
// once, since every later record is the same and the file still holds it.
TEST_F(Failures, ALoopThatNeverWaitsWritesTheCheckpointOnce) {
    writeGame(dir_, "[jump 0 target=*a]\r\n*a|\r\n[jump 0 target=*a]\r\n", "");
    writeBytes(dir_ / "input.txt", "2 click\n");
    const RunResult run =
        runGame(dir_, "--headless --frames 300 --input input.txt --trace trace.jsonl");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string trace = readText(dir_ / "trace.jsonl");
    std::size_t reached = 0, written = 0;
    for (std::size_t at = 0; (at = trace.find("\"checkpoint_write\"", at)) != std::string::npos;
         ++at) {
        ++reached;
        if (trace.compare(trace.find("\"written\":", at) + 10, 1, "1") == 0) ++written;
    }
    EXPECT_GT(reached, 250u);
    EXPECT_EQ(written, 1u);
    EXPECT_TRUE(fs::is_regular_file(dir_ / "Data.sav"));
}

// Without a sound font the player hears of it once, at start-up, not at every entry into a
// scene; a music file that is missing is still the game's fault and shows at every load.
TEST_F(Failures, AMissingSoundFontIsToldOnceAMissingMusicFileAtEveryLoad) {
    writeGame(dir_, sj("あ") + "\r\n", "");
    // Title, game, back to the title with F1, and into the game again.
    writeBytes(dir_ / "input.txt", "2 click\n10 keydown F1\n11 keyup F1\n20 click\n");
    const auto countOf = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
            ++n;
        return n;
    };
    const char* previous = std::getenv("SDL_SOUNDFONTS");
    const std::string saved = previous ? previous : "";
    setenv("SDL_SOUNDFONTS", "no-such-font.sf2", 1);
    RunResult run = runGame(dir_, "--headless --frames 30 --input input.txt");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.err, "ERROR: "), 1u) << run.err;
    // The four music loads (two titles, two games) say why on standard error only.
    EXPECT_EQ(countOf(run.err, "no sound font for the MIDI synthesiser"), 4u) << run.err;
    EXPECT_EQ(countOf(run.err, "MIDIファイルのロードに失敗"), 0u) << run.err;

    fs::remove(dir_ / "Sound" / "brel_gm1.mid");
    run = runGame(dir_, "--headless --frames 30 --input input.txt");
    EXPECT_EQ(countOf(run.err, "MIDIファイルのロードに失敗"), 2u) << run.err;
    if (previous)
        setenv("SDL_SOUNDFONTS", saved.c_str(), 1);
    else
        unsetenv("SDL_SOUNDFONTS");
}
