// Recorded music (Ogg Vorbis, Ogg Opus, FLAC) played as music is: the primary piece and a few
// pieces over it, each repeating without end until stopped. A piece streams from its file's
// bytes, decoded a block at a time on the audio thread and converted to the device's rate and
// channels as it plays, so that a piece of minutes costs its file's size and no more. Private to
// sound/: the music hook of each build (midi_synth.cpp, midi_web.cpp) mixes it in.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

using RecordedBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

// With the mixer open: the device's format for the conversion. Every other call does nothing
// (and a play fails) until then; stop halts every piece.
bool startRecordedMusic(int rate, int channels);
void stopRecordedMusic();

// Whether the file opens and its first block decodes, as it is loaded. False with the reason.
bool recordedMusicPlayable(std::span<const std::uint8_t> bytes, std::string& reason);

// Plays the file from its start, repeating without end: as the primary piece, in place of the
// recorded piece that plays, or over it (when kPiecesOverPrimary already sound, the one started
// first gives way). The pieces share the bytes, which the slot may let go meanwhile.
bool playRecordedMusic(const RecordedBytes& bytes, bool primary, std::string& reason);
void haltRecordedPrimary();
void haltAllRecorded();
bool recordedPrimaryPlaying();
int recordedPlayingOverPrimary();

// Adds every playing piece's next frames to `out` (interleaved signed 16-bit at the device's
// rate and channels), at `volume` percent. On the audio thread, from the music hook.
void mixRecordedMusic(std::int16_t* out, int frames, int channels, int volume);
