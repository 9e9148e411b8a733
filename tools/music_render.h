// The game's MIDI music rendered ahead of time for the browser, which has no synthesiser: each
// piece is played once on a synthesiser set up as the engine's (sound/midi_synth_setup.h), with
// the same sound fonts, and stored as Ogg Vorbis under renderedMidiName of its bytes. The page
// loops the rendering, as the engine loops the piece.
#pragma once

#include "sound/midi_check.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The rendering's format: the rate the engine asks of the audio device, in stereo.
inline constexpr int kRenderRate = 44100;
inline constexpr int kRenderChannels = 2;
// A piece longer than this is refused: the browser decodes a whole piece into memory when it
// starts (ten minutes are some 100 MB there).
inline constexpr double kMaxRenderSeconds = 600;
// The Vorbis quality of the renderings (libvorbis's scale, -0.1 to 1): some 80 kbit/s for the
// General MIDI font's music in stereo, 280 KB for half a minute. Decoded, the level is within
// 0.05 dB of the synthesiser's and each octave band up to 16 kHz within 1 dB; below it the
// encoder cuts the top octave and the loss in the 1-8 kHz bands grows, above it each step costs
// some 15% more bytes for a loss already under the music.
inline constexpr float kRenderQuality = 0.2f;

// One pass of a piece: interleaved stereo samples at kRenderRate, from its first tick to the end
// of its last track, so that played again and again it keeps the piece's own pulse.
struct RenderedPiece {
    std::vector<float> samples;

    long frames() const { return static_cast<long>(samples.size() / kRenderChannels); }
};

// Plays the piece once on a new synthesiser with the sound fonts (a list separated by ':' or
// ';', as for the engine), given it as the engine gives it (playableMidi). Nullopt with the
// reason when the file is damaged, lasts no time or longer than kMaxRenderSeconds, the
// synthesiser refuses it, or no sound font loads.
std::optional<RenderedPiece> synthesiseMidi(std::span<const std::uint8_t> midi,
                                            const std::string& soundFonts, std::string& reason);

// The samples as an Ogg Vorbis file at the quality. The same samples give the same bytes.
// Nullopt with the reason when the encoder refuses.
std::optional<std::vector<std::uint8_t>> encodeOggVorbis(const RenderedPiece& piece, float quality,
                                                         std::string& reason);

// synthesiseMidi, then encodeOggVorbis at kRenderQuality.
std::optional<std::vector<std::uint8_t>>
renderMidi(std::span<const std::uint8_t> midi, const std::string& soundFonts, std::string& reason);
