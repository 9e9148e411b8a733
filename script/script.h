// The scenario engine: scenario files, the page builder, the tag interpreter, picture and sound
// tags, labels, jumps and choice links, and the checkpoint.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "render/quad.h"
#include "script/script_state.h"

// ---- Scenario files ----------------------------------------------------------------------

inline constexpr std::string_view kScenarioPath0 = ".\\Scenario\\scenario0.qv_";
inline constexpr std::string_view kScenarioPath1 = ".\\Scenario\\end1.qv_";

// Stored byte <-> plain byte; the same formula both ways.
inline constexpr std::uint8_t scrambleScenarioByte(std::uint8_t b) {
    return static_cast<std::uint8_t>(125 - b);
}

// Reads and descrambles a scenario file into a block (65535 bytes): the text (up to the end of
// the file or a stored 0xFF, at most 65534 bytes), then one zero byte. 1 when read, 0 when it
// cannot be opened (after its message).
int loadScenarioFile(std::span<std::uint8_t, kBlockSize> block, std::string_view path);

// What every game start does to the scenario engine before the scenario is loaded: block 0 and
// background 0, layers 0 and 1 rebuilt at their place and hidden, the click icon and the link
// areas reset, no choice pending, and the page geometry.
void prepareScenarioForGame();

// Loads both scenario files, builds the first page of block 0 and starts the reveal.
void startScenario();

// A byte of g_scenario, or 0 outside it.
std::uint8_t scenarioByte(std::int64_t pos);

// ---- Page builder ------------------------------------------------------------------------

// Starts the next page at source + revealPos + removedBytes and fills it.
void buildNextPage();
// The fill alone, from source, with the wrap counter starting at column.
void fillPage();

// ---- Tag interpreter ---------------------------------------------------------------------

// One step of the current page: reveal a character, run a tag or drop a comment.
void stepScript();
// Cuts the length bytes just before revealPos out of the page; counted ones add to removedBytes.
void removeFromPage(int length, bool uncounted);
// Moves the click icon behind the last revealed character.
void placeClickIcon();
// The click that lets a waiting text go on (the pointer's fresh left press).
void signalClick();

// ---- Picture and sound tags --------------------------------------------------------------

inline constexpr int kLayerCount = 10;
inline constexpr int kBackgroundCount = 10;
inline constexpr int kCharPictureCount = 13;

struct PictureLayer {
    ScreenQuad quad;      // where the picture is drawn; layers 2..9 are never built (zero size)
    std::int32_t imageNo; // picture number, 0..12
    bool visible;
};

// The character-picture layers, drawn 0..9. Zero at start; game init rebuilds layers 0 and 1.
extern std::array<PictureLayer, kLayerCount> g_layers;
// Background number, 0..9; 0 at start and after every game init.
extern std::int32_t currentBackground;
// The slot last started as music by [playbgm] or a continue; -1 until then.
extern std::int32_t currentBgm;

// Reads a decimal number backwards from page[last] down to (not including) the delimiter at
// page[stop], passing over non-digits. digits receives the number of digits read.
std::int64_t readTagNumber(int last, int stop, int* digits = nullptr);

// The handlers, given the length of the tag that ends just before revealPos.
void showImage(int length);
void playSoundEffect(int length);
void playMusic(int length);
void stopMusic();

// ---- Labels, jumps and choice links ------------------------------------------------------

inline constexpr int kLinkCount = 10;
inline constexpr int kMaxLabelName = 255;

struct LinkEntry {
    ScreenQuad quad;                            // hit area and highlight
    std::array<char, kMaxLabelName + 1> target; // label name, zero-terminated, without the '*'
    bool active;                                // belongs to the pending choice
    bool hovered;                               // the pointer overlaps it
};

// The choice links. Zero at start; game init resets the quads; [link] fills, a choice clears.
extern std::array<LinkEntry, kLinkCount> g_links;

// Searches block `block` for the label line "*name" and moves source to the line after it.
// Nothing when the label is not in the block's text (source unchanged); otherwise whether the
// label carries the checkpoint mark.
std::optional<bool> findLabel(int block, std::string_view name);

void jumpToLabel(int length);
void defineLink(int length);
void testLinks();
// Follows the link linkCount names; false (after its message) when its label is missing.
bool goToChosenLink();
void clearLinks();
void resetToTitle();
// Draws the first link that is active and hovered with the choice picture.
void drawChoiceHighlight();

// ---- Checkpoint --------------------------------------------------------------------------

inline constexpr std::string_view kCheckpointPath = "Data.sav";
inline constexpr int kCheckpointSize = 500;

// Lays out the checkpoint record for the current state (500 plain bytes, not yet scrambled).
std::array<std::uint8_t, kCheckpointSize> makeCheckpointRecord(std::string_view label);
// Writes "Data.sav" for the label, whole or not at all; sets saveWritten when the file holds the
// record. A record this run already wrote and the file still holds is not written again.
void writeCheckpoint(std::string_view label);
// Forgets what this run last wrote and whether a failed write was shown: the next checkpoint is
// written whatever the file holds. For a fresh start (tests start many games in one process).
void forgetCheckpointWrites();
// Restores the game from "Data.sav"; a missing or damaged file keeps the game as it is.
void restoreCheckpoint();
