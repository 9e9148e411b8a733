// The input devices' SDL side: what the window layer hands to input. Game code uses
// input/input.h instead.
#pragma once

#include <SDL.h>

#include "input/input.h"

// The window layer passes every event here. Keys, buttons, wheel and movement are gathered
// until the next poll; focus changes decide whether the polls read the devices at all.
void inputHandleEvent(const SDL_Event& event);

// The snapshot's key code for an SDL scancode, or -1 for a key the snapshot has no code for.
int keyCodeFromScancode(SDL_Scancode scancode);

// The game controller subsystem, for the pads; without it (a system with no joystick support)
// the game plays on without them. Before the first event is polled.
void startPads();
// For inputHandleEvent: the controller events (true when it was one) and the window's focus.
// With the devices off only the replay's virtual pad counts.
bool padHandleEvent(const SDL_Event& event, bool devicesEnabled, bool focused);
void padFocusLost();
// Closes every pad and unplugs the virtual one; with releaseInput.
void releasePads();
