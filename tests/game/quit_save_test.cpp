// A player who quits a game in a real window, by Escape, by closing the window or by a
// terminating signal, finds it again with --resume; a quit save that cannot be written is
// reported and the program still ends at once. Under Xvfb, with real X events.
#include "game_fixture.h"

#include <dlfcn.h>

#include <functional>

#include <X11/Xlib.h>

#include "virtual_display.h"

using namespace game;

namespace {

// The game in a window on the display, in `dir`, its standard error into stderr.txt.
pid_t startOnDisplay(const fs::path& dir, const std::string& display, const std::string& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(127);
        ::unsetenv("SDL_VIDEODRIVER");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        // The exit status is the program's; the display libraries' own allocations left at exit
        // are not the program's to report in a sanitizer build.
        ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        const std::string command =
            "exec '" TOLVANE_BINARY_DIR "/tolvane' " + args + " > stdout.txt 2> stderr.txt";
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    return pid;
}

// The output of a command run on the display.
std::string onDisplay(const std::string& display, const std::string& command) {
    const std::string line = "DISPLAY=" + display + " " + command;
    std::string out;
    if (std::FILE* pipe = ::popen(line.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, pipe))
            out += buf;
        ::pclose(pipe);
    }
    return out;
}

// Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW). Xlib is
// opened here rather than linked, so that the tests need it only where they run it.
bool askToClose(const std::string& display, unsigned long window) {
    void* x11 = ::dlopen("libX11.so.6", RTLD_NOW);
    if (!x11) return false;
    auto open = reinterpret_cast<Display* (*)(const char*)>(::dlsym(x11, "XOpenDisplay"));
    auto atom =
        reinterpret_cast<Atom (*)(Display*, const char*, Bool)>(::dlsym(x11, "XInternAtom"));
    auto send = reinterpret_cast<Status (*)(Display*, Window, Bool, long, XEvent*)>(
        ::dlsym(x11, "XSendEvent"));
    auto flush = reinterpret_cast<int (*)(Display*)>(::dlsym(x11, "XSync"));
    auto close = reinterpret_cast<int (*)(Display*)>(::dlsym(x11, "XCloseDisplay"));
    Display* d = open && atom && send && flush && close ? open(display.c_str()) : nullptr;
    if (!d) {
        ::dlclose(x11);
        return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(atom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = send(d, window, False, NoEventMask, &event) != 0;
    flush(d);
    close(d);
    ::dlclose(x11);
    return sent;
}

class QuitSave : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        // A first page whose two lines wait for a click each: the game is in play, still.
        writeGame(dir_, sj("[playbgm 1]あいうえお") + "\r\n" + sj("かきくけこ") + "\r\n[reset]\r\n",
                  "");
        // The title's click starts the game; no click after it.
        writeBytes(dir_ / "start.txt", "20 click\n");
    }

    // Runs the game to its first line's click wait, then ends it by `quit`; true when it ended
    // within the seconds a desktop waits for a closing program, with exit status 0.
    void playAndQuit(const std::string& display,
                     const std::function<void(pid_t, unsigned long)>& quit,
                     const std::string& what) {
        fs::remove(dir_ / "Data.sav");
        fs::remove(dir_ / "t");
        const pid_t pid = startOnDisplay(dir_, display, "--window --input start.txt --trace t");
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline &&
               readText(dir_ / "t").find("\"scene\":211") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string window = onDisplay(display, "xdotool search --sync --pid " +
                                                          std::to_string(pid) + " 2>/dev/null");
        // The line's five characters shown, one a frame, and the click wait reached.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        ASSERT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << what << ": the game ended by itself\n"
                                                       << readText(dir_ / "stderr.txt");
        quit(pid, std::strtoul(window.c_str(), nullptr, 10));
        const int status = waitFor(pid, std::chrono::milliseconds(5000));
        if (status == -1) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ASSERT_NE(status, -1) << what << " did not end the game within five seconds";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << what << ": status " << status << "\n"
            << readText(dir_ / "stderr.txt");
    }
};

} // namespace

TEST_F(QuitSave, EscapeTheWindowsCloseAndSigtermEachLeaveAQuitSaveThatResumes) {
    if (!xvfbAvailable() || ::access("/usr/bin/xdotool", X_OK) != 0)
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    VirtualDisplay display;
    ASSERT_TRUE(display.start()) << "Xvfb did not start";
    const std::string name = display.name;
    struct Way {
        const char* what;
        std::function<void(pid_t, unsigned long)> quit;
    };
    const Way ways[] = {
        {"Escape",
         [&](pid_t, unsigned long window) {
             onDisplay(name,
                       "xdotool windowfocus --sync " + std::to_string(window) + " key Escape");
         }},
        {"the window's close",
         [&](pid_t, unsigned long window) { EXPECT_TRUE(askToClose(name, window)); }},
        {"SIGTERM", [](pid_t pid, unsigned long) { ::kill(pid, SIGTERM); }},
        {"SIGINT", [](pid_t pid, unsigned long) { ::kill(pid, SIGINT); }},
    };
    for (const Way& way : ways) {
        fs::remove(dir_ / "QuitSave.sav");
        playAndQuit(name, way.quit, way.what);
        if (HasFatalFailure()) return;
        ASSERT_TRUE(fs::exists(dir_ / "QuitSave.sav")) << way.what << " left no quit save\n"
                                                       << readText(dir_ / "stderr.txt");
        // The next start, headless, resumes there: the game's first page, its first line shown.
        const RunResult run = runGame(dir_, "--headless --resume --frames 1 --state 1:r.json");
        ASSERT_EQ(run.exitCode, 0) << way.what << ": " << run.err;
        EXPECT_EQ(run.err.find("--resume"), std::string::npos) << way.what << ": " << run.err;
        const std::string state = readText(dir_ / "r.json");
        EXPECT_EQ(jsonNumber(state, "scene"), 211) << way.what << ": " << state;
        EXPECT_EQ(jsonString(state, "text"), "あいうえお") << way.what << ": " << state;
    }
}

