// The program: start-up in a fixed order, the main loop that runs one frame whenever the window
// is active and no event waits, and shut-down in a fixed order.
#pragma once

#include <cstdint>

#include "app/options.h"

// Runs the game in the current folder. The exit code: 0 after a normal close; 1 when SDL, the
// window or the graphics device cannot be made, after an invalid scene number, when the slot
// --load names cannot be loaded, or when a file asked for on the command line (screenshot,
// state, trace) could not be written.
int runProgram(const ProgramOptions& options);

// The same program one frame at a time, for a host that calls it once a display refresh (the
// browser's animation frames): startProgram, then stepProgram until it says Finished, then
// finishProgram. `options` must outlive the run.
enum class StepResult {
    Ran,      // a frame was run
    Waited,   // the window is hidden: events were handled, no frame was run
    Finished, // the game closed (or a replay, a frame count or a failure ended it)
};
// 0 when the game is ready to run, else the exit code runProgram would give.
int startProgram(const ProgramOptions& options);
// `mayWait`: a hidden window sleeps until the next event instead of returning at once.
StepResult stepProgram(bool mayWait);
// The number of the last frame run.
std::uint64_t programFrame();
// The quit save and the read pages, written now (a web page that is hidden may never come back);
// finishProgram does it after a normal end. Nothing with --plain or when no game runs.
void keepPlayersMoment();
// Shuts everything down (after the quit save); returns the exit code.
int finishProgram();
