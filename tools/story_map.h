// The story map: an explored story drawn by Graphviz, one box a page (its first characters and
// its file:line), arrows for the flow ([ct], jumps, each choice's link with its text), checkpoint
// labels and endings marked, and the pages no path reaches greyed.
#pragma once

#include <string>

#include "tools/explore.h"

// The map as an SVG document; false, with why, when Graphviz cannot lay it out.
bool renderStoryMap(const ExploreReport& report, std::string* svg, std::string* why);

// One HTML page: the map beside the explore report.
std::string storyMapPage(const ExploreReport& report, const std::string& svg);
