// One hostile picture or sound in the game folder costs bounded memory and time: it is refused
// from its header, with the file named and the reason, and the game goes on without it.
#include "game_fixture.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>

using namespace game;

namespace {

// A BMP header (file header and a 40-byte info header) with a grey palette for 8-bit pictures.
std::string bmpHeader(int w, int h, int bits, int compression, std::size_t dataBytes) {
    const int palette = bits == 8 ? 256 * 4 : 0;
    const std::uint32_t offset = 14 + 40 + palette;
    std::string out = "BM" + le32(static_cast<std::uint32_t>(offset + dataBytes)) + le32(0) +
                      le32(offset) + le32(40) + le32(w) + le32(h) + le16(1) + le16(bits) +
                      le32(compression) + le32(static_cast<std::uint32_t>(dataBytes)) + le32(2835) +
                      le32(2835) + le32(bits == 8 ? 256 : 0) + le32(0);
    for (int i = 0; i < palette / 4; ++i)
        out += std::string{char(i), char(i), char(i), 0};
    return out;
}

// A run-length picture of one colour: a few bytes a row whatever its width.
std::string rle8Bmp(int w, int h) {
    std::string row;
    for (int left = w; left > 0; left -= 255)
        row += std::string{char(std::min(left, 255)), char(7)};
    row += std::string("\0\0", 2);
    std::string data;
    for (int y = 0; y < h; ++y)
        data += row;
    data += std::string("\0\1", 2);
    return bmpHeader(w, h, 8, 1, data.size()) + data;
}

// An 8-bit mono WAV header whose data chunk runs `seconds` at `rate`; the samples are left to
// a sparse file (silence).
std::string longWavHeader(int rate, std::uint32_t seconds) {
    const std::uint32_t data = static_cast<std::uint32_t>(rate) * seconds;
    return "RIFF" + le32(36 + data) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(rate) +
           le32(rate) + le16(1) + le16(8) + "data" + le32(data);
}

struct Measured {
    int exitCode = -1;
    long peakKilobytes = 0;
    double seconds = 0;
    std::string err;
};

// Runs the program headless: a click starts the game, so every picture and sound is loaded.
Measured runMeasured(const fs::path& dir) {
    writeBytes(dir / "input.txt", "2 click\n");
    const std::string binary = TOLVANE_BINARY_DIR "/tolvane";
    const fs::path err = dir / "stderr.txt";
    std::fflush(stdout); // the child must not print the parent's buffered lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(127);
        std::freopen("/dev/null", "w", stdout);
        std::freopen(err.c_str(), "w", stderr);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ::execl(binary.c_str(), binary.c_str(), "--headless", "--input", "input.txt", "--frames",
                "8", nullptr);
        ::_exit(127);
    }
    Measured m;
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) return m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.peakKilobytes = usage.ru_maxrss;
    m.err = readText(err);
    return m;
}

} // namespace

class HostileFiles : public GameTest {};

TEST_F(HostileFiles, ArePaidForWithBoundedMemoryAndTime) {
    struct Case {
        const char* what;
        const char* file;    // under the game folder
        std::string bytes;   // the file's first bytes
        std::uintmax_t size; // the whole file, zero bytes after `bytes` (sparse)
        const char* reason;  // in the diagnostic; empty when the file loads
    };
    const std::string wide32 = bmpHeader(8192, 8192, 32, 0, std::size_t{8192} * 8192 * 4);
    const std::string cut = bmpHeader(4096, 4096, 32, 0, std::size_t{4096} * 4096 * 4);
    const Case cases[] = {
        {"8192 x 8192 run-length BMP", "CG/背景0.bmp", rle8Bmp(8192, 8192), 0, "8192 x 8192"},
        {"8192 x 8192 32-bit BMP", "CG/背景0.bmp", wide32, wide32.size() + 8192u * 8192 * 4,
         "too large"},
        {"8192 x 8192 header alone", "CG/背景0.bmp", bmpHeader(8192, 8192, 32, 0, 0).substr(0, 154),
         0, "8192 x 8192"},
        {"4096 x 4096 header alone", "CG/背景0.bmp", cut, 0, "bytes of pixels"},
        {"4096 x 4096 BMP cut short", "CG/背景0.bmp", cut, cut.size() + 4096 * 4 * 100,
         "bytes of pixels"},
        {"the largest picture taken", "CG/背景0.bmp", rle8Bmp(4096, 4096), 0, ""},
        {"two hours of 8 kHz WAV", "Sound/start52.wav", longWavHeader(8000, 7200),
         44 + 8000u * 7200, "seconds"},
        {"start52.wav of three minutes", "Sound/start52.wav", longWavHeader(22050, 180),
         44 + 22050u * 180, "seconds"},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_);
        writeGame(dir_, sj("あ") + "\r\n", "");
        writeBytes(dir_ / c.file, c.bytes);
        if (c.size > c.bytes.size()) fs::resize_file(dir_ / c.file, c.size);
        const Measured m = runMeasured(dir_);
        EXPECT_EQ(m.exitCode, 0) << c.what << "\n" << m.err;
        const std::string name = fs::path(c.file).filename().string();
        if (*c.reason) {
            EXPECT_NE(m.err.find(name), std::string::npos) << c.what << "\n" << m.err;
            EXPECT_NE(m.err.find(c.reason), std::string::npos) << c.what << "\n" << m.err;
        } else {
            EXPECT_EQ(m.err.find(name), std::string::npos) << c.what << "\n" << m.err;
        }
#if !defined(__SANITIZE_ADDRESS__)
        // The sanitizer's shadow memory and quarantine make both figures meaningless there.
        EXPECT_LT(m.peakKilobytes, 256 * 1024) << c.what;
        EXPECT_LT(m.seconds, 4.0) << c.what;
#endif
        std::printf("%-30s peak %6ld kB, %.2f s\n", c.what, m.peakKilobytes, m.seconds);
    }
}

