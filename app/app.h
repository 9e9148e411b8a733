// The program: start-up in a fixed order, the main loop that runs one frame whenever the window
// is active and no event waits, and shut-down in a fixed order.
#pragma once

#include "app/options.h"

// Runs the game in the current folder. The exit code: 0 after a normal close; 1 when SDL, the
// window or the graphics device cannot be made, after an invalid scene number, or when a file
// asked for on the command line (screenshot, state, trace) could not be written.
int runProgram(const ProgramOptions& options);
