// The script tool's reading of a save: what a load restores, judged against the game beside it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/files.h"
#include "base/scene_number.h"
#include "player/save_file.h"
#include "script/script.h"
#include "tools/save_summary.h"

namespace fs = std::filesystem;

namespace {

void writeScenario(const fs::path& dir, const char* name, const std::string& utf8) {
    std::string stored = utf8ToSjis(utf8).value();
    for (char& c : stored)
        c = static_cast<char>(scrambleScenarioByte(static_cast<std::uint8_t>(c)));
    std::ofstream(dir / "Scenario" / name, std::ios::binary) << stored;
}

} // namespace

TEST(SaveSummary, SaysWhatALoadRestoresOrWhyItRefuses) {
    const fs::path dir =
        fs::temp_directory_path() / ("tolvane-summary-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "Scenario");
    const std::string text = "*start\r\nあいう[l]\r\n*next|\r\nかきく[l]\r\n";
    writeScenario(dir, "scenario0.qv_", text);
    writeScenario(dir, "end1.qv_", "");

    // A save made at the page under *next, with the blocks as the game loads them.
    const std::string sjis = utf8ToSjis(text).value();
    putBlockText(0, sjis);
    putBlockText(1, "");
    g_script.currentBlock = 0;
    g_script.source = static_cast<std::int32_t>(sjis.find("\x82\xa9"));
    SaveRecord r;
    r.preview = "かきく";
    r.place = currentPlace();
    r.moment.scene = kSceneGame;
    r.moment.script = g_script;
    r.moment.script.charsPerLine = 25;
    r.moment.background = 1;
    r.moment.music = r.moment.musicPlaying = -1;
    r.moment.pointer = {{10, 10, 790, 590}, 10, 10, 2, 40, 40, {}, false};
    r.moment.scenarioHash = scenarioIdentity();
    const std::vector<std::uint8_t> bytes = encodeSave(r);
    const fs::path save = dir / "Save01.sav";
    std::ofstream(save, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(looksLikeSaveFile(save.string()));
    EXPECT_FALSE(looksLikeSaveFile((dir / "Scenario" / "scenario0.qv_").string()));

    SaveSummary s = summarizeSaveFile(save.string(), dir.string());
    EXPECT_TRUE(s.loadable);
    EXPECT_NE(s.text.find("loads       exactly this moment"), std::string::npos) << s.text;
    EXPECT_NE(s.text.find("label *next, 1 line below it"), std::string::npos) << s.text;
    EXPECT_NE(s.text.find("preview     かきく"), std::string::npos) << s.text;

    // The author adds a page above: the same page is found.
    writeScenario(dir, "scenario0.qv_",
                  "*start\r\nあいう[l]\r\nえお[l]\r\n*next|\r\nかきく[l]\r\n");
    s = summarizeSaveFile(save.string(), dir.string());
    EXPECT_NE(s.text.find("at the same page"), std::string::npos) << s.text;

    // Another game's scenario: refused.
    writeScenario(dir, "scenario0.qv_", "*other\r\nさしす[l]\r\n");
    s = summarizeSaveFile(save.string(), dir.string());
    EXPECT_FALSE(s.loadable);
    EXPECT_NE(s.text.find("another game"), std::string::npos) << s.text;

    // Cut short: refused with its reason, whatever the game.
    fs::resize_file(save, 30);
    s = summarizeSaveFile(save.string(), dir.string());
    EXPECT_FALSE(s.loadable);
    EXPECT_NE(s.text.find("cut short"), std::string::npos) << s.text;
    fs::remove_all(dir);
}
