#include "engine_fixture.h"

using namespace fixture;

namespace {

std::string repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

} // namespace

TEST(PageBuilder, LaysOutLinesWrapsAndItems) {
    const std::string a = sj("あ");
    struct Case {
        const char* what;
        std::string source;
        std::string page;
        int column = 0;
    };
    const Case cases[] = {
        {"30 characters wrap after 25", repeat(a, 30) + "\r\n",
         repeat(a, 25) + "\n" + repeat(a, 5) + "[l]\n"},
        {"exactly 25 characters get no extra break", repeat(a, 25) + "\r\n",
         repeat(a, 25) + "[l]\n"},
        {"an empty first line is kept", "\r\n" + a, "[l]\n" + a},
        {"leading LF bytes are skipped, not CR", "\n\n" + a + "\r\n", a + "[l]\n"},
        {"a bare LF loses the byte before it", a + a + "\n" + a, a + a.substr(0, 1) + "[l]\n" + a},
        {"a comment is copied and its line end made a wait", ";memo\r\n" + a, ";memo[l]\n" + a},
        {"single-byte characters become zero bytes", "ab" + a, std::string(2, '\0') + a},
        {"tags are copied whole, even with LF inside", "[x\r\ny]" + a, "[x\r\ny]" + a},
        {"the wrap counter starts from column", repeat(a, 24) + "\r\n",
         repeat(a, 23) + "\n" + a + "[l]\n", 2},
    };
    for (const Case& c : cases) {
        resetEngine();
        g_script.column = c.column;
        startFromMemory(c.source);
        EXPECT_EQ(pageBytes(0, static_cast<int>(c.page.size())), c.page) << c.what;
        EXPECT_EQ(g_script.column, 0) << c.what;
        EXPECT_EQ(g_script.line, 0) << c.what;
    }
}

TEST(PageBuilder, FinishesTheLastItemBehindTheLimit) {
    resetEngine();
    const std::string a = sj("あ");
    startFromMemory(std::string(2047, 'x') + a);
    EXPECT_EQ(pageBytes(2047, 2), a);

    resetEngine();
    const std::string tag = "[image 1 layer=0 left=0 top=0]";
    startFromMemory(std::string(2047, 'x') + tag);
    EXPECT_EQ(pageBytes(2047, static_cast<int>(tag.size())), tag);
    EXPECT_EQ(g_page[2047 + tag.size()], 0);
}

TEST(PageBuilder, StaysInsideItsBuffersAtTheEndOfMemory) {
    resetEngine();
    // A tag that never closes, starting near the end of block 1, and a page cut from there.
    std::string block1(kBlockSize - 10, 'x');
    block1 += "[never";
    startFromMemory("", block1);
    g_script.source = kScenarioSize - 20;
    g_script.revealPos = 0;
    g_script.removedBytes = 0;
    buildNextPage();
    EXPECT_EQ(g_script.source, kScenarioSize - 20);
    EXPECT_EQ(g_page[10], '[');
}

TEST(PageBuilder, NextPageStartsWhereTheUsedBytesSay) {
    const std::string a = sj("あ");
    const std::string b = sj("い");

    // Sum 10: the next page starts at the CR behind [ct] and opens with a click wait.
    resetEngine();
    startFromMemory(a + a + "\r\n[ct]\r\n" + b);
    steps(3); // two characters and the [l]
    EXPECT_FALSE(g_script.textRunning);
    signalClick();
    steps(2); // the LF, then [ct]
    EXPECT_EQ(g_script.source, 10);
    EXPECT_EQ(pageBytes(0, 6), "[l]\n" + b);

    // Sum 9: it lands on the LF, which is skipped.
    resetEngine();
    startFromMemory(a + a + "[ct]\r\n" + b);
    steps(3);
    EXPECT_EQ(g_script.source, 10);
    EXPECT_EQ(pageBytes(0, 2), b);
    EXPECT_TRUE(g_script.textRunning);
}
