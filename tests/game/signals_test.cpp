// A terminating signal ends the program within a second, also while a message box is open,
// where the main loop does not run. Shown on a real (virtual) display, under Xvfb.
#include "game_fixture.h"

#include "virtual_display.h"

using namespace game;

class Signals : public GameTest {};

TEST_F(Signals, EndTheProgramWhileAMessageBoxIsOpen) {
    if (!xvfbAvailable()) GTEST_SKIP() << "Xvfb is not installed";
    VirtualDisplay display;
    ASSERT_TRUE(display.start()) << "Xvfb did not start";
    // No pictures at all: the title's picture fails to load, and its message box stays open.
    writeGame(dir_, sj("あ") + "\r\n", "");
    fs::remove_all(dir_ / "CG");
    fs::create_directories(dir_ / "CG");

    for (int signal : {SIGTERM, SIGINT}) {
        const fs::path err = dir_ / "stderr.txt";
        fs::remove(err);
        const std::string binary = TOLVANE_BINARY_DIR "/tolvane";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir_.c_str()) != 0) ::_exit(127);
            std::freopen("/dev/null", "w", stdout);
            std::freopen(err.c_str(), "w", stderr);
            ::unsetenv("SDL_VIDEODRIVER");
            ::unsetenv("WAYLAND_DISPLAY");
            ::setenv("DISPLAY", display.name.c_str(), 1);
            ::setenv("SDL_AUDIODRIVER", "dummy", 1);
            ::execl(binary.c_str(), binary.c_str(), nullptr);
            ::_exit(127);
        }
        // The box opens right after its text reaches standard error.
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline && readText(err).find("title.bmp") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_NE(readText(err).find("title.bmp"), std::string::npos) << readText(err);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the program ended by itself";

        ::kill(pid, signal);
        const int status = waitFor(pid, std::chrono::milliseconds(1000));
        if (status == -1) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        EXPECT_NE(status, -1) << strsignal(signal) << " did not end the program within a second";
    }
}
