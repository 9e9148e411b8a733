// The program: start-up in a fixed order, the main loop that runs one frame whenever the window
// is active and no event waits, and shut-down in a fixed order.
#pragma once

#include "app/options.h"

// Runs the game in the current folder. The exit code: 0 after a normal close (or when start-up
// fails, as it always did), 1 after an invalid scene number.
int runProgram(const ProgramOptions& options);
