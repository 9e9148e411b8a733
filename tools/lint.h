// The scenario linter: reads both scenario files as the engine does, plays every page through
// the engine's own page builder and interpreter state, and reports what the engine would do
// wrong with the script, each with its file, line and column.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

struct LintDiagnostic {
    std::string file; // as it should be printed
    int line = 0;     // 0 for a finding about a whole file (a missing picture, say)
    int column = 0;
    bool error = true;
    std::string message;
};

struct LintResult {
    std::vector<LintDiagnostic> diagnostics; // sorted by file order and place
    int errors = 0;
    int warnings = 0;
};

// Lints the scenario files of a game folder (Scenario/scenario0.qv_ and Scenario/end1.qv_), or
// with sources its UTF-8 sources (Scenario/scenario0.txt and Scenario/end1.txt, encoded as the
// game's --source plays them; an encode error is a finding), and checks that every file the game
// loads is there.
LintResult lintGameFolder(const std::string& gameDir, bool sources = false);

// The scenario files lintGameFolder reads, as paths.
std::array<std::string, 2> lintedScenarioFiles(const std::string& gameDir, bool sources);

// Lints two blocks given as plain (descrambled) Shift-JIS text; file names are for messages.
// Leaves the engine's scenario state as the last simulated page left it.
LintResult lintScenarioText(std::string_view plain0, std::string_view plain1,
                            const std::string& file0 = "scenario0.qv_",
                            const std::string& file1 = "end1.qv_");

// "file:line:col: error: message", or "file: error: message" for a whole file.
std::string formatDiagnostic(const LintDiagnostic& d);
