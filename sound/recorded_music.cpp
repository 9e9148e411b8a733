#include "sound/recorded_music.h"

#include "sound/midi_synth.h"
#include "sound/recorded.h"

#include <SDL.h>

#include <algorithm>
#include <array>

namespace {

constexpr int kPieces = 1 + kPiecesOverPrimary;
// What the decoder is asked for at a time, in frames of the file.
constexpr long kDecodeFrames = 1024;
// What is converted and mixed at a time, in frames of the device.
constexpr int kMixFrames = 2048;

// One piece: its bytes, its decoder and the conversion to the device. Changed by the main
// thread under the lock; read and advanced by the audio thread under it.
struct Stream {
    RecordedBytes bytes;
    RecordedDecoder* decoder = nullptr;
    SDL_AudioStream* convert = nullptr;
    int channels = 0;
    long sinceStart = 0; // frames decoded since the piece last started over
    bool ended = false;  // damaged past its start, or nothing in it: silent from then on
    std::uint64_t started = 0;
};

struct Player {
    SDL_mutex* lock = nullptr;
    int rate = 0;
    int channels = 0;
    std::array<Stream, kPieces> pieces; // [0] is the primary piece
    std::uint64_t starts = 0;
    // The audio thread's scratch.
    std::array<float, kDecodeFrames * kMaxRecordedChannels> decoded{};
    std::vector<std::int16_t> converted;
};

Player g_player;

bool streamPlaying(const Stream& s) {
    return s.decoder && !s.ended;
}

// What a piece held, given back outside the lock.
struct Released {
    RecordedDecoder* decoder = nullptr;
    SDL_AudioStream* convert = nullptr;
    RecordedBytes bytes;

    ~Released() {
        if (decoder) closeRecorded(decoder);
        if (convert) SDL_FreeAudioStream(convert);
    }
};

void takeOut(Stream& s, Released& into) {
    into.decoder = s.decoder;
    into.convert = s.convert;
    into.bytes = std::move(s.bytes);
    s = Stream{};
}

// Decodes until the conversion holds `bytes`, starting the piece over at its end. A piece that
// ends before giving a frame, or whose stream is damaged, ends for good: it never makes the
// audio thread go round without end.
void fill(Stream& s, int bytes) {
    std::string reason;
    while (!s.ended && SDL_AudioStreamAvailable(s.convert) < bytes) {
        const long got = readRecorded(*s.decoder, g_player.decoded.data(), kDecodeFrames, reason);
        if (got > 0) {
            s.sinceStart += got;
            const int size = static_cast<int>(got * s.channels * sizeof(float));
            if (SDL_AudioStreamPut(s.convert, g_player.decoded.data(), size) != 0) s.ended = true;
            continue;
        }
        if (got < 0 || s.sinceStart == 0 || !rewindRecorded(*s.decoder)) {
            s.ended = true;
            SDL_AudioStreamFlush(s.convert);
            break;
        }
        // Into the same conversion: the seam is resampled as one stream, without a click.
        s.sinceStart = 0;
    }
}

bool openStream(const RecordedBytes& bytes, Stream& s, std::string& reason) {
    s.bytes = bytes;
    s.decoder = openRecorded(*bytes, reason);
    if (!s.decoder) return false;
    s.channels = recordedChannels(*s.decoder);
    s.convert =
        SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(s.channels), recordedRate(*s.decoder),
                           AUDIO_S16SYS, static_cast<Uint8>(g_player.channels), g_player.rate);
    if (!s.convert) {
        reason = std::string("the sound cannot be converted for the device: ") + SDL_GetError();
        return false;
    }
    return true;
}

} // namespace

bool startRecordedMusic(int rate, int channels) {
    if (g_player.lock) return true;
    g_player.lock = SDL_CreateMutex();
    if (!g_player.lock) return false;
    g_player.rate = rate;
    g_player.channels = channels;
    g_player.converted.assign(static_cast<std::size_t>(kMixFrames) * channels, 0);
    return true;
}

