// Reads a Standard MIDI File before the synthesiser sees it, so that a broken, foreign or
// unplayable file fails at load time with a reason instead of playing silence later, or never
// ending the synthesiser's work: the synthesiser reads a piece only when it starts to play it,
// and starts a looping piece over as soon as it ends. The engine and the packager's renderer
// read pieces with the same functions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The largest music file read. A piece of music is kilobytes, the longest a few hundred: past
// this a file is not a piece but a cost (the synthesiser keeps some 16 bytes for each byte of
// events, and reads the whole piece again each time it starts over).
inline constexpr std::size_t kMaxMidiFileBytes = 4u << 20;
// The synthesiser plays no piece of more tracks (it reads such a file as one without events).
inline constexpr unsigned kMaxMidiTracks = 127;
// The shortest piece played: a piece repeats without end, and one shorter than this would start
// over (and be read again) many times within each block of sound.
inline constexpr double kMinMidiSeconds = 0.1;

// Empty when the bytes hold a header chunk and at least as many track chunks as the header
// names, every chunk inside the file, within the bounds above; else a short English reason.
// Reads only inside the span.
std::string standardMidiProblem(std::span<const std::uint8_t> bytes);

// How long one pass of a Standard MIDI File lasts, in seconds: to the end of its longest track,
// through its tempo changes (or its time code). Nullopt with the reason when the file is
// damaged: its layout (standardMidiProblem), or an event of any track.
std::optional<double> midiSeconds(std::span<const std::uint8_t> midi, std::string& reason);

// The piece as the synthesiser is given it, sounding the same: a header longer than the usual
// six bytes is cut to them, and a piece timed by time code (frames a second) is given beats of
// the same length, the only timing the synthesiser follows. Nullopt with the reason when
// midiSeconds refuses the file or the piece lasts less than kMinMidiSeconds.
std::optional<std::vector<std::uint8_t>> playableMidi(std::span<const std::uint8_t> midi,
                                                      std::string& reason);
