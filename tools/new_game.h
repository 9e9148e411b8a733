// The starter game `tolvane-script new` makes: the bundled demo's pictures and sounds, and two
// short sources that use every tag once, each explained by a comment beside it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// The sources, UTF-8 with LF line ends, as Scenario/scenario0.txt and Scenario/end1.txt.
extern const std::string_view kStarterScenario0;
extern const std::string_view kStarterEnd1;

// The demo game folder whose pictures and sounds a new game starts from: the one beside the
// tool in a build tree, else the installed one. Empty when there is none.
std::string starterAssetsFolder();

// Makes the starter game in `dir`, which must not exist or be empty, from the pictures and sounds
// of `assets`. 0 when made; 2 (after a line on `err`) when it cannot be.
int makeStarterGame(const std::string& dir, const std::string& assets, std::FILE* err);