void stopRecordedMusic() {
    if (!g_player.lock) return;
    haltAllRecorded();
    SDL_DestroyMutex(g_player.lock);
    g_player.lock = nullptr;
    g_player.converted.clear();
}

bool recordedMusicPlayable(std::span<const std::uint8_t> bytes, std::string& reason) {
    RecordedDecoder* decoder = openRecorded(bytes, reason);
    if (!decoder) return false;
    std::vector<float> block(static_cast<std::size_t>(kDecodeFrames) * kMaxRecordedChannels);
    const long got = readRecorded(*decoder, block.data(), kDecodeFrames, reason);
    closeRecorded(decoder);
    if (got == 0) reason = "the file holds no sound";
    return got > 0;
}

bool playRecordedMusic(const RecordedBytes& bytes, bool primary, std::string& reason) {
    if (!g_player.lock) {
        reason = "no sound device";
        return false;
    }
    Stream fresh;
    if (!openStream(bytes, fresh, reason)) {
        Released gone;
        takeOut(fresh, gone);
        return false;
    }
    Released gone;
    SDL_LockMutex(g_player.lock);
    Stream* place = &g_player.pieces[0];
    if (!primary) {
        // A free place, or else the piece that has played longest gives way.
        place = nullptr;
        for (int p = 1; p < kPieces; ++p) {
            Stream& s = g_player.pieces[p];
            if (!streamPlaying(s)) {
                place = &s;
                break;
            }
            if (!place || s.started < place->started) place = &s;
        }
    }
    takeOut(*place, gone);
    *place = std::move(fresh);
    place->started = ++g_player.starts;
    SDL_UnlockMutex(g_player.lock);
    return true;
}

void haltRecordedPrimary() {
    if (!g_player.lock) return;
    Released gone;
    SDL_LockMutex(g_player.lock);
    takeOut(g_player.pieces[0], gone);
    SDL_UnlockMutex(g_player.lock);
}

void haltAllRecorded() {
    if (!g_player.lock) return;
    std::array<Released, kPieces> gone;
    SDL_LockMutex(g_player.lock);
    for (int p = 0; p < kPieces; ++p)
        takeOut(g_player.pieces[p], gone[p]);
    SDL_UnlockMutex(g_player.lock);
}

bool recordedPrimaryPlaying() {
    if (!g_player.lock) return false;
    SDL_LockMutex(g_player.lock);
    const bool playing = streamPlaying(g_player.pieces[0]);
    SDL_UnlockMutex(g_player.lock);
    return playing;
}

int recordedPlayingOverPrimary() {
    if (!g_player.lock) return 0;
    SDL_LockMutex(g_player.lock);
    const int count = static_cast<int>(
        std::count_if(g_player.pieces.begin() + 1, g_player.pieces.end(), streamPlaying));
    SDL_UnlockMutex(g_player.lock);
    return count;
}

void mixRecordedMusic(std::int16_t* out, int frames, int channels, int volume) {
    if (!g_player.lock || channels != g_player.channels) return;
    SDL_LockMutex(g_player.lock);
    for (Stream& s : g_player.pieces) {
        if (!streamPlaying(s)) continue;
        for (int at = 0; at < frames;) {
            const int want = std::min(kMixFrames, frames - at);
            const int bytes = want * channels * static_cast<int>(sizeof(std::int16_t));
            fill(s, bytes);
            const int got = SDL_AudioStreamGet(s.convert, g_player.converted.data(), bytes);
            if (got <= 0) break;
            const int samples = got / static_cast<int>(sizeof(std::int16_t));
            std::int16_t* into = out + static_cast<std::ptrdiff_t>(at) * channels;
            for (int k = 0; k < samples; ++k) {
                const int value = g_player.converted[k] * volume / 100;
                into[k] = static_cast<std::int16_t>(std::clamp(into[k] + value, -32768, 32767));
            }
            at += samples / channels;
            if (got < bytes) break;
        }
    }
    SDL_UnlockMutex(g_player.lock);
}
