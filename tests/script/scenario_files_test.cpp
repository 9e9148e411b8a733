#include "engine_fixture.h"

using namespace fixture;

TEST(ScenarioFiles, ScramblingIsItsOwnInverse) {
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {
        {0x0A, 0x73}, {0x0D, 0x70}, {'[', 0x22},  {']', 0x20}, {';', 0x42},  {'*', 0x53},
        {'|', 0x01},  {' ', 0x5D},  {0x82, 0xFB}, {'a', 0x1C}, {0x7E, 0xFF},
    };
    for (auto [plain, stored] : cases) {
        EXPECT_EQ(scrambleScenarioByte(plain), stored) << int(plain);
        EXPECT_EQ(scrambleScenarioByte(stored), plain) << int(plain);
    }
}

class ScenarioFilesOnDisk : public GameFolderTest {};

TEST_F(ScenarioFilesOnDisk, LoadsUpToTheEndMarkAndTerminates) {
    auto block = std::span<std::uint8_t, kScenarioSize>(g_scenario).subspan<0, kBlockSize>();
    block[10] = 0x55; // left over from an earlier load: only the text and its zero are written
    writeFile("Scenario/scenario0.qv_", scramble("abc") + "\xFF" + scramble("def"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(loadScenarioFile(block, kScenarioPath0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "File: .\\Scenario\\scenario0.qv_ \n\n");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data()), 4), std::string("abc\0", 4));
    EXPECT_EQ(block[10], 0x55);

    writeFile("Scenario/scenario0.qv_", "");
    block[0] = 'x';
    EXPECT_EQ(loadScenarioFile(block, kScenarioPath0), 1);
    EXPECT_EQ(block[0], 0);
}

TEST_F(ScenarioFilesOnDisk, AMissingOrUnreadableFileIsReportedAndLeavesTheBlock) {
    auto block = std::span<std::uint8_t, kScenarioSize>(g_scenario).subspan<0, kBlockSize>();
    block[0] = 'k';
    EXPECT_EQ(loadScenarioFile(block, kScenarioPath0), 0);
    std::filesystem::create_directories("Scenario/scenario0.qv_"); // a folder by that name
    EXPECT_EQ(loadScenarioFile(block, kScenarioPath0), 0);
    EXPECT_EQ(block[0], 'k');
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages()[0], "Error:Open file [.\\Scenario\\scenario0.qv_]");
}

TEST_F(ScenarioFilesOnDisk, AnOverlongTextIsCutInsideItsBlock) {
    g_scenario[kBlockSize] = 'B';
    writeFile("Scenario/scenario0.qv_", scramble(std::string(70000, 'a')));
    auto block = std::span<std::uint8_t, kScenarioSize>(g_scenario).subspan<0, kBlockSize>();
    EXPECT_EQ(loadScenarioFile(block, kScenarioPath0), 1);
    EXPECT_EQ(g_scenario[kMaxScenarioText - 1], 'a');
    EXPECT_EQ(g_scenario[kMaxScenarioText], 0);
    EXPECT_EQ(g_scenario[kBlockSize], 'B'); // block 1 untouched
}

TEST_F(ScenarioFilesOnDisk, StartScenarioLoadsBothAndStartsBehindLeadingLineFeeds) {
    writeScenario("\n\n" + sj("あ") + "\r\n", "*end\r\n");
    g_script.column = 0;
    testing::internal::CaptureStdout();
    startScenario();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "File: .\\Scenario\\scenario0.qv_ \n\nFile: .\\Scenario\\end1.qv_ \n\n");
    EXPECT_EQ(g_script.source, 2);
    EXPECT_EQ(pageBytes(0, 6), sj("あ") + "[l]\n");
    EXPECT_TRUE(g_script.textRunning);
    EXPECT_EQ(g_scenario[kBlockSize], '*');

    // A file that starts with CR LF keeps the CR: the first page opens with a click wait.
    writeScenario("\r\n" + sj("あ"), "");
    startScenario();
    EXPECT_EQ(pageBytes(0, 4), "[l]\n");
}
