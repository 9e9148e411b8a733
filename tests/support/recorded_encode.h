// Recorded sound files made on the spot for the tests: Ogg Vorbis, Ogg Opus and FLAC from
// interleaved samples at full scale 1.0.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Ogg Vorbis at quality 0.6; any rate and channel count the encoder takes.
std::vector<std::uint8_t> encodeTestVorbis(std::span<const float> interleaved, int channels,
                                           int rate);

// Ogg Opus (OpusHead and OpusTags pages, then 20 ms packets); one or two channels, and a rate
// Opus encodes (8000, 12000, 16000, 24000 or 48000). The stream decodes at 48000.
std::vector<std::uint8_t> encodeTestOpus(std::span<const float> interleaved, int channels,
                                         int rate);

// FLAC, 16 bits a sample. Without tellLength the header's total of samples is 0 (unknown), as
// a stream written without seeking back has it.
std::vector<std::uint8_t> encodeTestFlac(std::span<const float> interleaved, int channels, int rate,
                                         bool tellLength = true);

// Recomputes the checksum of the Ogg page that starts at `page`, after a test has changed it.
void resealOggPage(std::vector<std::uint8_t>& bytes, std::size_t page);
// Where the last Ogg page begins.
std::size_t lastOggPage(const std::vector<std::uint8_t>& bytes);

// A sine of the given level (of full scale) and frequency, the same on every channel.
std::vector<float> testTone(double seconds, double frequency, double level, int channels, int rate);
