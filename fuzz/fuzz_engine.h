// What the scenario-engine fuzz targets share: a private working folder for "Data.sav", a
// fresh engine for every input, the game scene's script steps without pictures, sound or
// files, and the checks that every frame must pass.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/message.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "script/script.h"

namespace fuzz {

// Dies with the reason: libFuzzer keeps the input that got here as a crash.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) ::fuzz::fail(#cond, __FILE__, __LINE__);                                      \
    } while (0)

// Once per process: moves into a fresh folder of its own (on tmpfs when there is one, since
// every checkpoint is written with fsync) and drops the message boxes.
void enterWorkFolder();

// Removes "Data.sav" (and a stray temporary of it), so that no input sees another's file.
void removeCheckpointFile();

// The engine as a fresh process has it, with the pointer as the title initialiser leaves it.
void resetEngine();

// How a block's text is laid out. Repeated up to the block's capacity, or behind a run of 'x'
// bytes that ends at the capacity, the block's end is in reach of every page and label.
enum class Layout { AsLoaded, Repeated, AtTheEnd };

// Puts plain text into a block as the loader does: at most the block's capacity, then zeros.
void putBlock(int block, std::string_view plain, Layout layout = Layout::AsLoaded);

// The title initialiser's pointer (the title scene's pictures and music aside).
void titleInit();

// What game init does to the scenario engine: its preparation, the pointer's quad, the first
// page of the blocks already in memory, and the continue when it is armed. Pictures, sound and
// the font aside.
void gameInit();

// One game frame with the given mouse snapshot: the pointer, then a step or the link test.
void gameFrame(int dx, int dy, bool leftDown);

// The records stay inside their tables and the positions inside their memories.
void checkInvariants();

} // namespace fuzz
