#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "script/scenario_text.h"
#include "tools/lint.h"

namespace {

std::string plainOf(std::string_view utf8) {
    EncodeResult r = encodeScenario(utf8, SourceEncoding::Utf8);
    EXPECT_TRUE(r.errors.empty()) << utf8;
    return plainScenarioText(r.stored);
}

std::vector<std::string> lintPlain(std::string_view plain0, std::string_view plain1) {
    std::vector<std::string> out;
    for (const LintDiagnostic& d : lintScenarioText(plain0, plain1, "s0", "e1").diagnostics)
        out.push_back(formatDiagnostic(d));
    return out;
}

std::vector<std::string> lint(std::string_view block0, std::string_view block1 = "") {
    return lintPlain(plainOf(block0), plainOf(block1));
}

struct Case {
    const char* what;
    const char* block0;
    const char* block1;
    std::vector<std::string> expected;
};

std::string repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(Lint, ReportsEachFaultOfASmallScriptWithItsPlace) {
    const std::string tooLong = repeat(repeat("あ", 25) + "\n", 40) + "[reset]\n";
    const std::string elevenLinks =
        repeat("[link target=*a]いい[endlink]\n", 11) + "[s]\n*a\nう\n[reset]\n";
    const Case cases[] = {
        {"unknown tag",
         "あ[name 1]い\n[reset]\n",
         "",
         {"s0:1:2: error: unknown tag [name] is shown as text"}},
        {"empty tag", "あ[]い\n[reset]\n", "", {"s0:1:2: error: an empty tag [] is shown as text"}},
        {"wrong key",
         "[image 0 layr=0 left=0 top=0]あ\n[reset]\n",
         "",
         {"s0:1:1: warning: [image]: expected layer= after the picture number, found 'layr=0'; "
          "the engine reads it as [image 0 layer=0 left=0 top=0]"}},
        {"doubled space",
         "[image 0  layer=base left=0 top=0]あ\n[reset]\n",
         "",
         {"s0:1:1: warning: [image]: a doubled space; fields are separated by one space; the "
          "engine reads it as [image 0 layer=0 left=0 top=0]"}},
        {"non-digit number",
         "[playse x5]あ\n[reset]\n",
         "",
         {"s0:1:1: warning: [playse]: the slot 'x5' is not a number; the engine reads it as "
          "[playse 5]",
          "s0:1:1: warning: sound slot 5 is never loaded (only 0, 1, 50, 51, 52 and the slots of "
          "the game folder's Sound/NAME53.wav to NAME99.wav are); nothing plays"}},
        {"missing number",
         "[playbgm]あ\n[reset]\n",
         "",
         {"s0:1:1: error: [playbgm]: expected [playbgm N]"}},
        {"negative position",
         "[image 0 layer=0 left=-5 top=0]あ\n[reset]\n",
         "",
         {"s0:1:1: warning: [image]: the left value '-5' is not a number (no negative numbers); "
          "the engine reads it as [image 0 layer=0 left=5 top=0]"}},
        {"layer over 9",
         "[image 0 layer=10 left=0 top=0]あ\n[reset]\n",
         "",
         {"s0:1:1: error: [image]: layer 10 does not exist (0 to 9)"}},
        {"picture over 12",
         "[image 13 layer=0 left=0 top=0]あ\n[reset]\n",
         "",
         {"s0:1:1: error: [image]: picture 13 does not exist (0 to 12)"}},
        {"background over 9",
         "[image 10 layer=base left=0 top=0]あ\n[reset]\n",
         "",
         {"s0:1:1: error: [image]: background 10 does not exist (0 to 9)"}},
        {"block 2",
         "あ\n[jump 2 target=*a][reset]\n",
         "",
         {"s0:2:1: error: [jump]: block 2 does not exist (0 or 1)"}},
        {"label marker left out",
         "あ\n[jump 0 target=start][reset]\n*start\nい\n[reset]\n",
         "",
         {"s0:2:1: error: [jump] to *tart: block 0 has no such label",
          "s0:2:1: warning: [jump]: the byte after target= is skipped, so this looks for *tart; "
          "write target=*start; the engine reads it as [jump 0 target=*tart]",
          "s0:3:1: warning: the label *start is never reached by a jump or a link"}},
        {"nothing loads the numbers",
         "[image 4 layer=base left=0 top=0][image 2 layer=3 left=0 top=0][playse 7]あ\n[reset]\n",
         "",
         {"s0:1:1: warning: background 4 has no picture file; the screen shows a blank background",
          "s0:1:34: warning: layer 3 is never given a size by the game; its picture covers no "
          "pixels",
          "s0:1:34: warning: picture 2 has no file; the layer shows nothing",
          "s0:1:64: warning: sound slot 7 is never loaded (only 0, 1, 50, 51, 52 and the slots of "
          "the game folder's Sound/NAME53.wav to NAME99.wav are); nothing plays"}},
        {"arguments ignored",
         "あ[l 3]い\n[reset]\n",
         "",
         {"s0:1:2: warning: [l 3] acts as [l]; the rest is ignored"}},
        {"jump to a missing label",
         "あ\n[jump 0 target=*nowhere][reset]\n",
         "",
         {"s0:2:1: error: [jump] to *nowhere: block 0 has no such label"}},
        {"a link searches the block the script is in",
         "あ\n[jump 1 target=*b]\n*c\nい\n[reset]\n",
         "*b\n[link target=*c]かき[endlink]\n[s]\n",
         {"s0:3:1: warning: the label *c is never reached by a jump or a link",
          "e1:2:1: error: a link to *c: block 1 has no such label"}},
        {"checkpoint label with a space",
         "あ\n[jump 0 target=*a b]\n*a b|\nい\n[reset]\n",
         "",
         {"s0:3:1: error: the checkpoint label *a b holds a space: a continue reads its name only "
          "up to the space"}},
        {"link text not double-byte",
         "[link target=*a]ab[endlink]\n[s]\n*a\nい\n[reset]\n",
         "",
         {"s0:1:1: error: the link text must be double-byte characters only",
          "s0:1:17: warning: a single-byte character shows as a blank cell; the text takes only "
          "double-byte characters"}},
        {"link text too long for its line",
         "ああああああああああああああああああああああ[link target=*a]いいい[endlink]\n[s]\n*a\n"
         "う\n[reset]\n",
         "",
         {"s0:1:23: error: the link text does not fit on the rest of its display line (25 "
          "double-byte characters)"}},
        {"more than 10 links",
         elevenLinks.c_str(),
         "",
         {"s0:11:1: error: more than 10 links before [s]; the engine ignores this one"}},
        {"[s] with no link",
         "あ\n[s]\n",
         "",
         {"s0:2:1: error: [s] with no link: the game waits for ever"}},
        {"[link] without [endlink]",
         "[link target=*a]いい\n[s]\n*a\nう\n[reset]\n",
         "",
         {"s0:1:1: error: [link] without [endlink]"}},
        {"page over 2048 bytes",
         tooLong.c_str(),
         "",
         {"s0:1:1: error: the page starting here is longer than 2048 bytes as the page builder "
          "lays it out; end it sooner with [ct]"}},
        {"end of the block",
         "あ\nい\n",
         "",
         {"s0:2:1: error: the text reaches the end of its block without a jump, [reset] or a "
          "choice"}},
        {"tag without ']'",
         "あ\n[reset]\n[image",
         "",
         {"s0:3:1: error: a tag without ']': the page builder copies the rest of the block into "
          "it"}},
        {"comment without a line end",
         "あ\n[reset]\n;memo",
         "",
         {"s0:3:1: error: a comment without a line end: the engine reads on past the end of the "
          "text"}},
        {"label never reached",
         "あ\n[reset]\n*lost\nい\n[reset]\n",
         "",
         {"s0:3:1: warning: the label *lost is never reached by a jump or a link"}},
        {"text into a label line",
         "あ\n*here\nい\n[reset]\n",
         "",
         {"s0:2:1: warning: the label *here is never reached by a jump or a link",
          "s0:2:1: warning: the text runs into this label line, which shows as blank cells"}},
        {"text cleared at once",
         "あ[ct]\nい\n[reset]\n",
         "",
         {"s0:1:2: warning: the text since the last click wait is taken off the screen at once "
          "by [ct]; end its line first"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lint(c.block0, c.block1), c.expected) << c.what;
}

// Every tag the engine plays although it is written loosely gets a warning that says how it is
// read; a tag the engine ignores stays an error.
TEST(Lint, WarnsOnEachSloppyTagTheEnginePlays) {
    const std::pair<const char*, const char*> played[] = {
        {"[image 3 layer=base]", "write a space and the rest after base"},
        {"[image 3x layer=base left=0 top=0]",
         "the engine reads it as [image 3 layer=0 left=0 top=0]"},
        {"[image 1 layr=1 left=10 top=20]",
         "the engine reads it as [image 1 layer=0 left=10 top=20]"},
        {"[image 1 layer=1 lft=10 top=20]",
         "the engine reads it as [image 1 layer=1 left=0 top=0]"},
        {"[image 1 layer=0 left=1,000 top=20]",
         "the engine reads it as [image 1 layer=0 left=1000 top=0]"},
        {"[playbgm 2x]", "the engine reads it as [playbgm 2]"},
        {"[playbgm 1 2]", "the engine reads it as [playbgm 12]"},
        {"[playse  50]", "the engine reads it as [playse 50]"},
        {"[jump 1 target=xa]", "the engine reads it as [jump 1 target=*a]"},
    };
    for (const auto& [tag, reading] : played) {
        const std::string script = std::string(tag) + "あ\n[reset]\n";
        const std::vector<std::string> found = lint(script, "*a\nい\n[reset]\n");
        bool told = false;
        for (const std::string& line : found) {
            EXPECT_EQ(line.find(": error:"), std::string::npos) << tag << ": " << line;
            told |= line.find(": warning:") != std::string::npos &&
                    line.find(reading) != std::string::npos;
        }
        EXPECT_TRUE(told) << tag;
    }
    for (const char* tag :
         {"[playbgm]", "[playse 100]", "[jump 1x target=*a]", "[image 1 layer]"}) {
        const std::vector<std::string> found = lint(std::string(tag) + "あ\n[reset]\n", "*a\n");
        ASSERT_FALSE(found.empty()) << tag;
        EXPECT_NE(found[0].find(": error:"), std::string::npos) << tag << ": " << found[0];
    }
}

// A tag without ']' on its line is quoted only up to the line end.
TEST(Lint, QuotesATagWithoutItsBracketUpToTheLineEnd) {
    const std::vector<std::string> found = lint("[playse 5x\nああ\n[l]\n[reset]\n");
    bool quoted = false;
    for (const std::string& line : found) {
        EXPECT_EQ(line.find("ああ"), std::string::npos) << line;
        quoted |= line.find("[playse 5x...") != std::string::npos ||
                  line.find("'5x...'") != std::string::npos;
    }
    EXPECT_TRUE(quoted) << ::testing::PrintToString(found);
}

// A loop of jumps that never shows a character, waits or offers a choice runs one pass a
// frame for ever (writing the checkpoint each time); one that does any of these is a story.
TEST(Lint, FindsLoopsThatNeverWait) {
    const std::string loop = "a loop of jumps runs through here without showing a character, "
                             "waiting for a click or offering a choice: the game never waits again";
    const Case cases[] = {
        {"a marked label jumping to itself",
         "[jump 0 target=*a]\n*a|\n[jump 0 target=*a]\n",
         "",
         {"s0:3:1: error: " + loop}},
        {"two labels across the blocks, with pictures and sound on the way",
         "[jump 1 target=*b]\n*a\n[image 0 layer=base left=0 top=0][jump 1 target=*b]\n",
         "*b|\n;a comment\n[playse 50][jump 0 target=*a]\n",
         {"s0:3:34: error: " + loop}},
        {"through the page after a [ct]",
         "[jump 0 target=*a]\n*a|\n[ct]\n[jump 0 target=*a]\n",
         "",
         {"s0:3:1: error: " + loop}},
        {"a click wait in the loop", "[jump 0 target=*a]\n*a|\nあ\n[jump 0 target=*a]\n", "", {}},
        {"a choice in the loop",
         "[jump 0 target=*a]\n*a|\n[link target=*a]もう一度[endlink]\n[s]\n",
         "",
         {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lint(c.block0, c.block1), c.expected) << c.what;
}

TEST(Lint, NamesWhereAPageAfterCtReallyStarts) {
    const Case cases[] = {
        {"one line end per [ct] is exact", "あ\n[ct]い\n[reset]\n", "", {}},
        {"a comment line makes up for each further line end",
         ";メモ\nあ\nい\n[ct]う\n[reset]\n",
         "",
         {}},
        {"two line ends: one byte early, inside the tag",
         "あ\nい\n[ct]う\n[reset]\n",
         "",
         {"s0:3:1: error: the next page starts 1 byte early, at line 3, column 4, inside the [ct] "
          "tag: its bytes show as blank cells (the engine counts each line end on a page one "
          "byte short, and each comment line and automatic line wrap one byte over; add 1 "
          "comment line to the page)"}},
        {"nine line ends: text shown again",
         "あ\nい\nう\nえ\nお\nか\nき\nく\nけこ\n[ct]さ\n[reset]\n",
         "",
         {"s0:10:1: error: the next page starts 8 bytes early, at line 9, column 2: text already "
          "shown is shown again (the engine counts each line end on a page one byte short, and "
          "each comment line and automatic line wrap one byte over; add 8 comment lines to the "
          "page)"}},
        {"one comment too many: inside a character",
         ";メモ\nあ\n[ct]いう\n[reset]\n",
         "",
         {"s0:3:1: error: the next page starts inside a double-byte character, at line 3, column "
          "5: the text is garbled (the engine counts each line end on a page one byte short, and "
          "each comment line and automatic line wrap one byte over; remove 1 comment line)"}},
        {"two too many: text dropped",
         ";メモ\n;メモ\nあ\n[ct]いう\n[reset]\n",
         "",
         {"s0:4:1: error: the next page starts 2 bytes late, at line 4, column 6: the text before "
          "it is never shown (the engine counts each line end on a page one byte short, and each "
          "comment line and automatic line wrap one byte over; remove 2 comment lines or shorten "
          "the lines that wrap)"}},
        {"[ct] on a line of its own",
         "あ\n[ct]\nい\n[reset]\n",
         "",
         {"s0:2:1: warning: the next page opens with an empty line and a click wait: write the "
          "[ct] at the start of the next page's first line"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lint(c.block0, c.block1), c.expected) << c.what;
}

TEST(Lint, ReportsBytesTheEngineMisreads) {
    // A bare LF line end, and half-width katakana, which the engine takes as a lead byte.
    std::string bareLf = "\x82\xA0\r\n\x82\xA2\n\x82\xA4\r\n[reset]\r\n";
    std::vector<std::string> got = lintPlain(bareLf, "");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "s0:2:2: error: a line end without CR: the engine overwrites the byte "
                      "before the LF");
    got = lint("ｱい\n[reset]\n");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "s0:1:1: error: half-width katakana 「ｱ」: the engine reads the byte as "
                      "the first of a double-byte character and garbles the text");
}

TEST(Lint, FindsNothingInTheDemoGame) {
    LintResult r = lintGameFolder(std::string(TOLVANE_BINARY_DIR) + "/demo/game");
    std::string all;
    for (const LintDiagnostic& d : r.diagnostics)
        all += formatDiagnostic(d) + "\n";
    EXPECT_EQ(all, "");
}

TEST(Lint, ReportsMissingPicturesAndSounds) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("lint_assets_" + std::to_string(::getpid()));
    fs::create_directories(dir / "Scenario");
    fs::path game = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
    fs::copy(game / "Scenario", dir / "Scenario");
    fs::copy(game / "CG", dir / "CG");
    fs::copy(game / "Sound", dir / "Sound");
    fs::remove(dir / "CG" / "背景3.bmp");
    fs::remove(dir / "Sound" / "door50.wav");
    LintResult r = lintGameFolder(dir.string());
    ASSERT_EQ(r.errors, 2);
    EXPECT_EQ(formatDiagnostic(r.diagnostics[0]),
              dir.string() + "/CG/背景3.bmp: error: missing: the game loads this file");
    EXPECT_EQ(formatDiagnostic(r.diagnostics[1]),
              dir.string() + "/Sound/door50.wav: error: missing: the game loads this file");
    fs::remove_all(dir);
}

// The sources an author plays with the game's --source, linted as they are: encode errors are
// findings with their places, and the lines are the sources' lines.
TEST(Lint, LintsTheSourcesAndWatchesThemForChanges) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("lint_sources_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "Scenario");
    const fs::path game = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
    fs::copy(game / "CG", dir / "CG");
    fs::copy(game / "Sound", dir / "Sound");
    auto write = [&](const char* name, const std::string& text) {
        ASSERT_TRUE(writeWholeFile((dir / "Scenario" / name).string(), text));
    };
    write("scenario0.txt", "あ\n[playbgm 2x]い\n[reset]\n");
    write("end1.txt", "う\n[reset]\n");
    LintResult r = lintGameFolder(dir.string(), true);
    ASSERT_EQ(r.diagnostics.size(), 2u);
    EXPECT_EQ(formatDiagnostic(r.diagnostics[0]),
              dir.string() + "/Scenario/scenario0.txt:2:1: warning: [playbgm]: the slot '2x' is "
                             "not a number; the engine reads it as [playbgm 2]");

    write("end1.txt", "う\nミ\n");
    r = lintGameFolder(dir.string(), true);
    ASSERT_EQ(r.errors, 1);
    EXPECT_TRUE(formatDiagnostic(r.diagnostics[0])
                    .starts_with(dir.string() + "/Scenario/end1.txt:2:1: error: 「ミ」"))
        << formatDiagnostic(r.diagnostics[0]);

    // --watch lints at once and again after a change, until it is stopped.
    write("end1.txt", "う\n[reset]\n");
    const std::string out = (dir / "watch.txt").string();
    const std::string command = "timeout -s INT 4 '" TOLVANE_BINARY_DIR
                                "/tools/tolvane-script' lint --source --watch '" +
                                dir.string() + "' > '" + out + "' 2>&1 & sleep 1.5; printf '" +
                                "\\343\\201\\202\\n[playse x5]\\n[reset]\\n' > '" +
                                (dir / "Scenario" / "scenario0.txt").string() + "'; wait";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string seen;
    ASSERT_TRUE(readWholeFile(out, seen));
    const std::size_t again = seen.find("scenario0.txt changed; linted again");
    ASSERT_NE(again, std::string::npos) << seen;
    EXPECT_NE(seen.find("[playbgm]: the slot '2x'"), std::string::npos) << seen;
    EXPECT_NE(seen.find("scenario0.txt:2:1: warning: [playse]: the slot 'x5'", again),
              std::string::npos)
        << seen;
    fs::remove_all(dir);
}

// An author lints after every change: a folder of a hundred pages takes well under a tenth of a
// second (a sanitizer build is slower than a player's).
TEST(Lint, AHundredPagesTakeLessThanATenthOfASecond) {
    std::string block0;
    for (int p = 0; p < 100; ++p)
        block0 +=
            "*p" + std::to_string(p) +
            "\n;メモ\n;メモ\n[image 0 layer=base left=0 top=0][playbgm 1]雨の坂道を、ひとり"
            "で歩いていた。\n「こんにちは。どこへ行くの？」\n気がつくと、古い図書館の前にいた。\n" +
            (p < 99 ? "[jump 0 target=*p" + std::to_string(p + 1) + "]\n" : "[reset]\n");
    const std::string plain0 = plainOf("あ\n[jump 0 target=*p0]\n" + block0);
    const std::string plain1 = plainOf("*owari\n朝。\n[reset]\n");
    const auto start = std::chrono::steady_clock::now();
    const LintResult r = lintScenarioText(plain0, plain1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.errors, 0);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(took, std::chrono::milliseconds(100));
#endif
}

} // namespace

namespace {

// Scripts stitched at random from pieces that break the page model in every way the text can:
// unclosed tags and comments, stray lead bytes, bare line ends, pages far over the limit, jumps
// and links in all directions. The linter must finish on each, inside its buffers.
TEST(Lint, FinishesOnArbitraryScripts) {
    const std::string_view pieces[] = {"\x82\xA0",
                                       "\x82\xA2\x82\xA4\x82\xA6",
                                       "\r\n",
                                       "\n",
                                       "\r",
                                       "[ct]",
                                       "[l]",
                                       "[s]",
                                       "[reset]",
                                       "[jump 0 target=*a]",
                                       "[jump 1 target=*b]",
                                       "[link target=*a]",
                                       "[endlink]",
                                       "[image 0 layer=0 left=0 top=0]",
                                       "[image 3 layer=base ",
                                       ";memo",
                                       "*a\r\n",
                                       "*b|\r\n",
                                       "[",
                                       "]",
                                       "x",
                                       "\xB1",
                                       "\x82",
                                       "[playse 50]",
                                       "[nope]",
                                       "[jump 0 target=*",
                                       "\x81\x5D"};
    std::uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 300; ++round) {
        std::string blocks[2];
        for (std::string& b : blocks) {
            const int count = static_cast<int>(next() % (round % 10 == 0 ? 3000 : 60));
            for (int i = 0; i < count; ++i)
                b += pieces[next() % std::size(pieces)];
        }
        LintResult r = lintScenarioText(blocks[0], blocks[1]);
        EXPECT_EQ(r.errors + r.warnings, static_cast<int>(r.diagnostics.size()));
    }
}

} // namespace

// A folder's own formats and effects: a PNG standing in for a BMP is no missing picture, one
// beside the BMP is ignored and said so, and an effect numbered 53 to 99 fills its slot for the
// tags that play it.
TEST(Lint, KnowsThePicturesAndEffectsAFolderHoldsInItsOwnFormats) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("lint_formats_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const fs::path game = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
    fs::copy(game, dir, fs::copy_options::recursive);
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".sav") fs::remove(entry.path());
    fs::rename(dir / "CG" / "背景3.bmp", dir / "CG" / "背景3.png");
    fs::copy_file(dir / "CG" / "背景5.bmp", dir / "CG" / "背景5.webp");
    fs::copy_file(dir / "Sound" / "door50.wav", dir / "Sound" / "rain53.wav");
    fs::copy_file(dir / "Sound" / "door50.wav", dir / "Sound" / "snow53.wav");
    const auto text = [](const LintResult& r) {
        std::string all;
        for (const LintDiagnostic& d : r.diagnostics)
            all += formatDiagnostic(d) + "\n";
        return all;
    };
    LintResult r = lintGameFolder(dir.string());
    EXPECT_EQ(r.errors, 0) << text(r);
    EXPECT_NE(
        text(r).find("背景5.webp: warning: ignored: the game loads CG/背景5.bmp in its place"),
        std::string::npos)
        << text(r);
    EXPECT_NE(text(r).find("snow53.wav: warning: ignored: Sound/rain53.wav fills slot 53"),
              std::string::npos)
        << text(r);

    // A tag that plays a slot of 53 to 99 is warned of only while no file fills it.
    const auto slotWarnings = [&](int slot) {
        const std::string plain = "[playse " + std::to_string(slot) + "]\r\n[s]";
        std::vector<std::string> found;
        for (const LintDiagnostic& d : lintScenarioText(plainOf(plain), "", "s0", "s1").diagnostics)
            if (d.message.find("never loaded") != std::string::npos) found.push_back(d.message);
        return found.size();
    };
    EXPECT_EQ(slotWarnings(53), 0u);
    EXPECT_EQ(slotWarnings(54), 1u);
    fs::remove_all(dir);
}

// Sounds in the author's formats stand in for those the game names as pictures' formats do, in
// their order; a second format of one name is ignored and said so; a picture over the side the
// game shows is an error, read from its header alone.
TEST(Lint, KnowsTheSoundStandInsAndThePicturesTooLargeToShow) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("lint_sounds_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "CG");
    fs::create_directories(dir / "Sound");
    const auto put = [&](const std::string& name, std::vector<std::uint8_t> bytes = {1}) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    };
    put("Sound/morva_g0.ogg"); // music: an Ogg file for the MIDI piece
    put("Sound/brel_gm1.wav"); // a WAV never stands in for music
    put("Sound/door50.flac");  // effects: the first there of .ogg, .opus, .flac, .wav
    put("Sound/door50.opus");
    put("Sound/gameover51.wav"); // the name itself wins over any stand-in
    put("Sound/gameover51.ogg");
    put("Sound/start52.opus");
    put("Sound/tune54.wav"); // numbered: the first by name fills the slot
    put("Sound/tune54.ogg");
    // Headers only: a PNG 5000 pixels wide, a BMP 4097 high, a PNG just within the bounds.
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13,
                                     'I',  'H', 'D', 'R', 0,    0,    0x13, 0x88, 0, 0, 0, 10};
    put("CG/背景6.png", png);
    png[18] = 0x10, png[19] = 0x00, png[22] = 0x10, png[23] = 0x00; // 4096 x 4096
    put("CG/背景1.png", png);
    std::vector<std::uint8_t> bmp = {'B', 'M', 0, 0, 0, 0,  0, 0, 0, 0,    54,   0, 0,
                                     0,   40,  0, 0, 0, 10, 0, 0, 0, 0x01, 0x10, 0, 0};
    put("CG/背景7.bmp", bmp);

    std::string all;
    for (const LintDiagnostic& d : lintGameFolder(dir.string()).diagnostics)
        all += formatDiagnostic(d) + "\n";
    const std::string d = dir.string() + "/";
    struct Case {
        std::string line;
        bool present;
    };
    const Case cases[] = {
        {d + "Sound/morva_g0.mid: error: missing", false},
        {d + "Sound/brel_gm1.mid: error: missing: the game loads this file", true},
        {d + "Sound/door50.wav: error: missing", false},
        {d + "Sound/door50.flac: warning: ignored: the game loads Sound/door50.opus in its place",
         true},
        {d + "Sound/gameover51.ogg: warning: ignored: the game loads Sound/gameover51.wav in its "
             "place",
         true},
        {d + "Sound/start52.wav: error: missing", false},
        {d + "Sound/tune54.wav: warning: ignored: Sound/tune54.ogg fills slot 54", true},
        {d + "CG/背景6.png: error: the picture is 5000 x 10 pixels, larger than the 4096 a side",
         true},
        {d + "CG/背景7.bmp: error: the picture is 10 x 4097 pixels", true},
        {d + "CG/背景1.png: error", false},
        {d + "CG/背景6.bmp: error: missing", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(all.find(c.line) != std::string::npos, c.present) << c.line << "\n" << all;
    fs::remove_all(dir);
}
