// How the native synthesiser is set up: its settings and its sound fonts. Shared with the
// author's tool, which renders each piece ahead of time for the browser on a synthesiser set up
// the same way, so that the web sounds like the desktop. Native only (FluidSynth).
#pragma once

#include <fluidsynth.h>

#include <string>

// New settings for a synthesiser at `rate` Hz, its players timed by the samples rendered (no
// audio driver, no timer thread). The synthesiser's own log lines never reach standard error:
// its failures are reported by the callers, in the engine's words, with the first error it gave
// while its output was held (holdSynthOutput). Null when out of memory.
fluid_settings_t* newSynthSettings(double rate);

// Loads the sound fonts of a list separated by ':' or ';', each over the ones before. True when
// at least one loads; else false with the reason.
bool loadSoundFonts(fluid_synth_t* synth, const std::string& soundFonts, std::string& reason);

// Whether the player took its piece, after the first block rendered since fluid_player_play:
// the synthesiser reads a piece only then, and a piece it refuses (or reads as one without a
// tick) ends the player at once.
bool playerTookPiece(fluid_player_t* player);
