// Faults the fuzz targets found in the scenario engine, each kept as the smallest script that
// shows it.
#include <algorithm>

#include "engine_fixture.h"

using namespace fixture;

namespace {

int count(std::string_view text, std::string_view what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos;
         at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

class FuzzRegressions : public GameFolderTest {};

// Cutting a tag or comment out of the page pulls the rest of the page forward. The bytes it
// leaves free at the page's end must not keep copies of what was there: the reveal would meet
// those copies again, showing text twice, or running a tag at the end of the page for ever
// (each run adding to removedBytes, which then overflows).
TEST_F(FuzzRegressions, CutsLeaveNoCopiesAtThePageEnd) {
    const std::string image = "[image 3 layer=base left=0 top=0]";
    const int L = static_cast<int>(image.size());
    struct Case {
        const char* name;
        std::string block;
        std::string_view shownTag; // how often it is shown once the page has ended
        int shownCount;
        int removedBytes;
    };
    const Case cases[] = {
        // The comment's cut leaves six free bytes, where the unknown tag stood.
        {"tag shown twice", ";c\r\n" + std::string(2036, 'x') + "[name]", "[name]", 1, 5},
        // Two picture tags end the page: after the first cut the second is the page's last
        // item, and its copy must not be met again after it runs.
        {"tag run for ever", std::string(2048 - 2 * L, 'x') + image + image, "[image", 0, 2 * L},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetEngine();
        startFromMemory(c.block);
        int frames = 0;
        while (!g_script.pageEnded && frames < 5000) {
            stepScript();
            ++frames;
        }
        EXPECT_TRUE(g_script.pageEnded) << "the reveal never reached the end of the page";
        EXPECT_EQ(count(shown(), c.shownTag), c.shownCount);
        EXPECT_EQ(g_script.removedBytes, c.removedBytes);
        EXPECT_EQ(currentBackground, c.shownCount == 0 ? 3 : 0);
    }
}
