// Scene entries create textures, the font and sound segments anew every time: a long run of
// title <-> game round trips (F1, [reset], and the continue it arms) must keep memory flat.
#include "game_fixture.h"

#include <sys/resource.h>
#include <sys/wait.h>

using namespace game;

namespace {

// Runs the program headless over `cycles` round trips and returns its peak resident memory (kB).
long peakKilobytes(const fs::path& dir, int cycles) {
    // Each cycle: a fresh click on the title starts the game, whose first step jumps onto the
    // marked label (a checkpoint) and whose second runs [reset]; every other cycle F1 leaves
    // first. From the second game on, every start is a continue.
    std::string input;
    int frame = 2;
    for (int i = 0; i < cycles; ++i) {
        input += std::to_string(frame) + " click\n";
        if (i % 2) {
            input += std::to_string(frame + 1) + " keydown F1\n";
            input += std::to_string(frame + 2) + " keyup F1\n";
        }
        frame += 4;
    }
    writeBytes(dir / "cycles.txt", input);
    const std::string frames = std::to_string(frame);
    const std::string binary = TOLVANE_BINARY_DIR "/tolvane";
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(127);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ::execl(binary.c_str(), binary.c_str(), "--headless", "--input", "cycles.txt", "--frames",
                frames.c_str(), "--state", (frames + ":end.json").c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

} // namespace

class Memory : public GameTest {};

TEST_F(Memory, RoundTripsBetweenTitleAndGameKeepMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's quarantine holds freed memory; its leak check covers this";
#endif
    writeGame(dir_, "[jump 1 target=*cp]\r\n", "*cp|\r\n[reset]\r\n");
    const long few = peakKilobytes(dir_, 10);
    const long many = peakKilobytes(dir_, 100);
    ASSERT_GT(few, 0);
    ASSERT_GT(many, 0);
    const std::string end = readText(dir_ / "end.json");
    EXPECT_TRUE(jsonBool(end, "continueGame"));
    // Ten times the round trips may not cost more than a little allocator slack.
    EXPECT_LT(many - few, 4096) << "peak " << few << " kB after 10 round trips, " << many
                                << " kB after 100";
    std::printf("peak resident memory: %ld kB after 10 round trips, %ld kB after 100\n", few, many);
}
