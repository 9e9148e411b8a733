// --text-feed, played headless: the pages' text and the choices as UTF-8 lines, appended to a
// file, written into a FIFO while it has a reader, and never holding the game up when the FIFO
// has none or is full.
#include "game_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace game;

namespace {

constexpr int kLines = 90;

std::string wideNumber(int n) {
    const std::string digits = "０１２３４５６７８９";
    return digits.substr(static_cast<std::size_t>(n / 10) * 3, 3) +
           digits.substr(static_cast<std::size_t>(n % 10) * 3, 3);
}
std::string line(int n) {
    return "雨の日の図書館で本を読んでいる" + wideNumber(n) + "行目";
}

// Two pages of lines, more than a small pipe holds, and a choice where the game stays.
std::string block0() {
    std::string text;
    for (int n = 0; n < kLines; ++n)
        text += sj(line(n)) + (n == kLines / 2 ? "\r\n[jump 0 target=*two]\r\n*two\r\n" : "\r\n");
    return text + "[link target=*a]" + sj("はい") + "[endlink]\r\n[link target=*a]" + sj("いいえ") +
           "[endlink]\r\n[s]\r\n*a\r\n" + sj("おわり") + "\r\n";
}

// The feed's lines without the blank ones between pages.
std::vector<std::string> textLines(const std::string& feed) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = feed.find('\n', at)) != std::string::npos; at = end + 1)
        if (end > at) lines.push_back(feed.substr(at, end - at));
    return lines;
}

std::string readAll(int fd) {
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    return out;
}

class TextFeed : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        writeGame(dir_, block0(), "");
        writeBytes(dir_ / "settings.ini", "text_speed = instant-page\n");
        std::string input = "2 click\n";
        for (int f = 6; f < 600; f += 2)
            input += std::to_string(f) + " click\n";
        writeBytes(dir_ / "input.txt", input);
    }
    RunResult play(const fs::path& feed) {
        return runGame(dir_, "--headless --frames 640 --input input.txt --settings settings.ini "
                             "--text-feed " +
                                 feed.string());
    }
};

TEST_F(TextFeed, EachPageAndTheChoicesAreAppendedToAFile) {
    const fs::path feed = dir_ / "feed.txt";
    RunResult run = play(feed);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string text = readText(feed);
    std::vector<std::string> expected;
    for (int n = 0; n < kLines; ++n)
        expected.push_back(line(n));
    expected.push_back("1　はい");
    expected.push_back("2　いいえ");
    EXPECT_EQ(textLines(text), expected);
    EXPECT_NE(text.find("\n\n"), std::string::npos) << "no blank line between the pages";
    // A second run adds to what is there.
    run = play(feed);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readText(feed), text + text);
}

TEST_F(TextFeed, AFifoGetsTheLinesWhileItHasAReaderAndNeverHoldsTheGameUp) {
    const fs::path fifo = dir_ / "feed.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // No reader: the game plays to its end as without a feed, and says nothing of it.
    RunResult run = play(fifo);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("text-feed"), std::string::npos) << run.err;

    // A reader: the lines as a file gets them (the pipe holds them all).
    const fs::path file = dir_ / "feed.txt";
    ASSERT_EQ(play(file).exitCode, 0);
    const std::string whole = readText(file);
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    run = play(fifo);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readAll(reader), whole);
    ::close(reader);

    // A reader that reads nothing, with the smallest pipe: the game plays on, the lines that
    // did not fit are dropped, and those in the pipe are whole, in order.
    reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_GT(::fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    ASSERT_GT(whole.size(), 4096u);
    run = play(fifo);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string got = readAll(reader);
    ::close(reader);
    EXPECT_FALSE(got.empty());
    EXPECT_LE(got.size(), 4096u);
    EXPECT_EQ(got.back(), '\n');
    // What got in: whole lines of the feed, in order (a short one may fit after a dropped one).
    const std::vector<std::string> all = textLines(whole), kept = textLines(got);
    std::size_t next = 0;
    for (const std::string& l : kept) {
        while (next < all.size() && all[next] != l)
            ++next;
        ASSERT_LT(next, all.size()) << "not a line of the feed, or out of order: " << l;
        ++next;
    }
    EXPECT_EQ(kept.front(), all.front());
}

TEST_F(TextFeed, AFeedThatCannotBeWrittenIsToldOnceAndTheGamePlaysOn) {
    const RunResult run = play(dir_ / "missing" / "feed.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::size_t at = run.err.find("--text-feed");
    ASSERT_NE(at, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("--text-feed", at + 1), std::string::npos) << run.err;
}

} // namespace
