// Screenshots on the player's key (S, F12): the frame as the player sees it, a PNG in the
// player's pictures folder, named by the time it was taken.
#pragma once

#include <ctime>
#include <string>

// The file name of a screenshot taken at the local time; n > 1 for the n-th taken within the
// same second ("tolvane-2026-12-11-130501-2.png").
std::string screenshotName(const std::tm& local, int n);

// Takes the screenshot the player asked for in this frame and tells the comforts where it went
// (or why it did not), for the note on screen. In the browser the picture is downloaded.
void takePlayerScreenshot();