namespace {

// Runs a command in the game folder, its output and errors in one file. A child that waits on a
// pipe is ended by its alarm, and one that reads a device for ever by its memory bound, so that
// a fault fails the test rather than hanging or swamping the machine.
Measured runBounded(const fs::path& dir, const std::string& command) {
    const fs::path out = dir / "output.txt";
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(127);
        std::freopen("/dev/null", "r", stdin);
        std::freopen(out.c_str(), "w", stdout);
        std::freopen(out.c_str(), "a", stderr);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
#if defined(__SANITIZE_ADDRESS__)
        ::setenv("ASAN_OPTIONS", "hard_rss_limit_mb=2048:max_allocation_size_mb=1024", 1);
#else
        const rlim_t bound = rlim_t{2} << 30;
        const rlimit memory{bound, bound};
        ::setrlimit(RLIMIT_AS, &memory);
#endif
        ::alarm(30);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    Measured m;
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) return m;
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.peakKilobytes = usage.ru_maxrss;
    m.err = readText(out);
    return m;
}

} // namespace

// A source (or scenario file) that is a pipe, a link to a device or far too large is refused at
// once with the reason; a source holding a fault a byte gives a few lines, not millions. Every
// program that reads the sources alike.
TEST_F(HostileFiles, SourcesAreReadAsBoundedRegularFiles) {
    const std::string game = std::string("'") + TOLVANE_BINARY_DIR + "/tolvane' --headless";
    const std::string tool = std::string("'") + TOLVANE_BINARY_DIR + "/tools/tolvane-script'";
    enum Reads { Source = 1, Stored = 2 };
    struct Program {
        std::string command;
        int reads;
    };
    const Program programs[] = {
        {game + " --source --frames 5 .", Source},
        {tool + " lint --source .", Source},
        {tool + " encode Scenario/end1.txt out.qv_", Source},
        {tool + " lint .", Stored},
        {tool + " decode Scenario/end1.qv_ out.txt", Stored},
    };
    struct Case {
        const char* what;
        void (*make)(const fs::path& file);
        int reads;          // the programs it is given to
        const char* reason; // in the output
    };
    const Case cases[] = {
        {"a pipe", [](const fs::path& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); },
         Source | Stored, "not a regular file"},
        {"a link to /dev/zero", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); },
         Source | Stored, "not a regular file"},
        {"a folder", [](const fs::path& f) { fs::create_directory(f); }, Source | Stored,
         "is a folder"},
        {"5 MB",
         [](const fs::path& f) {
             writeBytes(f, "*a\n");
             fs::resize_file(f, 5 << 20);
         },
         Source | Stored, "is 5242880 bytes, over the bound of 4194304"},
        {"2.5 MB of lone CRs", [](const fs::path& f) { writeBytes(f, std::string(2500000, '\r')); },
         Source, "more like it"},
        {"2.5 MB that is not UTF-8",
         [](const fs::path& f) { writeBytes(f, std::string(2500000, '\x82')); }, Source,
         "more like it"},
    };
    for (const Case& c : cases)
        for (const Program& p : programs) {
            if (!(c.reads & p.reads)) continue;
            fs::remove_all(dir_);
            writeGame(dir_, sj("あ") + "\r\n[reset]\r\n", sj("い") + "\r\n[reset]\r\n");
            writeBytes(dir_ / "Scenario" / "scenario0.txt", "あ\n[reset]\n");
            writeBytes(dir_ / "Scenario" / "end1.txt", "い\n[reset]\n");
            const fs::path file = dir_ / "Scenario" / (p.reads == Source ? "end1.txt" : "end1.qv_");
            fs::remove(file);
            c.make(file);
            const Measured m = runBounded(dir_, p.command);
            const std::string context = std::string(c.what) + ": " + p.command + "\n" + m.err;
            EXPECT_EQ(m.exitCode, 1) << context;
            EXPECT_NE(m.err.find("end1."), std::string::npos) << context;
            EXPECT_NE(m.err.find(c.reason), std::string::npos) << context;
            EXPECT_LT(std::count(m.err.begin(), m.err.end(), '\n'), 40) << context;
#if !defined(__SANITIZE_ADDRESS__)
            EXPECT_LT(m.peakKilobytes, 256 * 1024) << context;
#endif
        }
}
