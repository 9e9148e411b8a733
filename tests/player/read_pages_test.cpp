// The pages read, kept in the save folder across runs: a second run that skips read pages
// skips exactly those the first run read, an edit keeps the pages it did not touch as read, and
// a file that is not a read pages file of this engine is named once and never written over.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/options.h"
#include "base/files.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "script/script.h"
#include "support/game_copy.h"

namespace fs = std::filesystem;

namespace {

std::string sj(const char* utf8) {
    return utf8ToSjis(utf8).value_or("?");
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class ReadPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tolvane-read-pages-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        back_ = fs::current_path();
        fs::current_path(dir_);
        forgetReadPages();
    }
    void TearDown() override {
        forgetReadPages();
        fs::current_path(back_);
        if (!HasFailure()) fs::remove_all(dir_);
    }
    fs::path file() const { return dir_ / "ReadPages.sav"; }

    fs::path dir_, back_;
};

std::string le32(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>(v >> (8 * i));
    return s;
}

// A file as the engine writes it, of the entries given as they stand (sorted or not).
std::string readPagesFile(std::uint32_t version, const std::vector<PageKey>& keys) {
    std::string entries;
    for (const PageKey& k : keys)
        entries += le32(static_cast<std::uint32_t>(k.block)) +
                   le32(static_cast<std::uint32_t>(k.hash)) +
                   le32(static_cast<std::uint32_t>(k.hash >> 32));
    const auto crc = ::crc32(0L, reinterpret_cast<const Bytef*>(entries.data()),
                             static_cast<uInt>(entries.size()));
    return "TVREADPG" + le32(version) + le32(static_cast<std::uint32_t>(keys.size())) +
           le32(static_cast<std::uint32_t>(crc)) + entries;
}

} // namespace

TEST_F(ReadPagesTest, KeptForTheNextRunAndWrittenOnlyWhenTheyChanged) {
    const PageKey a{0, 0x1122334455667788u}, b{1, 7}, c{0, 3};
    keepReadPages(); // nothing read: nothing written
    EXPECT_FALSE(fs::exists(file()));
    markPageRead(a);
    markPageRead(b);
    markPageRead(c);
    markPageRead(a);
    keepReadPages();
    EXPECT_EQ(readBytes(file()), readPagesFile(1, {c, a, b}));

    forgetReadPages(); // the next run
    EXPECT_TRUE(pageWasRead(a));
    EXPECT_TRUE(pageWasRead(b));
    EXPECT_FALSE(pageWasRead(PageKey{1, a.hash}));
    // Nothing new read: the file is not touched.
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(file(), old);
    markPageRead(c);
    keepReadPages();
    EXPECT_EQ(fs::last_write_time(file()), old);
    markPageRead(PageKey{1, 8});
    keepReadPages();
    EXPECT_EQ(readBytes(file()), readPagesFile(1, {c, a, b, PageKey{1, 8}}));
}

TEST_F(ReadPagesTest, AFileNotOursIsNamedOnceAndNeverWrittenOver) {
    const std::string good = readPagesFile(1, {{0, 1}, {0, 2}, {1, 5}});
    std::string badCrc = good;
    badCrc[good.size() - 1] ^= 1;
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"zero-length", "", "empty"},
        {"truncated", good.substr(0, good.size() - 3), "cut short"},
        {"header cut", good.substr(0, 12), "cut short"},
        {"bytes after its end", good + "x", "bytes after its end"},
        {"foreign", "PK\3\4 not a read pages file at all", "another kind of file"},
        {"newer version", readPagesFile(2, {{0, 1}}), "newer version"},
        {"version 0", readPagesFile(0, {{0, 1}}), "version is unknown"},
        {"damaged", badCrc, "checksum"},
        {"unsorted", readPagesFile(1, {{0, 2}, {0, 1}}), "out of place"},
        {"twice", readPagesFile(1, {{0, 2}, {0, 2}}), "out of place"},
        {"no such block", readPagesFile(1, {{2, 1}}), "out of place"},
        {"too many", "TVREADPG" + le32(1) + le32(0x7FFFFFFF) + le32(0), "more pages"},
    };
    for (const Case& c : cases) {
        writeBytes(file(), c.bytes);
        forgetReadPages();
        testing::internal::CaptureStderr();
        EXPECT_FALSE(pageWasRead(PageKey{0, 1})) << c.what;
        markPageRead(PageKey{0, 9});
        EXPECT_TRUE(pageWasRead(PageKey{0, 9})) << c.what << ": this run's reads are kept";
        keepReadPages();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(readBytes(file()), c.bytes) << c.what;
        EXPECT_NE(err.find("ReadPages.sav is left as it is, "), std::string::npos)
            << c.what << ": " << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.what << ": " << err;
        EXPECT_EQ(err.find("ReadPages.sav"), err.rfind("ReadPages.sav")) << c.what << ": " << err;
    }
}

