// Recorded sound (Ogg Vorbis, Ogg Opus, FLAC) decoded from bytes in memory, one block at a
// time: the author's own effects are decoded whole when they load, and recorded music streams
// from it on the audio thread. No SDL here, so that the author's tools and the browser build
// read the same code.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

enum class RecordedFormat { Vorbis, Opus, Flac };

// What the first bytes say: "fLaC" for FLAC; for an Ogg stream, its first packet tells Vorbis
// from Opus. Empty for anything else (a WAV or MIDI file, an Ogg stream of another codec).
std::optional<RecordedFormat> recordedFormatOf(std::span<const std::uint8_t> bytes);

// The rates and channel counts accepted; a file outside them is refused when it is opened.
inline constexpr int kMinRecordedRate = 8000;
inline constexpr int kMaxRecordedRate = 192000;
inline constexpr int kMaxRecordedChannels = 8;

struct RecordedDecoder;

// Opens a decoder on the bytes, which must outlive it. Null, with the reason, for a file that
// is damaged, of another kind, or outside the bounds above.
RecordedDecoder* openRecorded(std::span<const std::uint8_t> bytes, std::string& reason);
void closeRecorded(RecordedDecoder* decoder);

RecordedFormat recordedFormat(const RecordedDecoder& decoder);
// Frames a second (an Opus stream always decodes at 48000) and samples a frame. Channels come
// in the order of a WAV file's (left, right, centre, low frequency, back left, back right,
// side left, side right), whatever the file's own order.
int recordedRate(const RecordedDecoder& decoder);
int recordedChannels(const RecordedDecoder& decoder);
// The length in frames, when the stream tells it. Taken from the file's header, so a damaged
// file may claim any length: it bounds nothing that is read.
std::optional<std::uint64_t> recordedFrames(const RecordedDecoder& decoder);

// Decodes up to `frames` frames into `interleaved` (room for frames * channels floats, full
// scale at 1.0). The frames written, 0 at the end of the stream, or -1 with the reason on a
// damaged stream (the decoder then stays at its end). Safe on the audio thread: it takes no
// lock and does a bounded amount of work per call (a damaged stream ends in an error,
// never in a loop).
long readRecorded(RecordedDecoder& decoder, float* interleaved, long frames, std::string& reason);

// Back to the first frame, for music that loops. False when the stream cannot go back there.
bool rewindRecorded(RecordedDecoder& decoder);
