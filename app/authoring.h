// The author's loop: playing the UTF-8 sources, starting at a label, reloading in place (F5),
// the where-am-I overlay (F3) and the watch on the sources. All of it is asked for: without
// --source and --start, and with F3 and F5 never pressed, every frame is what it would be
// without this module.
#pragma once

#include "app/options.h"

// Before the first frame: encodes the sources (--source) and sets the start place (--start).
// False when a source cannot be read or encoded; each error is on standard error as
// FILE:LINE:COLUMN: error: MESSAGE.
bool startAuthoring(const ProgramOptions& options);

// Once a frame, after the scene ran and before the frame ends: F3 and F5, the watch, the
// overlay's drawing.
void authoringFrame();

// Forgets the sources and the overlay (for a fresh start in the same process).
void stopAuthoring();
