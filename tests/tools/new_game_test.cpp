#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "script/scenario_text.h"
#include "tools/explore.h"
#include "tools/lint.h"
#include "tools/new_game.h"

namespace {

namespace fs = std::filesystem;

int exitStatus(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The starter game as the tool makes it: it lints and explores clean, uses every tag, plays
// headless in the game, and a folder that holds something is never written into.
TEST(NewGame, MakesAStarterThatLintsPlaysAndUsesEveryTag) {
    const fs::path dir = fs::temp_directory_path() / ("new_game_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const std::string tool = TOLVANE_BINARY_DIR "/tools/tolvane-script";
    ASSERT_EQ(exitStatus("'" + tool + "' new '" + dir.string() + "' > /dev/null"), 0);
    for (const char* file : {"CG/背景0.bmp", "CG/立ち絵1.bmp", "CG/title.bmp", "Sound/brel_gm1.mid",
                             "Sound/start52.wav", "Scenario/scenario0.txt", "Scenario/end1.txt"})
        EXPECT_TRUE(fs::is_regular_file(dir / file)) << file;
    EXPECT_FALSE(fs::exists(dir / "Scenario" / "scenario0.qv_"));

    const LintResult lint = lintGameFolder(dir.string(), true);
    for (const LintDiagnostic& d : lint.diagnostics)
        ADD_FAILURE() << formatDiagnostic(d);
    const ExploreReport explored = exploreGameFolder(dir.string(), true);
    for (const LintDiagnostic& d : explored.diagnostics)
        ADD_FAILURE() << formatDiagnostic(d);
    EXPECT_EQ(explored.pagesReached, explored.pagesInText);
    EXPECT_EQ(explored.linksTaken, explored.linksInText);
    EXPECT_EQ(explored.endings.size(), 1u);

    const std::string both = std::string(kStarterScenario0) + std::string(kStarterEnd1);
    for (const char* tag :
         {"[l]", "[ct]", "[image 0 layer=base", "[image 0 layer=0", "[playse ", "[playbgm ",
          "[stopbgm]", "[jump ", "[link ", "[endlink]", "[s]", "[reset]"})
        EXPECT_NE(both.find(tag), std::string::npos) << tag;

    const std::string play = "timeout 60 '" TOLVANE_BINARY_DIR
                             "/tolvane' --headless --source --frames 300 '" +
                             dir.string() + "' > /dev/null 2>&1";
    EXPECT_EQ(exitStatus(play), 0);

    // The folder now holds a game (and perhaps the checkpoint): it is refused, and kept.
    std::string before;
    ASSERT_TRUE(readWholeFile((dir / "Scenario" / "end1.txt").string(), before));
    ASSERT_TRUE(writeWholeFile((dir / "Scenario" / "end1.txt").string(), "mine"));
    EXPECT_EQ(exitStatus("'" + tool + "' new '" + dir.string() + "' 2> /dev/null"), 2);
    std::string after;
    ASSERT_TRUE(readWholeFile((dir / "Scenario" / "end1.txt").string(), after));
    EXPECT_EQ(after, "mine");
    fs::remove_all(dir);
}

} // namespace
