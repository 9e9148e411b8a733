// How the native synthesiser is set up: its settings and its sound fonts. Shared with the
// author's tool, which renders each piece ahead of time for the browser on a synthesiser set up
// the same way, so that the web sounds like the desktop. Native only (FluidSynth).
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

// New settings for a synthesiser at `rate` Hz, its players timed by the samples rendered (no
// audio driver, no timer thread). The synthesiser's own log lines never reach standard error:
// its failures are reported by the callers, in the engine's words, with the first error it gave
// while its output was held (holdSynthOutput). Null when out of memory.
fluid_settings_t* newSynthSettings(double rate);

// Loads the sound fonts of a list separated by ':' or ';', each over the ones before. True when
// at least one loads; else false with the reason. `holdOutput` as for renderPass.
bool loadSoundFonts(fluid_synth_t* synth, const std::string& soundFonts, std::string& reason,
                    bool holdOutput = true);

// Whether the player took its piece, after the first block rendered since fluid_player_play:
// the synthesiser reads a piece only then, and a piece it refuses (or reads as one without a
// tick) ends the player at once.
bool playerTookPiece(fluid_player_t* player);

// Plays one pass of a piece (as playableMidi gives it) on a synthesiser with its sound fonts and
// nothing sounding: from the first tick until `passFrames` are rendered or the player ends,
// whichever comes first, in blocks of at most `blockFrames`. `write(at, frames)` renders each
// block with the caller's own write call; false from it abandons the pass. The notes still
// ringing at the end go on sounding on the synthesiser, for the caller to render or reset. The
// pass's length in frames, or nullopt with the reason (empty when abandoned). With `holdOutput`
// the synthesiser's first error is given with the reason when it refuses the piece (for the
// main thread only: holding redirects the process's standard error).
std::optional<long> renderPass(fluid_synth_t* synth, std::span<const std::uint8_t> playable,
                               long passFrames, int blockFrames, bool holdOutput,
                               const std::function<bool(long at, int frames)>& write,
                               std::string& reason);
