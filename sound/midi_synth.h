// The MIDI synthesiser: one General MIDI synthesiser for every music slot, its sound font loaded
// once, rendered into the mixer's music stream. A piece plays through a player on it, on MIDI
// channels of its own: the primary piece, and a few pieces over it. Starting another primary
// piece replaces the primary player, never the synthesiser nor the pieces over it. Private to
// sound/.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// How many pieces may sound over the primary piece at once.
inline constexpr int kPiecesOverPrimary = 4;

// Makes the synthesiser for the mixer's output and loads the sound fonts (a list separated by
// ':' or ';', each loaded over the ones before). False with the reason when none loads.
bool startSynth(const std::string& soundFonts, std::string& reason);
// Stops every piece and frees the synthesiser; before the mixer closes.
void stopSynth();
bool synthReady();

// Plays a standard MIDI file from its start, repeating without end, in place of the piece that
// plays. The bytes are copied. False with the reason when the synthesiser cannot read it.
bool playMidi(std::span<const std::uint8_t> midi, std::string& reason);
// Plays a standard MIDI file from its start over the primary piece, repeating without end, until
// haltAllMidi. When kPiecesOverPrimary already sound, the one started first gives way.
bool playMidiOverPrimary(std::span<const std::uint8_t> midi, std::string& reason);
// Stops the primary piece at once; the pieces over it go on.
void haltMidi();
// Stops every piece at once: the next output is silence.
void haltAllMidi();
// Whether the primary piece plays, and how many pieces play over it.
bool midiPlaying();
// The music's level, in percent of full gain.
void setMidiVolume(int percent);
int midiPlayingOverPrimary();