namespace {

// Six pages of two lines, each line a click wait; the page's first line names it.
std::string scenario(const char* secondPage) {
    const char* firsts[] = {"いちまいめ", secondPage, "さんまいめ",
                            "よんまいめ", "ごまいめ", "ろくまいめ"};
    std::string text;
    for (int p = 0; p < 6; ++p)
        text += (p == 0 ? std::string(";\r\n") : "[ct];\r\n") + sj(firsts[p]) + "\r\n" +
                sj("おわり") + "\r\n";
    return text;
}

std::string storedScenario(const std::string& plain) {
    std::string stored = plain;
    for (char& b : stored)
        b = static_cast<char>(scrambleScenarioByte(static_cast<std::uint8_t>(b)));
    return stored;
}

// What the game shows, for a failure's message.
std::string revealedText() {
    const int n = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    return sjisToUtf8(std::string(g_page.begin(), g_page.begin() + n));
}

class ReadPagesInGame : public ReadPagesTest {
protected:
    void SetUp() override {
        ReadPagesTest::SetUp();
        const fs::path demo = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
        ASSERT_TRUE(fs::exists(demo / "Scenario" / "scenario0.qv_")) << "the demo is not built";
        game_copy::copyGameFiles(demo, dir_);
    }
    void TearDown() override {
        if (running_) finishProgram();
        ReadPagesTest::TearDown();
    }
    // A run of the game on this scenario, started from the title.
    void start(const std::string& plain, bool skipRead) {
        writeBytes(dir_ / "Scenario" / "scenario0.qv_", storedScenario(plain));
        options_.headless = true;
        // A game played before in this process leaves its scene and its continue pending.
        g_frameNo = kSceneTitleInit;
        g_script = ScriptState{};
        ASSERT_EQ(startProgram(options_), 0);
        running_ = true;
        g_comforts.skipRead = skipRead;
        frame(false);
        frame(true);
        frame(false);
        ASSERT_EQ(g_frameNo, kSceneGame);
    }
    void frame(bool down) {
        injectMouseButton(0, down);
        ASSERT_EQ(stepProgram(false), StepResult::Ran);
    }
    // Clicks while the page is on screen (or the frames run out), then lets go.
    void clickThrough(const char* first) {
        for (int i = 0; i < 2000 && onPage(first); ++i)
            frame(i % 2 == 0);
        frame(false);
        ASSERT_FALSE(onPage(first));
    }
    // The end of a run, as the program ends it: the pages read are kept.
    void quit() {
        keepReadPages();
        finishProgram();
        running_ = false;
    }
    void waitFrames(int n) {
        for (int i = 0; i < n; ++i)
            frame(false);
    }
    // The page the builder made holds the line (the reveal may not have reached it yet).
    static bool onPage(const char* first) {
        const std::string page(g_page.begin(), g_page.begin() + kPageLimit);
        return page.find(sj(first)) != std::string::npos;
    }

    ProgramOptions options_;
    bool running_ = false;
};

} // namespace

TEST_F(ReadPagesInGame, ASecondRunSkipsThePagesTheFirstReadAndAnEditForgetsOnlyItsOwn) {
    // Run 1 reads three pages and quits on the fourth.
    start(scenario("にまいめ"), false);
    for (const char* page : {"いちまいめ", "にまいめ", "さんまいめ"})
        clickThrough(page);
    ASSERT_TRUE(onPage("よんまいめ")) << revealedText();
    quit();
    ASSERT_TRUE(fs::exists(file()));
    const std::string kept = readBytes(file());

    // Run 2, skipping read pages, no click: it stops at the page run 1 did not read.
    start(scenario("にまいめ"), true);
    waitFrames(120);
    EXPECT_TRUE(onPage("よんまいめ")) << revealedText();
    EXPECT_FALSE(g_script.textRunning) << "it waits at the page's first line";
    finishProgram();
    running_ = false;

    // The second page edited, and the pages after it moved by the edit: the first page is
    // still read, the edited one is not, and once it is read the third is skipped again.
    writeBytes(file(), kept);
    start(scenario("にまいめだよ"), true);
    waitFrames(120);
    EXPECT_TRUE(onPage("にまいめだよ")) << revealedText();
    EXPECT_FALSE(g_script.textRunning);
    clickThrough("にまいめだよ");
    waitFrames(120);
    EXPECT_TRUE(onPage("よんまいめ")) << revealedText();
    EXPECT_FALSE(g_script.textRunning);
}
