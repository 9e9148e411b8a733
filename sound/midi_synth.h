// The MIDI synthesiser: one General MIDI synthesiser for every music slot, its sound font loaded
// once, rendered into the mixer's music stream. A piece plays through a player on it; starting
// another piece replaces the player, never the synthesiser. Private to sound/.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Makes the synthesiser for the mixer's output and loads the sound fonts (a list separated by
// ':' or ';', each loaded over the ones before). False with the reason when none loads.
bool startSynth(const std::string& soundFonts, std::string& reason);
// Stops the piece and frees the synthesiser; before the mixer closes.
void stopSynth();
bool synthReady();

// Plays a standard MIDI file from its start, repeating without end, in place of the piece that
// plays. The bytes are copied. False with the reason when the synthesiser cannot read it.
bool playMidi(std::span<const std::uint8_t> midi, std::string& reason);
// Stops the piece at once: the next output is silence.
void haltMidi();
bool midiPlaying();
// The music's level, in percent of full gain.
void setMidiVolume(int percent);
