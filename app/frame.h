// The frame driver: one call runs one frame of the scene that g_frameNo selects.
#pragma once

#include "base/scene_number.h"

// Starts the frame-rate count afresh for a program that is starting: its first frame reports.
void startFrames();

// Runs one frame: polls input, clears, runs the scene, reports the frame rate once a second on
// the debug log, presents. 1 after a normal frame, -1 (after its message) for an invalid scene.
int runFrame();

// Whether the last frame was presented: a frame that changed nothing is neither drawn nor
// presented, and the loop then has no present to wait on.
extern bool g_framePresented;

// The frames run in the last whole second (the frame-rate line's figure from its second line on);
// 0 in the first second.
extern int g_frameRate;
