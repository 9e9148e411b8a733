// Scenario files as people may really write or damage them: each case with what the game does.
#include "engine_fixture.h"

using namespace fixture;

class BadScenario : public GameFolderTest {};

TEST_F(BadScenario, DamagedFilesStillGiveAPageThatStopsSafely) {
    struct Case {
        const char* what;
        std::string stored;     // the file's bytes as stored
        std::string firstBytes; // the page's first bytes
    };
    const std::string a = sj("あ");
    const Case cases[] = {
        {"all 0xFF: the text is empty", std::string(100, '\xFF'), std::string(4, '\0')},
        {"no line ends at all", scramble(a + a + a), a + a + a},
        {"only LF line ends", scramble(a + a + "\n" + a), a + a.substr(0, 1) + "[l]\n"},
        {"text running into the zero bytes", scramble(a), a + std::string(2, '\0')},
    };
    for (const Case& c : cases) {
        resetEngine();
        writeFile("Scenario/scenario0.qv_", c.stored);
        writeFile("Scenario/end1.qv_", "");
        startScenario();
        EXPECT_EQ(pageBytes(0, static_cast<int>(c.firstBytes.size())), c.firstBytes) << c.what;
        for (int i = 0; i < 3000; ++i) {
            if (!g_script.textRunning) signalClick();
            stepScript();
        }
        EXPECT_TRUE(g_script.pageEnded) << c.what; // the reveal stops at the page's end
        EXPECT_LE(g_script.revealPos, kPageLimit + 1) << c.what;
    }
}

TEST_F(BadScenario, OverlongNamesAndNumbersAreIgnored) {
    const std::string longName(300, 'n');
    const std::string tags[] = {
        "[jump 0 target=*" + longName + "]",
        "[jump 000000000000000000000000000001 target=*x]" + std::string(), // 30 digits, reads 1
        "[jump 123456789012345678901234567890 target=*x]",
        "[link target=*" + longName + "]",
    };
    for (const std::string& tag : tags) {
        resetEngine();
        startFromMemory(tag + sj("あ") + "\r\n*x\r\n", "*x\r\n" + sj("い"));
        stepScript();
        if (tag.find("0000000001") != std::string::npos) {
            EXPECT_EQ(g_script.currentBlock, 1) << tag; // leading zeros are still the number 1
            continue;
        }
        EXPECT_EQ(g_script.currentBlock, 0) << tag;
        EXPECT_EQ(g_script.linkCount, 0) << tag;
        EXPECT_EQ(g_script.revealPos, 0) << tag;
        stepScript();
        EXPECT_EQ(shown(), sj("あ")) << tag;
    }
}

TEST_F(BadScenario, AStaleTemporaryCheckpointFromACrashIsReplaced) {
    // A crash between writing the new file and renaming it leaves "Data.sav.new" behind; the
    // checkpoint itself stays whole, and the next write goes through.
    writeFile("Data.sav.new", "torn");
    startFromMemory("[jump 0 target=*cp]\r\n*cp|\r\n" + sj("あ"));
    stepScript();
    EXPECT_TRUE(g_script.saveWritten);
    EXPECT_EQ(readFile("Data.sav").size(), 500u);
    EXPECT_FALSE(std::filesystem::exists("Data.sav.new"));
}
