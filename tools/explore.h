// The story explorer: plays a game's scenario through the engine's own interpreter from the start
// and from every checkpoint a continue could restore, clicking every click wait and taking every
// link of every choice. Moments with the same interpreter state are played once, so a story whose
// branches join again stays small. It reports what no path reaches, paths that never end, labels,
// pictures and sounds a path asks for that are not there, and every ending with its shortest and
// longest way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lint.h"

// A way through the story: what the player does and reads on it.
struct ExploreWay {
    std::int64_t clicks = 0;
    std::int64_t choices = 0;
    std::int64_t characters = 0; // double-byte characters revealed, one a frame
    double seconds() const { return static_cast<double>(characters) / 60.0; }
};

// A [reset] some path reaches. The shortest way reads the fewest characters (then takes the
// fewest clicks); the longest the most. `endless` when the player can go round a loop of choices
// on the way to it, so no way is the longest.
struct ExploreEnding {
    std::string file;
    int line = 0;
    int column = 0;
    ExploreWay shortest;
    ExploreWay longest;
    bool endless = false;
    bool fromStart = true; // false when only a continue reaches it
};

// A page: where the page builder starts one. The text's pages are the start of block 0, the line
// after every label line and the text behind every [ct]; a page the engine starts anywhere else
// (a [ct] that counts its page wrong) is listed too, with inText false.
struct ExplorePage {
    std::string file;
    int line = 0;
    int column = 0;
    std::string text;  // its first characters, UTF-8
    std::string label; // the label line above it, UTF-8, without '*'; empty for none
    bool checkpoint = false;
    bool inText = true;
    bool reached = false;
};

enum class ExploreStep { Next, Jump, Link, Ending };

// The flow from one page to the next, as a path took it. `to` is a page, or an ending for Ending.
struct ExploreArrow {
    int from = 0;
    int to = 0;
    ExploreStep step = ExploreStep::Next;
    std::string text; // a link's text, UTF-8
    bool operator<(const ExploreArrow& o) const;
};

struct ExploreReport {
    std::vector<LintDiagnostic> diagnostics; // sorted by file order and place
    int errors = 0;
    int warnings = 0;
    std::vector<ExploreEnding> endings; // in file order
    std::vector<ExplorePage> pages;     // in file order
    std::vector<ExploreArrow> arrows;
    int pagesInText = 0;
    int pagesReached = 0; // of the text's pages
    int linksInText = 0;
    int linksOffered = 0; // [link] tags some choice offered
    int linksTaken = 0;   // of those, the ones whose label was there to go to
    std::size_t moments = 0;
    bool cutShort = false; // the explorer stopped at its limit of moments
};

// Explores two blocks given as plain (descrambled) Shift-JIS text; file names are for messages.
// With a game folder, a picture or sound a path asks for is looked for in it. Leaves the engine's
// scenario state as the last moment played left it.
ExploreReport exploreScenarioText(std::string_view plain0, std::string_view plain1,
                                  const std::string& file0, const std::string& file1,
                                  const std::optional<std::string>& gameDir = std::nullopt);

// Explores a game folder's scenario files, or with sources its UTF-8 sources encoded as the
// game's --source plays them. A file that cannot be read or encoded is an error, and nothing is
// explored.
ExploreReport exploreGameFolder(const std::string& gameDir, bool sources);

// The report as lines: the findings, a note for every ending, and the coverage.
std::string formatExploreText(const ExploreReport& report);
// The report as one JSON document.
std::string formatExploreJson(const ExploreReport& report);
