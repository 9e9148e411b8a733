// What the player's sources share: the comforts' memory of the run, the tests every concern asks
// of the game, and the few pieces each concern gives the frame's entry points. Private to player/.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "render/quad.h"

struct ComfortsMemory {
    std::vector<std::uint8_t> shown;                // the revealed text of the page on screen
    std::int64_t shownPage = -1;                    // block and source of that page
    std::vector<std::vector<std::uint8_t>> history; // earlier pages' text, oldest first
    std::set<std::int64_t> readPages;               // pages left behind in this run
    int framesPerSecond = 60;
    bool enabled = true;
};
// The pages followed by the backlog, and how the comforts run. The pages are written by the
// backlog and reset by resetComforts; the frame rate and the switch only by their setters.
extern ComfortsMemory g_comfortsMemory;

bool keyDown(int key);
bool inGame();
bool atClickWait();
// The page on screen: its block and where its source begins.
std::int64_t pageKey();
std::string toSjis(std::string_view utf8);

// Drawing over the game: the whole screen dimmed, a text with its shadow.
void dim(std::uint32_t alpha);
void drawShadowed(const std::string& text, const Rect& rect);

// Backlog (backlog.cpp).
// Keeps the page on screen; when another page replaces it, the one before joins the backlog.
void followPage();
void openBacklog();
void backlogInput();
void drawBacklog();

// Menu (menu.cpp).
void menuInput();
void drawMenu();

// Auto mode's mark (skip_auto.cpp).
void drawAutoMark();
