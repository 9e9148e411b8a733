// The browser's music: the same functions as the native synthesiser (midi_synth.cpp), played
// from the pieces it rendered ahead of time, when the game was packaged for the web. A piece's
// rendering, found in kRenderedMusicFolder by the name of its bytes, is decoded whole when the
// piece starts and loops on a mixer channel of its own until it is halted or replaced. The
// channels come after the effects' (sound.cpp), which never reach them: one for the primary
// piece, one for each piece over it.
#include "sound/midi_check.h"
#include "sound/midi_synth.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

namespace {

constexpr int kPieces = 1 + kPiecesOverPrimary;

// One piece on its mixer channel.
struct Piece {
    Mix_Chunk* samples = nullptr; // the decoded rendering; may be shared with another piece
    std::string name;             // its file's name
    std::uint64_t started = 0;    // when it was started, to find the oldest
};

// Set by startSynth, emptied by stopSynth.
struct Music {
    bool ready = false;
    int firstChannel = 0;   // the primary piece's mixer channel; the pieces over it follow
    int effectChannels = 0; // what the mixer had before, given back by stopSynth
    std::array<Piece, kPieces> pieces; // [0] is the primary piece
    std::uint64_t starts = 0;
};

Music g_music;

int channelOf(const Piece& piece) {
    return g_music.firstChannel + static_cast<int>(&piece - g_music.pieces.data());
}

bool piecePlaying(const Piece& piece) {
    return piece.samples && Mix_Playing(channelOf(piece)) != 0;
}

// Stops the piece and frees its samples, unless another piece plays the same rendering.
void dropPiece(Piece& piece) {
    if (!piece.samples) return;
    Mix_HaltChannel(channelOf(piece));
    const bool shared =
        std::any_of(g_music.pieces.begin(), g_music.pieces.end(), [&](const Piece& other) {
            return &other != &piece && other.samples == piece.samples;
        });
    if (!shared) Mix_FreeChunk(piece.samples);
    piece = Piece{};
}

// Starts the piece's rendering on the place, in place of what it played. False with the reason
// when there is no rendering or it cannot be decoded.
bool startPiece(Piece& place, std::span<const std::uint8_t> midi, std::string& reason) {
    dropPiece(place);
    std::string name = renderedMidiName(midi);
    // A piece already sounding elsewhere is not decoded a second time.
    Mix_Chunk* samples = nullptr;
    for (const Piece& other : g_music.pieces)
        if (other.samples && other.name == name) samples = other.samples;
    const std::string path = std::string(kRenderedMusicFolder) + name;
    if (!samples) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            reason = "the piece has no rendering: " + path +
                     " is missing (package the game again with tolvane-script web)";
            return false;
        }
        samples = Mix_LoadWAV(path.c_str());
        if (!samples) {
            reason = "the rendering " + path + " cannot be decoded: " + Mix_GetError();
            return false;
        }
    }
    place.samples = samples;
    place.name = std::move(name);
    place.started = ++g_music.starts;
    if (Mix_PlayChannel(channelOf(place), samples, -1) == -1) {
        reason = "the rendering " + path + " does not play: " + Mix_GetError();
        dropPiece(place);
        return false;
    }
    return true;
}

} // namespace

const NoSynthMessages kNoSynthMessages = {
    "the game's music was not rendered for the web: package the game with tolvane-script web",
    "音楽のデータがないため、音楽は鳴りません。",
};

std::string noSynthLoadReason(const std::string&) {
    return "no rendered music in " + std::string(kRenderedMusicFolder) +
           " (package the game with tolvane-script web)";
}

bool startSynth(const std::string&, std::string& reason) {
    if (g_music.ready) return true;
    int rate = 0, channels = 0;
    Uint16 format = 0;
    if (Mix_QuerySpec(&rate, &format, &channels) == 0) {
        reason = "the mixer is not open";
        return false;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(kRenderedMusicFolder, error)) {
        reason = "no rendered music in " + std::string(kRenderedMusicFolder) +
                 " (package the game with tolvane-script web)";
        return false;
    }
    g_music.effectChannels = Mix_AllocateChannels(-1);
    g_music.firstChannel = g_music.effectChannels;
    if (Mix_AllocateChannels(g_music.effectChannels + kPieces) !=
        g_music.effectChannels + kPieces) {
        reason = "the mixer has no channels for music";
        Mix_AllocateChannels(g_music.effectChannels);
        return false;
    }
    g_music.ready = true;
    return true;
}

void stopSynth() {
    if (!g_music.ready) return;
    haltAllMidi();
    Mix_AllocateChannels(g_music.effectChannels);
    g_music = Music{};
}

bool synthReady() {
    return g_music.ready;
}

// The packager rendered only what the synthesiser played, after the same checks.
bool midiPlayable(std::span<const std::uint8_t> midi, std::string& reason) {
    return playableMidi(midi, reason).has_value();
}

void holdSynthOutput() {}

std::string releaseSynthOutput() {
    return {};
}

void mixMidiMusic(std::int16_t*, int, int) {}

// Every piece was rendered when the game was packaged.
void prepareMidi(std::span<const std::uint8_t>, bool) {}
void forgetMidi(std::span<const std::uint8_t>) {}
int midiRenderingsPending() {
    return 0;
}
std::uint64_t midiFramesSynthesised() {
    return 0;
}

bool playMidi(std::span<const std::uint8_t> midi, std::string& reason) {
    if (!g_music.ready) {
        reason = "no synthesiser";
        return false;
    }
    return startPiece(g_music.pieces[0], midi, reason);
}

bool playMidiOverPrimary(std::span<const std::uint8_t> midi, std::string& reason) {
    if (!g_music.ready) {
        reason = "no synthesiser";
        return false;
    }
    // A free place, or else the piece that has played longest gives way.
    Piece* place = nullptr;
    for (int p = 1; p < kPieces; ++p) {
        Piece& piece = g_music.pieces[p];
        if (!piecePlaying(piece)) {
            place = &piece;
            break;
        }
        if (!place || piece.started < place->started) place = &piece;
    }
    return startPiece(*place, midi, reason);
}

void haltMidi() {
    if (g_music.ready) dropPiece(g_music.pieces[0]);
}

void haltAllMidi() {
    if (!g_music.ready) return;
    for (Piece& piece : g_music.pieces)
        dropPiece(piece);
}

bool midiPlaying() {
    return g_music.ready && piecePlaying(g_music.pieces[0]);
}

void setMidiVolume(int percent) {
    if (!g_music.ready) return;
    // The rendering was made at the synthesiser's full gain, which the channel's level scales
    // as the synthesiser's gain does natively.
    const int volume = std::clamp(percent, 0, 100) * MIX_MAX_VOLUME / 100;
    for (int p = 0; p < kPieces; ++p)
        Mix_Volume(g_music.firstChannel + p, volume);
}

int midiPlayingOverPrimary() {
    if (!g_music.ready) return 0;
    return static_cast<int>(
        std::count_if(g_music.pieces.begin() + 1, g_music.pieces.end(), piecePlaying));
}
