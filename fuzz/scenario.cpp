// The scenario engine as a player meets it: random plain text in both blocks, then a few
// thousand game frames of clicks, pointer moves and link choices, across page changes, jumps,
// [reset], F1 and continues.
//
// Input: BLOCK0 '~' BLOCK1 '~' CONTROL. The blocks are split at the byte 0x7E because a
// scenario file cannot hold it: its stored form 0xFF ends the file. So every block made here
// is one the loader could give. CONTROL[0] lays the blocks out: bits 0-1 for block 0, bits
// 2-3 for block 1, each 1 for its text repeated up to the block's capacity and 2 for its text
// behind 'x' bytes up to the capacity (see fuzz::Layout), else as loaded. Each later byte is one
// action of (b & 7) with a count n = (b >> 3) + 1:
//   0 idle n frames         1 left button held n frames    2 n clicks (down, then up)
//   3/4 move down/up 2n     5/6 move right/left 2n         7 F1 when n is 1, else idle
// When the actions run out, the pointer zigzags over the text while the button clicks, so that
// text goes on and links get chosen.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_engine.h"

namespace {

constexpr int kFrames = 3000;
// A script that resets at once would spend every frame starting games; a few show it all.
constexpr int kGames = 8;

struct Control {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t next = 0;
    int pendingFrames = 0; // frames left of the current action
    int kind = 0;
    int frame = 0; // frames run in all
};

bool nextAction(Control& c) {
    if (c.next >= c.size) return false;
    const std::uint8_t b = c.data[c.next++];
    c.kind = b & 7;
    c.pendingFrames = (b >> 3) + 1;
    return true;
}

// The default when the actions have run out: click every other frame while the pointer zigzags
// over the text lines, where the links are.
void defaultFrame(int frame) {
    const int dx = (frame / 64) % 2 == 0 ? 4 : -4;
    const int dy = (frame / 24) % 2 == 0 ? 9 : -9;
    fuzz::gameFrame(dx, dy, frame % 2 == 0);
}

// Runs one frame of the current action; false when no action is left.
bool actionFrame(Control& c) {
    if (c.pendingFrames == 0 && !nextAction(c)) return false;
    const int n = c.pendingFrames;
    switch (c.kind) {
    case 0:
        fuzz::gameFrame(0, 0, false);
        --c.pendingFrames;
        break;
    case 1:
        fuzz::gameFrame(0, 0, true);
        --c.pendingFrames;
        break;
    case 2:
        // A click is two frames: down, then up again.
        fuzz::gameFrame(0, 0, (c.frame % 2) == 0);
        if (c.frame % 2 != 0) --c.pendingFrames;
        break;
    case 3:
    case 4:
        fuzz::gameFrame(0, c.kind == 3 ? 2 * n : -2 * n, false);
        c.pendingFrames = 0;
        break;
    case 5:
    case 6:
        fuzz::gameFrame(c.kind == 5 ? 2 * n : -2 * n, 0, false);
        c.pendingFrames = 0;
        break;
    default:
        if (n == 1) {
            g_frameNo = kSceneTitleInit; // F1: back to the title, leaving the script as it is
        } else {
            fuzz::gameFrame(0, 0, false);
        }
        --c.pendingFrames;
        break;
    }
    return true;
}

std::string_view take(std::string_view& rest) {
    const std::size_t cut = rest.find('\x7E');
    const std::string_view part = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    return part;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view block0 = take(rest);
    const std::string_view block1 = take(rest);
    const auto* control = reinterpret_cast<const std::uint8_t*>(rest.data());
    const std::uint8_t options = rest.empty() ? 0 : control[0];

    fuzz::resetEngine();
    auto layout = [](int bits) {
        return bits == 1   ? fuzz::Layout::Repeated
               : bits == 2 ? fuzz::Layout::AtTheEnd
                           : fuzz::Layout::AsLoaded;
    };
    fuzz::putBlock(0, block0, layout(options & 3));
    fuzz::putBlock(1, block1, layout((options >> 2) & 3));
    fuzz::titleInit();
    fuzz::gameInit();
    fuzz::checkInvariants();

    Control c{rest.empty() ? nullptr : control + 1, rest.empty() ? 0 : rest.size() - 1};
    bool actionsLeft = true;
    int games = 1;
    for (c.frame = 0; c.frame < kFrames; ++c.frame) {
        if (g_frameNo != kSceneGame) {
            // The title: its initialiser, then the click that starts the next game.
            if (++games > kGames) break;
            fuzz::titleInit();
            fuzz::gameInit();
        } else {
            if (actionsLeft) actionsLeft = actionFrame(c);
            if (!actionsLeft) {
                // Only F1 could change an ended page, and no action is left to press it.
                if (g_script.pageEnded) break;
                defaultFrame(c.frame);
            }
        }
        fuzz::checkInvariants();
    }
    return 0;
}
