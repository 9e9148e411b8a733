// The scenario engine: scenario files, the page builder, the tag interpreter, picture and sound
// tags, labels, jumps and choice links, and the checkpoint.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// Loads both scenario files, builds the first page of block 0 and starts the reveal (or the
// page behind the start place's label, once, when one is set).
void startScenario();

// Loads both blocks from where the scenario comes from: the files, or the provided sources.
void loadScenarioBlocks();

// The author's sources, encoded (stored bytes, as a scenario file holds them), played instead of
// the scenario files from the next load on; sourceName names the text for messages and places.
void provideScenario(int block, std::vector<std::uint8_t> stored, std::string sourceName);
void forgetProvidedScenario();
// The name of the source a block was made from, or empty when it came from its scenario file.
std::string_view scenarioSourceName(int block);

// The next game starts on this label, as a jump there lands (a checkpoint label writes the
// checkpoint), instead of at the start of block 0. Used once.
void setStartPlace(int block, std::string_view label);

// Starts the page at a source position again, as a fresh page: no choice pending, the reveal
// running. For an author's reload; the pictures and music stay as they are.
void restartPageAt(std::int32_t source);

// Puts plain text into a block as a load leaves it: the text (cut to kMaxScenarioText bytes),
// one zero byte, and the rest of the block zero; records its length.
void putBlockText(int block, std::string_view plain);

// A byte of g_scenario, or 0 outside it.
std::uint8_t scenarioByte(std::int64_t pos);

// ---- Page builder ------------------------------------------------------------------------

// Starts the next page at source + revealPos + removedBytes and fills it.
void buildNextPage();
// The fill alone, from source, with the wrap counter starting at column.
void fillPage();

// The g_scenario position each page byte was made from (a byte the builder added has that of the
// source byte it stands for). Written with the page by the builder, cut with it by removeFromPage.
extern std::array<std::int32_t, kPageBufferSize> g_pageOrigin;

// ---- Tag interpreter ---------------------------------------------------------------------

// One step of the current page: reveal a character, run a tag or drop a comment.
void stepScript();
// The tag whose '[' is at page byte `at`, as the interpreter reads it: its name runs from the
// byte after '[' to nameEnd (a space or ']'), and it ends at the ']' at close; close is -1 when
// the page holds no ']' after it.
struct TagSpan {
    int nameEnd;
    int close;
};
TagSpan tagSpanAt(int at);
// Cuts the length bytes just before revealPos out of the page; counted ones add to removedBytes.
void removeFromPage(int length, bool uncounted);
// Moves the click icon behind the last revealed character.
void placeClickIcon();
// The click that lets a waiting text go on (the pointer's fresh left press).
void signalClick();

// The tag the interpreter read last: its first bytes and where it came from in g_scenario.
struct LastTag {
    std::array<char, 64> text; // Shift-JIS, the first `length` bytes of the tag
    int length;                // 0 until a tag has run
    std::int32_t origin;
};
// Written by the interpreter at every tag it reads; for the trace and the author's overlay.
extern LastTag g_lastTag;

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

// ---- Places in the source text ----------------------------------------------------------

// A g_scenario position as a place in its block's text: the line (from 1, lines end at LF) and
// the byte within it (from 0). Lines are those of the author's source and of what decode gives.
struct SourcePlace {
    int block;
    int line;
    int byte;
};
SourcePlace sourcePlaceOf(std::int64_t pos);
// A line of a block's text without its line end; nothing past the last line.
std::optional<std::string_view> sourceLine(int block, int line);
// The position of a line's first byte; nothing past the last line.
std::optional<std::int32_t> positionOfLine(int block, int line);
// Where a jump to the last label line above `line` lands (the line after it); nothing when no
// label line stands above it.
std::optional<std::int32_t> landingBeforeLine(int block, int line);
// "FILE:LINE" of a position when its block was made from a provided source, else empty.
std::string sourceAt(std::int64_t pos);

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
// The plain record this run last wrote to the checkpoint (and the file held when it was
// written), or nothing when this run has written none since the last forgetCheckpointWrites.
std::optional<std::array<std::uint8_t, kCheckpointSize>> lastCheckpointWrite();
// Puts the checkpoint back to a plain record this run had written, as writeCheckpoint writes it
// (nothing is written when the file already holds it), so that a continue reads it again. False
// (after its message) when the file cannot be written.
bool rewriteCheckpoint(const std::array<std::uint8_t, kCheckpointSize>& plain);
