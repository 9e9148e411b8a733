// The title scene and the game scene: each an initialiser and a per-frame function, run by the
// frame driver for the scene number g_frameNo holds.
#pragma once

#include "render/quad.h"

// The full-screen title picture's quad; built by titleInit.
extern ScreenQuad g_titleQuad;
// The game's full-screen background and text-box quads; built by gameInit.
extern ScreenQuad g_bgQuad;
extern ScreenQuad g_textBoxQuad;

// Title (scenes 200 and 201): loads the title picture, music and start sound, sets the pointer
// up; the frame waits for a fresh left click and starts the game.
void titleInit();
void titleFrame();
// The pointer as the title sets it up: in its bounds at the top-left, no button down.
void setUpPointer();

// Game (scenes 210 and 211): loads the picture set, the game's sounds and the scenario, and
// continues from the checkpoint when one is armed; the frame moves the pointer, steps the script
// or tests the links, draws, and goes back to the title on F1.
void gameInit();
void gameFrame();
// The title's music and start sound, as the title's init loads them.
void loadTitleSounds();
// Loads the game's pictures and sounds again (an author's reload), as game init loads them.
void loadGameAssets();
void gameDraw();
void drawLayers();
