#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "script/scenario_text.h"
#include "tools/explore.h"
#include "tools/story_map.h"

namespace {

namespace fs = std::filesystem;

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

int exitStatus(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The demo's map as the tool draws it: a picture a renderer takes, with a box for every page and
// ending and an arrow for every step the paths took.
TEST(StoryMap, DrawsTheDemoWithABoxAPageAndAnArrowAStep) {
    const fs::path dir = fs::temp_directory_path() / ("story_map_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string game = TOLVANE_BINARY_DIR "/demo/game";
    const std::string svgPath = (dir / "map.svg").string(), pngPath = (dir / "map.png").string();
    ASSERT_EQ(exitStatus("'" TOLVANE_BINARY_DIR "/tools/tolvane-script' map '" + game + "' '" +
                         svgPath + "'"),
              0);
    ASSERT_EQ(exitStatus("rsvg-convert '" + svgPath + "' -o '" + pngPath + "'"), 0);
    std::string svg, png;
    ASSERT_TRUE(readWholeFile(svgPath, svg));
    ASSERT_TRUE(readWholeFile(pngPath, png));
    EXPECT_TRUE(png.starts_with("\x89PNG"));

    const ExploreReport r = exploreGameFolder(game, false);
    EXPECT_EQ(count(svg, "class=\"node\""), r.pages.size() + r.endings.size());
    EXPECT_EQ(count(svg, "class=\"edge\""), r.arrows.size());
    EXPECT_EQ(count(svg, "ending"), 2u);
    EXPECT_EQ(count(svg, "(checkpoint)"), 1u);
    EXPECT_NE(svg.find("館長にたずねてみる"), std::string::npos); // a link's text on its arrow

    ASSERT_EQ(exitStatus("'" TOLVANE_BINARY_DIR "/tools/tolvane-script' map --html '" + game +
                         "' '" + (dir / "map.html").string() + "'"),
              0);
    std::string html;
    ASSERT_TRUE(readWholeFile((dir / "map.html").string(), html));
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_NE(html.find("coverage: " + std::to_string(r.pagesReached) + " of "), std::string::npos);
    fs::remove_all(dir);
}

TEST(StoryMap, GreysThePagesNoPathReaches) {
    auto plain = [](std::string_view utf8) {
        return plainScenarioText(encodeScenario(utf8, SourceEncoding::Utf8).stored);
    };
    const ExploreReport r =
        exploreScenarioText(plain("あ\n[reset]\n*x\nい\n[reset]\n"), plain(""), "s0", "e1");
    ASSERT_EQ(r.pages.size(), 2u);
    EXPECT_FALSE(r.pages[1].reached);
    std::string svg, why;
    ASSERT_TRUE(renderStoryMap(r, &svg, &why)) << why;
    EXPECT_EQ(count(svg, "fill=\"#e0e0e0\""), 1u);
    EXPECT_EQ(count(svg, "class=\"node\""), 3u);
}

} // namespace
