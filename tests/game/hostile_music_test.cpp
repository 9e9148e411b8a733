// A hostile piece of music at the title never stops the game: it is a failed load with its
// reason, or it plays, and the game ends when its frames are done or when it is told to.
#include "game_fixture.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

using namespace game;

namespace {

using Clock = std::chrono::steady_clock;

std::string be32(std::uint32_t v) {
    return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}

// A format-1 file of the tracks (bodies as written), with the header's time division.
std::string midiOf(int division, const std::vector<std::string>& tracks) {
    std::string out = "MThd" + be32(6) + std::string("\0\1", 2) + char(tracks.size() >> 8) +
                      char(tracks.size() & 0xFF) + char(division >> 8) + char(division & 0xFF);
    for (const std::string& body : tracks)
        out += "MTrk" + be32(static_cast<std::uint32_t>(body.size())) + body;
    return out;
}

const std::string kNote = std::string("\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\xff\x2f\x00", 12);

// Starts the program headless in `dir` with the arguments; its standard error in stderr.txt.
pid_t startGame(const fs::path& dir, const std::vector<std::string>& args) {
    const std::string binary = TOLVANE_BINARY_DIR "/tolvane";
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(127);
        std::freopen("/dev/null", "w", stdout);
        std::freopen((dir / "stderr.txt").c_str(), "w", stderr);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(binary.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

// The child's wait status once it ends within `limit`; else it is killed and -1 returned.
int waitOrKill(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

} // namespace

class HostileMusic : public GameTest {};

TEST_F(HostileMusic, ThePieceAtTheTitleNeverHangsTheGame) {
    struct Case {
        const char* what;
        std::string midi;
        const char* reasonHas; // null: the piece plays
    };
    const Case cases[] = {
        {"a piece that lasts no time", midiOf(96, {std::string("\x00\xff\x2f\x00", 4)}), "no time"},
        {"a bad event in a track", midiOf(96, {std::string("\x00\xf4\x00\xff\x2f\x00", 6)}),
         "unknown event"},
        {"128 tracks", midiOf(96, std::vector<std::string>(128, kNote)), "128 tracks"},
        {"a tempo event the synthesiser refuses",
         midiOf(96, {std::string("\x00\xff\x51\x04\x07\xa1\x20\x00", 8) + kNote}),
         "synthesiser cannot play"},
        {"time code",
         midiOf(0xE728, {std::string("\x00\x90\x3c\x64\x87\x68\x80\x3c\x00\x00\xff\x2f\x00", 13)}),
         nullptr},
    };
    writeGame(dir_, sj("あ") + "\r\n", "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(dir_ / "Sound" / "morva_g0.mid", c.midi);
        // Some seconds of frames at the title, while its music loads and plays.
        const pid_t pid = startGame(dir_, {"--headless", "--frames", "60000"});
        const int status = waitOrKill(pid, std::chrono::seconds(30));
        ASSERT_NE(status, -1) << "the game did not end";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        const std::string err = readText(dir_ / "stderr.txt");
        if (c.reasonHas) {
            EXPECT_NE(err.find("morva_g0.mid"), std::string::npos) << err;
            EXPECT_NE(err.find(c.reasonHas), std::string::npos) << err;
        } else {
            EXPECT_EQ(err.find("morva_g0.mid"), std::string::npos) << err;
        }
    }
}

TEST_F(HostileMusic, ASignalEndsTheGameWhateverThePiece) {
    writeGame(dir_, sj("あ") + "\r\n", "");
    writeBytes(dir_ / "Sound" / "morva_g0.mid", midiOf(96, {std::string("\x00\xff\x2f\x00", 4)}));
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        fs::remove(dir_ / "trace.jsonl");
        const pid_t pid =
            startGame(dir_, {"--headless", "--frames", "100000000", "--trace", "trace.jsonl"});
        // The title's music is loaded (and would be playing) once the trace tells of it.
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline &&
               readText(dir_ / "trace.jsonl").find("morva_g0") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_NE(readText(dir_ / "trace.jsonl").find("morva_g0"), std::string::npos);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the program ended by itself";
        ::kill(pid, signal);
        EXPECT_NE(waitOrKill(pid, std::chrono::seconds(2)), -1) << "the signal did not end it";
    }
}