TEST_F(QuitSave, AQuitSaveThatCannotBeWrittenIsReportedAndTheGameStillEnds) {
    if (!xvfbAvailable()) GTEST_SKIP() << "Xvfb is not installed";
    VirtualDisplay display;
    ASSERT_TRUE(display.start()) << "Xvfb did not start";
    // A folder where the quit save would go: no file can replace it (whoever runs the test).
    writeBytes(dir_ / "QuitSave.sav" / "kept.txt", "the player's");
    playAndQuit(
        display.name, [](pid_t pid, unsigned long) { ::kill(pid, SIGTERM); }, "SIGTERM");
    if (HasFatalFailure()) return;
    EXPECT_NE(readText(dir_ / "stderr.txt").find("the quit save was not written"),
              std::string::npos)
        << readText(dir_ / "stderr.txt");
    EXPECT_EQ(readText(dir_ / "QuitSave.sav" / "kept.txt"), "the player's");
}

// The command line's starts: a slot named by --load must load or the program says why and
// stops; --resume without a quit save it can load starts the title, as a plain start does. No
// refused file is changed.
TEST_F(QuitSave, LoadAndResumeFromTheCommandLine) {
    RunResult run = runGame(dir_, "--headless --input start.txt --frames 60");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_TRUE(fs::exists(dir_ / "QuitSave.sav")) << "a headless run's end makes a quit save";
    const std::string quitSave = readText(dir_ / "QuitSave.sav");
    fs::copy_file(dir_ / "QuitSave.sav", dir_ / "Save07.sav");
    writeBytes(dir_ / "Save08.sav", "not a save at all");
    writeBytes(dir_ / "Save09.sav", quitSave.substr(0, quitSave.size() / 2));

    struct Case {
        const char* args;
        int exitCode;
        long long scene; // at frame 1
        const char* err; // on standard error; empty: nothing about the start
    };
    const Case cases[] = {
        {"--load 7", 0, 211, ""},
        {"--load quit", 0, 211, ""},
        {"--resume", 0, 211, ""},
        {"--load 3", 1, -1, "tolvane: --load: Save03.sav: there is no such save"},
        {"--load quick", 1, -1, "tolvane: --load: QuickSave.sav: there is no such save"},
        {"--load 8", 1, -1, "tolvane: --load: Save08.sav: "},
        {"--load 9", 1, -1, "tolvane: --load: Save09.sav: "},
    };
    for (const Case& c : cases) {
        fs::remove(dir_ / "s.json");
        run = runGame(dir_, std::string("--headless --frames 1 --state 1:s.json ") + c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << ": " << run.err;
        if (*c.err) {
            EXPECT_NE(run.err.find(c.err), std::string::npos) << c.args << ": " << run.err;
        } else {
            EXPECT_EQ(run.err.find("tolvane: --"), std::string::npos) << c.args << ": " << run.err;
        }
        if (c.scene > 0) {
            const std::string state = readText(dir_ / "s.json");
            EXPECT_EQ(jsonNumber(state, "scene"), c.scene) << c.args;
            EXPECT_EQ(jsonString(state, "text"), "あいうえお") << c.args;
        }
    }
    EXPECT_EQ(readText(dir_ / "Save08.sav"), "not a save at all");
    EXPECT_EQ(readText(dir_ / "Save09.sav"), quitSave.substr(0, quitSave.size() / 2));

    // Without a quit save that loads, --resume plays the game from its title.
    for (const bool damaged : {false, true}) {
        fs::remove(dir_ / "QuitSave.sav");
        if (damaged) writeBytes(dir_ / "QuitSave.sav", "damaged");
        run = runGame(dir_, "--headless --resume --frames 5 --state 5:s.json");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("tolvane: --resume: QuitSave.sav: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("the title starts instead"), std::string::npos) << run.err;
        EXPECT_EQ(jsonNumber(readText(dir_ / "s.json"), "scene"), 201);
        if (damaged) {
            EXPECT_EQ(readText(dir_ / "QuitSave.sav"), "damaged");
        }
    }
    // Nor does a quit from the game replace a quit save it cannot read: it says so instead.
    run = runGame(dir_, "--headless --input start.txt --frames 60");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("QuitSave.sav is left as it is"), std::string::npos) << run.err;
    EXPECT_EQ(readText(dir_ / "QuitSave.sav"), "damaged");
}
