#include "sound/midi_synth.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <fluidsynth.h>

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

// What the audio thread reads while it renders: changed only under the lock.
struct Synth {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_player_t* player = nullptr;
    std::vector<std::uint8_t> piece; // the playing file's bytes
    SDL_mutex* lock = nullptr;
    int channels = 2;
    std::vector<std::int16_t> stereo; // the audio thread's scratch
};

Synth g_synth;

// The mixer's music hook: the piece's samples, before the effects are mixed over them. With no
// piece the stream stays as the mixer cleared it, silent.
void renderMusic(void*, Uint8* stream, int bytes) {
    SDL_LockMutex(g_synth.lock);
    if (g_synth.player && fluid_player_get_status(g_synth.player) == FLUID_PLAYER_PLAYING) {
        const int channels = g_synth.channels;
        auto* out = reinterpret_cast<std::int16_t*>(stream);
        const int frames = bytes / (2 * channels);
        if (channels == 2) {
            fluid_synth_write_s16(g_synth.synth, frames, out, 0, 2, out, 1, 2);
        } else {
            std::vector<std::int16_t>& lr = g_synth.stereo;
            if (lr.size() < static_cast<std::size_t>(frames) * 2) lr.resize(frames * 2);
            fluid_synth_write_s16(g_synth.synth, frames, lr.data(), 0, 2, lr.data(), 1, 2);
            for (int f = 0; f < frames; ++f) {
                std::int16_t* frame = out + static_cast<std::ptrdiff_t>(f) * channels;
                if (channels == 1) {
                    frame[0] = static_cast<std::int16_t>((lr[2 * f] + lr[2 * f + 1]) / 2);
                } else {
                    frame[0] = lr[2 * f];
                    frame[1] = lr[2 * f + 1];
                    std::fill(frame + 2, frame + channels, std::int16_t{0});
                }
            }
        }
    }
    SDL_UnlockMutex(g_synth.lock);
}

void dropPlayer() {
    if (!g_synth.player) return;
    fluid_player_stop(g_synth.player);
    delete_fluid_player(g_synth.player);
    g_synth.player = nullptr;
    // Notes held when the piece stopped, and the piece's programs and controllers, go with it.
    fluid_synth_system_reset(g_synth.synth);
}

void quietLog(int, const char*, void*) {}

} // namespace

bool startSynth(const std::string& soundFonts, std::string& reason) {
    if (g_synth.synth) return true;
    int rate = 44100, channels = 2;
    Uint16 format = AUDIO_S16SYS;
    if (Mix_QuerySpec(&rate, &format, &channels) == 0 || format != AUDIO_S16SYS) {
        reason = "the mixer is not open for 16-bit output";
        return false;
    }
    // The synthesiser's own warnings would go to standard error at every load; its failures are
    // reported here, in the engine's words.
    fluid_set_log_function(FLUID_WARN, quietLog, nullptr);
    fluid_set_log_function(FLUID_INFO, quietLog, nullptr);
    fluid_set_log_function(FLUID_DBG, quietLog, nullptr);
    g_synth.settings = new_fluid_settings();
    if (!g_synth.settings) {
        reason = "no memory for the synthesiser";
        return false;
    }
    fluid_settings_setnum(g_synth.settings, "synth.sample-rate", rate);
    fluid_settings_setint(g_synth.settings, "synth.cpu-cores", 1);
    fluid_settings_setstr(g_synth.settings, "player.timing-source", "sample");
    // Full gain: the level music has always had in this engine, well above the synthesiser's
    // own default.
    fluid_settings_setnum(g_synth.settings, "synth.gain", 1.0);
    // Only the samples of the instruments a piece selects are read into memory: a General MIDI
    // font holds all 128, a piece uses a handful.
    fluid_settings_setint(g_synth.settings, "synth.dynamic-sample-loading", 1);
    g_synth.synth = new_fluid_synth(g_synth.settings);
    if (!g_synth.synth) {
        reason = "the synthesiser cannot be made";
        stopSynth();
        return false;
    }
    int loaded = 0;
    std::string_view rest = soundFonts;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find_first_of(":;"), rest.size());
        const std::string font(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        std::error_code error;
        if (font.empty() || !std::filesystem::is_regular_file(font, error)) continue;
        if (fluid_synth_sfload(g_synth.synth, font.c_str(), 1) != FLUID_FAILED) ++loaded;
    }
    if (loaded == 0) {
        reason = "no sound font could be loaded from " + soundFonts;
        stopSynth();
        return false;
    }
    g_synth.channels = channels;
    g_synth.lock = SDL_CreateMutex();
    Mix_HookMusic(renderMusic, nullptr);
    return true;
}

void stopSynth() {
    if (g_synth.lock) {
        Mix_HookMusic(nullptr, nullptr); // returns once the audio thread has left the hook
        dropPlayer();
        SDL_DestroyMutex(g_synth.lock);
    }
    if (g_synth.synth) delete_fluid_synth(g_synth.synth);
    if (g_synth.settings) delete_fluid_settings(g_synth.settings);
    g_synth = Synth{};
}

bool synthReady() {
    return g_synth.synth != nullptr && g_synth.lock != nullptr;
}

bool playMidi(std::span<const std::uint8_t> midi, std::string& reason) {
    if (!synthReady()) {
        reason = "no synthesiser";
        return false;
    }
    SDL_LockMutex(g_synth.lock);
    dropPlayer();
    g_synth.piece.assign(midi.begin(), midi.end());
    g_synth.player = new_fluid_player(g_synth.synth);
    bool ok = g_synth.player != nullptr &&
              fluid_player_add_mem(g_synth.player, g_synth.piece.data(), g_synth.piece.size()) ==
                  FLUID_OK;
    if (ok) {
        fluid_player_set_loop(g_synth.player, -1);
        ok = fluid_player_play(g_synth.player) == FLUID_OK;
    }
    if (!ok) {
        reason = "the synthesiser cannot play the file";
        if (g_synth.player) dropPlayer();
    }
    SDL_UnlockMutex(g_synth.lock);
    return ok;
}

void haltMidi() {
    if (!synthReady()) return;
    SDL_LockMutex(g_synth.lock);
    dropPlayer();
    SDL_UnlockMutex(g_synth.lock);
}

bool midiPlaying() {
    if (!synthReady()) return false;
    SDL_LockMutex(g_synth.lock);
    const bool playing =
        g_synth.player && fluid_player_get_status(g_synth.player) == FLUID_PLAYER_PLAYING;
    SDL_UnlockMutex(g_synth.lock);
    return playing;
}

void setMidiVolume(int percent) {
    if (!synthReady()) return;
    SDL_LockMutex(g_synth.lock);
    fluid_synth_set_gain(g_synth.synth, static_cast<float>(std::clamp(percent, 0, 100)) / 100.0f);
    SDL_UnlockMutex(g_synth.lock);
}
