// The interpreter's state and the current page: the records every part of the scenario engine
// reads and writes.
#pragma once

#include <array>
#include <cstdint>

#include "render/quad.h"

// Two blocks of 65535 bytes (not 65536): block b starts at b * 65535.
inline constexpr int kBlockSize = 65535;
inline constexpr int kBlockCount = 2;
inline constexpr int kScenarioSize = kBlockSize * kBlockCount;
// A block holds at most this much plain text, so that the text and its zero byte fit.
inline constexpr int kMaxScenarioText = kBlockSize - 1;

// The page: bytes 0..2047 are the page; the rest only ever holds the tail of a fill's last item.
inline constexpr int kPageLimit = 2048;
inline constexpr int kPageBufferSize = 4096;

struct ScriptState {
    std::int32_t source;       // where the current page's source begins, a byte index in g_scenario
    std::int32_t revealPos;    // page bytes before the reveal position: the bytes on screen
    std::int32_t removedBytes; // cut-out page bytes that count as used source bytes
    std::int32_t column;       // two-byte characters revealed on the current display line
    std::int32_t line;         // display line of the reveal position, 0 for the page's first
    std::int32_t charsPerLine; // two-byte characters per display line, 25
    bool textRunning;          // the interpreter steps every frame; clear while waiting for a click
    bool linkMode;             // set by [endlink]: [l] does not wait
    bool choiceWait;           // set by [s]: the link hit test runs instead of the interpreter
    std::int32_t linkCount; // the LinkEntry the next [link] fills; the chosen one during a choice
    std::int32_t currentBlock; // the block in use, 0 or 1
    bool saveWritten;          // a checkpoint was written in this run
    bool continueGame;         // the next game init restores the checkpoint
    bool pageEnded;            // the reveal reached the end of the page with no page change
};

// The interpreter's state. Zero at start; put into its starting values by startScenario, moved
// by the page builder, the interpreter, the tag handlers and the checkpoint restore.
extern ScriptState g_script;

// The current page (see kPageLimit). Zero at start; written by the page builder and cut by the
// interpreter.
extern std::array<std::uint8_t, kPageBufferSize> g_page;

// The descrambled scenario blocks. Zero at start; written only by the scenario loader.
extern std::array<std::uint8_t, kScenarioSize> g_scenario;
// The length of each block's text as last loaded: its zero byte stands there. A zero byte inside
// the text is a blank byte of it, and a shorter load leaves the longer text's tail behind its
// zero byte, so only this length says where a block's text ends. Zero at start; written with
// g_scenario.
extern std::array<int, kBlockCount> g_blockLength;

// Where the page text is drawn, and its shadow two pixels right and down. The text grid: 28
// pixels per two-byte character, 35 per line, from the top-left of g_textRect.
inline constexpr Rect g_textRect{50, 50, 750, 550};
inline constexpr Rect g_shadowRect{52, 52, 752, 552};
inline constexpr int kCellWidth = 14;
inline constexpr int kLineHeight = 35;

// The click-wait icon, 30 x 30; built by the game initialiser, moved by placeClickIcon.
extern ScreenQuad g_clickQuad;
