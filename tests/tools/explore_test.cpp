#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "script/scenario_text.h"
#include "support/random_story.h"
#include "tools/explore.h"

namespace {

namespace fs = std::filesystem;

std::string plainOf(std::string_view utf8) {
    EncodeResult r = encodeScenario(utf8, SourceEncoding::Utf8);
    EXPECT_TRUE(r.errors.empty()) << utf8;
    return plainScenarioText(r.stored);
}

ExploreReport explore(std::string_view block0, std::string_view block1 = "",
                      const std::optional<std::string>& dir = std::nullopt) {
    return exploreScenarioText(plainOf(block0), plainOf(block1), "s0", "e1", dir);
}

std::vector<std::string> findings(const ExploreReport& r) {
    std::vector<std::string> out;
    for (const LintDiagnostic& d : r.diagnostics)
        out.push_back(formatDiagnostic(d));
    return out;
}

struct Case {
    const char* what;
    const char* block0;
    const char* block1;
    std::vector<std::string> expected;
};

TEST(Explore, FindsEachFaultOnThePathsAtItsPlace) {
    const Case cases[] = {
        {"a label nothing leads to",
         "あ\n[reset]\n*x\nい\n[reset]\n",
         "",
         {"s0:3:1: warning: no path reaches the label *x"}},
        {"a page behind a [ct] that no path reaches",
         "あ\n[reset]\n[ct]い\n[reset]\n",
         "",
         {"s0:3:5: warning: no path reaches this page"}},
        {"a link no choice offers",
         "あ\n[reset]\n[link target=*a]いい[endlink]\n[s]\n*a\nう\n[reset]\n",
         "",
         {"s0:3:1: warning: no choice offers this link",
          "s0:5:1: warning: no path reaches the label *a"}},
        {"a jump to a missing label, passed over",
         "あ\n[jump 1 target=*nope]い\n[reset]\n",
         "",
         {"s0:2:1: error: [jump] to *nope: block 1 has no such label (the engine shows a message "
          "and goes on behind the tag); on the way from the start"}},
        {"a link to a missing label beside one that leads on",
         "あ\n[link target=*nope]いい[endlink]\n[link target=*a]うう[endlink]\n[s]\n*a\nえ\n"
         "[reset]\n",
         "",
         {"s0:2:1: error: a link to *nope: block 0 has no such label (the choice stays open when "
          "it is clicked); on the way from the start"}},
        {"a choice whose only link leads nowhere",
         "あ\n[link target=*nope]いい[endlink]\n[s]\n",
         "",
         {"s0:2:1: error: a link to *nope: block 0 has no such label (the choice stays open when "
          "it is clicked); on the way from the start",
          "s0:3:1: error: no link of this choice leads to a label: the game waits for ever; on "
          "the way from the start"}},
        {"a loop of jumps that never waits",
         "[jump 0 target=*a]\n*a\n[jump 0 target=*a]\n",
         "",
         {"s0:3:1: error: a loop of pages runs through here without waiting for a click or "
          "offering a choice: the game never waits again; on the way from the start"}},
        {"a loop across the blocks",
         "あ\n[jump 1 target=*b]\n*a\n[jump 1 target=*b]\n",
         "*b\n[jump 0 target=*a]\n",
         {"s0:4:1: error: a loop of pages runs through here without waiting for a click or "
          "offering a choice: the game never waits again; on the way from the start"}},
        {"a loop that shows text and waits is no fault", "*a\nあ\n[jump 0 target=*a]\n", "", {}},
        {"text that runs off the end of its block",
         "あ\nいう\n",
         "",
         {"s0:2:2: error: the text runs off the end of its block without a jump, [reset] or a "
          "choice: the game waits for ever; on the way from the start"}},
        {"a choice without links",
         "あ\n[s]\n",
         "",
         {"s0:2:1: error: [s] with no link: the game waits for ever; on the way from the start"}},
        {"a choice only a continue meets without its links",
         "[link target=*a]いい[endlink]\n[jump 0 target=*cp]\n*cp|\nう\n[s]\n*a\nえ\n[reset]\n",
         "",
         {"s0:5:1: error: [s] with no link: the game waits for ever; on the way from a continue "
          "at *cp"}},
        {"pictures and sounds the game never loads",
         "[image 4 layer=base left=0 top=0][playse 7]あ\n[reset]\n",
         "",
         {"s0:1:1: error: background 4 is no picture the game loads (backgrounds 0-3 and 5-7): "
          "nothing is drawn; asked for on the way from the start",
          "s0:1:34: error: sound slot 7 holds no sound the game loads (0, 1, 50, 51, 52, or an "
          "author's file for 53 to 99): nothing plays; asked for on the way from the start"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(findings(explore(c.block0, c.block1)), c.expected) << c.what;
}

TEST(Explore, NamesThePathThatAsksForAFileTheFolderLacks) {
    const fs::path dir =
        fs::temp_directory_path() / ("explore_files_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "CG");
    ASSERT_TRUE(writeWholeFile((dir / "CG" / "背景0.bmp").string(), "BM"));
    const ExploreReport r = explore("[image 0 layer=base left=0 top=0]あ\n"
                                    "[link target=*a]いい[endlink]\n"
                                    "[link target=*b]うう[endlink]\n[s]\n"
                                    "*a\n[image 1 layer=0 left=0 top=0]え\n[reset]\n"
                                    "*b\n[playbgm 1]お\n[reset]\n",
                                    "", dir.string());
    EXPECT_EQ(findings(r), (std::vector<std::string>{
                               "s0:6:1: error: CG/立ち絵1.bmp is missing from the game folder; "
                               "asked for on the way from the start, 「いい」",
                               "s0:9:1: error: Sound/brel_gm1.mid is missing from the game "
                               "folder; asked for on the way from the start, 「うう」"}));

    // A picture's or a sound's stand-in is the file it stands for; an author's effect, in any
    // of its formats, fills its slot, and only the slot no file fills is told.
    ASSERT_TRUE(writeWholeFile((dir / "CG" / "立ち絵1.png").string(), "x"));
    fs::create_directories(dir / "Sound");
    ASSERT_TRUE(writeWholeFile((dir / "Sound" / "brel_gm1.ogg").string(), "x"));
    ASSERT_TRUE(writeWholeFile((dir / "Sound" / "door50.flac").string(), "x"));
    ASSERT_TRUE(writeWholeFile((dir / "Sound" / "rain53.opus").string(), "x"));
    const ExploreReport own = explore("[image 1 layer=0 left=0 top=0]あ[playse 53][playbgm 1]\n"
                                      "[playse 54]い[playse 50]\n[reset]\n",
                                      "", dir.string());
    EXPECT_EQ(findings(own), (std::vector<std::string>{
                                 "s0:2:1: error: sound slot 54 is empty: no file in Sound/ ends "
                                 "in 54 (rain54.wav, say): nothing plays; asked for on the way "
                                 "from the start"}));
    fs::remove_all(dir);
}

// Two endings; the second has two ways, one longer. Counted by hand: a line end is a click, link
// texts are read too, and a choice is one.
TEST(Explore, ReportsEveryEndingWithItsShortestAndLongestWay) {
    const ExploreReport r = explore("あ\n"
                                    "[link target=*a]いい[endlink]\n"
                                    "[link target=*b]うう[endlink]\n"
                                    "[s]\n"
                                    "*a\nかか\n[reset]\n"
                                    "*b\nき\n"
                                    "[link target=*c]ええ[endlink]\n"
                                    "[link target=*d]おお[endlink]\n"
                                    "[s]\n"
                                    "*c\nくくく\n[jump 1 target=*e]\n"
                                    "*d\nけけ\nこここここ\n[jump 1 target=*e]\n",
                                    "*e\nさ\n[reset]\n");
    EXPECT_EQ(findings(r), std::vector<std::string>{});
    ASSERT_EQ(r.endings.size(), 2u);
    const ExploreEnding& a = r.endings[0];
    EXPECT_EQ(a.file + ":" + std::to_string(a.line), "s0:7");
    EXPECT_EQ(std::tuple(a.shortest.clicks, a.shortest.choices, a.shortest.characters),
              std::tuple(2, 1, 7));
    EXPECT_EQ(std::tuple(a.longest.clicks, a.longest.choices, a.longest.characters),
              std::tuple(2, 1, 7));
    const ExploreEnding& b = r.endings[1];
    EXPECT_EQ(b.file + ":" + std::to_string(b.line), "e1:3");
    EXPECT_FALSE(b.endless);
    EXPECT_EQ(std::tuple(b.shortest.clicks, b.shortest.choices, b.shortest.characters),
              std::tuple(4, 2, 14));
    EXPECT_EQ(std::tuple(b.longest.clicks, b.longest.choices, b.longest.characters),
              std::tuple(5, 2, 18));
    EXPECT_EQ(r.pagesReached, r.pagesInText);
    EXPECT_EQ(std::tuple(r.linksTaken, r.linksOffered, r.linksInText), std::tuple(4, 4, 4));
    const std::string text = formatExploreText(r);
    EXPECT_NE(text.find("e1:3:1: note: an ending; the shortest way: 4 clicks, 2 choices, 14 "
                        "characters (0.2 s); the longest: 5 clicks, 2 choices, 18 characters "
                        "(0.3 s)"),
              std::string::npos)
        << text;

    // A choice that leads back before it: the player can go round as often as they like.
    const ExploreReport loop = explore("*top\nあ\n[link target=*top]いい[endlink]\n"
                                       "[link target=*end]うう[endlink]\n[s]\n*end\n[reset]\n");
    ASSERT_EQ(loop.endings.size(), 1u);
    EXPECT_TRUE(loop.endings[0].endless);
    EXPECT_EQ(loop.endings[0].shortest.choices, 1);
}

// Twenty choices in a row whose two links meet again: a moment reached twice is played once, so
// the explorer plays some tens of moments, not a million ways.
TEST(Explore, PlaysAMomentReachedTwiceOnce) {
    std::string text;
    for (int i = 0; i < 20; ++i) {
        const std::string n = std::to_string(i);
        text += "あ\n[link target=*l" + n + "]いい[endlink]\n[link target=*r" + n +
                "]うう[endlink]\n[s]\n*l" + n + "\nか\n[jump 0 target=*j" + n + "]\n*r" + n +
                "\nき\n[jump 0 target=*j" + n + "]\n*j" + n + "\n";
    }
    text += "[reset]\n";
    const ExploreReport r = explore(text);
    EXPECT_EQ(findings(r), std::vector<std::string>{});
    EXPECT_LT(r.moments, 200u);
    ASSERT_EQ(r.endings.size(), 1u);
    EXPECT_EQ(r.endings[0].shortest.choices, 20);
    EXPECT_EQ(std::tuple(r.linksTaken, r.linksInText), std::tuple(40, 40));
}

// Stories made at random, each a clean one with one ending behind a choice: nothing is reported,
// every page and link is reached, and the ending's ways take the one choice.
TEST(Explore, FindsNothingInCleanRandomStories) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const random_story::Story story = random_story::makeStory(seed);
        const ExploreReport r = explore(story.block0, story.block1);
        EXPECT_EQ(findings(r), std::vector<std::string>{}) << "seed " << seed;
        EXPECT_EQ(r.pagesReached, r.pagesInText) << "seed " << seed;
        EXPECT_EQ(std::tuple(r.linksTaken, r.linksInText), std::tuple(story.links, story.links))
            << "seed " << seed;
        ASSERT_EQ(r.endings.size(), 1u) << "seed " << seed;
        EXPECT_EQ(r.endings[0].shortest.choices, 1) << "seed " << seed;
        EXPECT_LE(r.endings[0].shortest.characters, r.endings[0].longest.characters);
    }
}

TEST(Explore, ExploresTheDemoCleanAndWhole) {
    const ExploreReport r =
        exploreGameFolder(std::string(TOLVANE_BINARY_DIR) + "/demo/game", false);
    EXPECT_EQ(findings(r), std::vector<std::string>{});
    EXPECT_EQ(r.pagesReached, r.pagesInText);
    EXPECT_GT(r.pagesInText, 10);
    EXPECT_EQ(r.linksTaken, r.linksInText);
    EXPECT_EQ(r.endings.size(), 2u);
    const std::string json = formatExploreJson(r);
    EXPECT_NE(json.find("\"coverage\":{\"pages\":{\"reached\":" + std::to_string(r.pagesReached)),
              std::string::npos)
        << json;
}

// The command: the report on standard output, the exit status 1 for an error found on a path and
// 2 for a command line it cannot run.
TEST(Explore, CommandExitsByWhatItFound) {
    const fs::path dir = fs::temp_directory_path() / ("explore_cli_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "Scenario");
    ASSERT_TRUE(writeWholeFile((dir / "Scenario" / "scenario0.txt").string(),
                               "あ\n[jump 0 target=*nope]い\n[reset]\n"));
    ASSERT_TRUE(writeWholeFile((dir / "Scenario" / "end1.txt").string(), ""));
    const std::string tool = TOLVANE_BINARY_DIR "/tools/tolvane-script";
    const std::string demo = TOLVANE_BINARY_DIR "/demo/game";
    const std::string out = (dir / "out.txt").string();
    const struct {
        std::string args;
        int status;
        std::string says; // in the output
    } cases[] = {
        {"explore '" + demo + "'", 0, "coverage: "},
        {"explore --json '" + demo + "'", 0, "\"endings\":[{"},
        {"explore --source '" + dir.string() + "'", 1, "scenario0.txt:2:1: error: [jump] to *nope"},
        {"explore --source --json '" + dir.string() + "'", 1, "\"severity\":\"error\""},
        {"explore '" + dir.string() + "'", 2, "cannot read"}, // no scenario files, only sources
        {"explore --bogus", 2, "unknown option --bogus"},
        {"explore '" + demo + "' '" + demo + "'", 2, "at most one game folder"},
    };
    for (const auto& c : cases) {
        const int status =
            std::system(("'" + tool + "' " + c.args + " > '" + out + "' 2>&1").c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << c.args;
        std::string said;
        ASSERT_TRUE(readWholeFile(out, said));
        EXPECT_NE(said.find(c.says), std::string::npos) << c.args << "\n" << said;
    }
    fs::remove_all(dir);
}

} // namespace
