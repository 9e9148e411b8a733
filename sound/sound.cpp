#include "sound/sound.h"

#include "base/files.h"
#include "base/message.h"
#include "sound/midi_check.h"
#include "sound/midi_synth.h"
#include "sound/recorded.h"
#include "sound/recorded_music.h"
#include "sound/sound_files.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {
// Mixer channel 0 is kept for an effect played as the primary piece (the title's start sound),
// so that the secondary effects, which take any free channel of the rest, never land on it.
// These are the effects' channels; music that plays from the mixer's channels (in the browser)
// adds its own after them.
constexpr int kPrimaryChannel = 0;
constexpr int kChannelCount = 16;
constexpr int kEffectGroup = 1;

constexpr int kOutputRate = 44100;
constexpr int kOutputChannels = 2;
constexpr int kOutputChunkFrames = 1024;

// Sound files are read whole before decoding; an effect is a few megabytes at most, so anything
// past this is not a sound file of the game. Music is bounded far lower (kMaxMidiFileBytes).
constexpr std::size_t kMaxEffectFileBytes = 64u << 20;

// Recorded music is read whole and streams from memory as it plays: a piece of minutes is a few
// megabytes. Anything past this is not a piece of the game.
constexpr std::size_t kMaxRecordedMusicBytes = 64u << 20;

struct SoundSlot {
    bool music = false;    // holds a piece of music: a MIDI file, played by the synthesiser...
    bool recorded = false; // ...or a recorded one, streamed as it plays
    Mix_Chunk* effect = nullptr;
    std::vector<std::uint8_t> musicBytes; // the MIDI file as it was read
    RecordedBytes recordedBytes;          // the recorded file, shared with the pieces it plays
};

// Sound calls made while sound is held (before the first picture is on screen), in order.
struct HeldCall {
    enum Kind { Start, Load, Primary, Secondary, StopAll, RenderAhead } kind;
    int slot = 0;
    std::string path;
    bool isMusic = false;
};

// What startSound brought up, so that closeDownSound takes down exactly that, also after a
// start-up that stopped half-way.
struct SoundSystem {
    bool audioSubsystem = false;
    bool mixerInitialised = false;
    bool deviceOpen = false;
    int primarySlot = -1;
    std::string soundFonts;
    bool held = false;
    std::vector<HeldCall> heldCalls;
    int musicVolume = 100; // percent; kept over a restart of the device
    int effectVolume = 100;
    bool hooked = false; // the music hook is the mixer's
};

SoundSystem g_sound;
std::array<SoundSlot, kSoundSlotCount> g_slots;
// The music's level for the audio thread, which mixes recorded music at it.
std::atomic<int> g_musicLevel{100};

// The mixer's music hook: the synthesiser's pieces, then the recorded ones over them, before the
// effects are mixed over both. With nothing playing the stream stays as the mixer cleared it.
void mixMusic(void*, Uint8* stream, int bytes) {
    int rate = 0, channels = 0;
    Uint16 format = 0;
    if (Mix_QuerySpec(&rate, &format, &channels) == 0 || format != AUDIO_S16SYS) return;
    auto* out = reinterpret_cast<std::int16_t*>(stream);
    const int frames = bytes / (2 * channels);
    mixMidiMusic(out, frames, channels);
    mixRecordedMusic(out, frames, channels, g_musicLevel.load(std::memory_order_relaxed));
}

bool slotInTable(int slot) {
    return slot >= 0 && slot < kSoundSlotCount;
}

void releaseSlot(int slot) {
    SoundSlot& s = g_slots[slot];
    // Freeing stops whatever channel still plays the sound, and the primary piece goes with its
    // slot; music playing over the primary has a copy of its own and goes on.
    if (s.effect) Mix_FreeChunk(s.effect);
    if (s.music && g_sound.primarySlot == slot) {
        haltMidi();
        haltRecordedPrimary();
    }
    if (s.music && !s.recorded) forgetMidi(s.musicBytes);
    s = SoundSlot{};
    if (g_sound.primarySlot == slot) g_sound.primarySlot = -1;
}

// Finds the General MIDI sound fonts for the synthesiser. Without one it would play silence,
// so music refuses to load when none is found.
void chooseSoundFont() {
    const SoundFontChoice choice = chooseSoundFonts();
    g_sound.soundFonts = choice.fonts;
    // For a MIDI file loaded as an effect, which the mixer decodes; it reads SDL_SOUNDFONTS
    // itself.
    if (choice.fromEnvironment)
        Mix_SetSoundFonts(nullptr);
    else if (choice.found)
        Mix_SetSoundFonts(choice.fonts.c_str());
}

// Without a synthesiser every piece of music fails to load: a fault of the machine, not of the
// game's files, told once at start-up; the loads then report only on standard error.
void reportNoSynthesiser(const std::string& reason) {
    reportProblem("sound: " + reason + "; music will be silent (" + kNoSynthMessages.advice + ")");
    showMessage(kNoSynthMessages.box);
}

// `limit` bounds the bytes read; `why` says what a larger file would be, for the reason.
bool readGameFile(std::string_view path, std::vector<std::uint8_t>& bytes, std::size_t limit,
                  std::string_view why, std::string& reason) {
    std::FILE* file = openGameFile(path, "rb");
    if (!file) {
        reason = "the file is missing, unreadable or not a regular file";
        return false;
    }
    bytes.clear();
    std::array<std::uint8_t, 16384> buffer;
    std::size_t got = 0;
    bool tooLarge = false;
    while (!tooLarge && (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        tooLarge = bytes.size() + got > limit;
        if (!tooLarge) bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
    }
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (tooLarge)
        reason =
            "the file is larger than " + std::to_string(limit >> 20) + " MiB, " + std::string(why);
    if (readError) reason = "the file could not be read";
    return !tooLarge && !readError;
}

// `noSynthesiser` tells a failure that is the machine's (no sound font) from the file's own.
// The game names its music as MIDI files; an author's recorded piece may stand in for one (a file
// of the same name in a recorded format) or be one under its name, told by its first bytes.
// `file` is the one in use for the name the game gave (`path`).
bool loadMusic(SoundSlot& slot, std::string_view path, std::string_view file, std::string& reason,
               bool& noSynthesiser) {
    const bool named = file == path;
    std::vector<std::uint8_t> bytes;
    if (!readGameFile(file, bytes, named ? kMaxMidiFileBytes : kMaxRecordedMusicBytes,
                      named ? "more than a MIDI piece may be (pieces are kilobytes, and the "
                              "synthesiser keeps some 16 bytes for each byte of events)"
                            : "more than a piece of music may be",
                      reason))
        return false;
    if (recordedFormatOf(bytes)) {
        if (!recordedMusicPlayable(bytes, reason)) return false;
        slot.music = slot.recorded = true;
        slot.recordedBytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
        return true;
    }
    slot.musicBytes = std::move(bytes);
    // Checked here, before the synthesiser reads it at play, on the audio thread.
    if (!midiPlayable(slot.musicBytes, reason)) return false;
    if (!synthReady()) {
        reason = noSynthLoadReason(g_sound.soundFonts);
        noSynthesiser = true;
        return false;
    }
    slot.music = true;
    prepareMidi(slot.musicBytes);
    return true;
}

// What one effect may cost. The mixer converts a whole effect to the device's format when it is
// loaded: an effect of many minutes (a small 8 kHz file is enough) would take gigabytes and
// stall the frame that loads it. The game's effects are a few seconds.
constexpr std::uint64_t kMaxEffectSeconds = 120;
// Samples of the file's own format, after ADPCM and the like are unpacked and before the
// conversion: two minutes of 96 kHz stereo.
constexpr std::uint64_t kMaxEffectSourceSamples = kMaxEffectSeconds * 96000 * 2;

std::uint32_t littleEndian(const std::vector<std::uint8_t>& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int k = size - 1; k >= 0; --k)
        v = (v << 8) | b[at + k];
    return v;
}

// Refuses, from the header, a WAV effect whose decoded form would exceed the bounds above.
// Empty when the effect may be loaded. Other kinds (a MIDI file played as an effect) have no
// length in their header; they are measured once decoded (effectTooLong).
std::string effectTooCostly(const std::vector<std::uint8_t>& b) {
    if (b.size() < 12 || std::string_view(reinterpret_cast<const char*>(b.data()), 4) != "RIFF" ||
        std::string_view(reinterpret_cast<const char*>(b.data()) + 8, 4) != "WAVE")
        return {};
    std::uint32_t format = 0, channels = 0, rate = 0, blockAlign = 0, samplesPerBlock = 0;
    bool haveFormat = false;
    std::uint64_t dataBytes = 0;
    bool haveData = false;
    std::size_t at = 12;
    while (at + 8 <= b.size() && !haveData) {
        const std::string_view id(reinterpret_cast<const char*>(b.data()) + at, 4);
        const std::uint64_t size = littleEndian(b, at + 4, 4);
        const std::size_t body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= b.size()) {
            format = littleEndian(b, body, 2);
            channels = littleEndian(b, body + 2, 2);
            rate = littleEndian(b, body + 4, 4);
            blockAlign = littleEndian(b, body + 12, 2);
            if (size >= 20 && body + 20 <= b.size())
                samplesPerBlock = littleEndian(b, body + 18, 2);
            if (format == 0xFFFE && size >= 40 && body + 26 <= b.size())
                format = littleEndian(b, body + 24, 2); // the extensible form's sub-format
            haveFormat = true;
        } else if (id == "data") {
            // A data chunk may claim more than the file holds; only what is there is decoded.
            dataBytes = std::min<std::uint64_t>(size, b.size() - body);
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    if (!haveFormat || !haveData || channels == 0 || rate == 0 || blockAlign == 0)
        return {}; // the decoder refuses it with its own reason
    const std::uint64_t blocks = dataBytes / blockAlign;
    // MS and IMA ADPCM pack many frames into a block; every other form holds one a block.
    const bool adpcm = format == 0x0002 || format == 0x0011;
    const std::uint64_t frames =
        adpcm ? blocks * std::max<std::uint32_t>(samplesPerBlock, 1) : blocks;
    const std::uint64_t seconds = frames / rate;
    if (seconds > kMaxEffectSeconds)
        return "the WAV file lasts " + std::to_string(seconds) + " seconds, longer than the " +
               std::to_string(kMaxEffectSeconds) + " an effect may (the whole effect is decoded " +
               "into memory when it loads)";
    if (frames * channels > kMaxEffectSourceSamples)
        return "the WAV file holds " + std::to_string(frames * channels) +
               " samples, more than the " + std::to_string(kMaxEffectSourceSamples) +
               " an effect may (the whole effect is decoded into memory when it loads)";
    return {};
}

// The decoded effect at the device's rate, measured against the same bound.
std::string effectTooLong(const Mix_Chunk& chunk) {
    int rate = 0, channels = 0;
    Uint16 format = 0;
    if (Mix_QuerySpec(&rate, &format, &channels) == 0 || rate <= 0 || channels <= 0) return {};
    const std::uint64_t frameBytes = std::uint64_t{SDL_AUDIO_BITSIZE(format) / 8u} * channels;
    const std::uint64_t seconds = frameBytes ? chunk.alen / frameBytes / rate : 0;
    if (seconds <= kMaxEffectSeconds) return {};
    return "the effect lasts " + std::to_string(seconds) + " seconds, longer than the " +
           std::to_string(kMaxEffectSeconds) + " an effect may";
}

bool isMidi(const std::vector<std::uint8_t>& b) {
    return b.size() >= 4 && std::string_view(reinterpret_cast<const char*>(b.data()), 4) == "MThd";
}

const char* formatName(RecordedFormat format) {
    switch (format) {
    case RecordedFormat::Vorbis:
        return "Ogg Vorbis";
    case RecordedFormat::Opus:
        return "Ogg Opus";
    case RecordedFormat::Flac:
        return "FLAC";
    }
    return "recorded";
}

// Refuses a recorded effect of `frames` frames, as its header tells or (while `decoding`) as
// decoded so far, that would exceed the bounds above. Empty when it may be loaded.
std::string recordedTooCostly(RecordedFormat format, std::uint64_t frames, int rate, int channels,
                              bool decoding) {
    const std::uint64_t seconds = frames / static_cast<std::uint64_t>(rate);
    const std::uint64_t samples = frames * static_cast<std::uint64_t>(channels);
    const std::string what = std::string("the ") + formatName(format) + " file ";
    const std::string why = decoding ? " (decoding stopped there: the whole effect is decoded "
                                       "into memory when it loads)"
                                     : " (the whole effect is decoded into memory when it loads)";
    if (seconds > kMaxEffectSeconds)
        return what +
               (decoding ? "lasts longer than the " + std::to_string(kMaxEffectSeconds) + " seconds"
                         : "lasts " + std::to_string(seconds) + " seconds, longer than the " +
                               std::to_string(kMaxEffectSeconds)) +
               " an effect may" + why;
    if (samples > kMaxEffectSourceSamples)
        return what +
               (decoding
                    ? "holds more than the " + std::to_string(kMaxEffectSourceSamples) + " samples"
                    : "holds " + std::to_string(samples) + " samples, more than the " +
                          std::to_string(kMaxEffectSourceSamples)) +
               " an effect may" + why;
    return {};
}

// An Ogg Vorbis, Ogg Opus or FLAC effect, decoded a block at a time and converted to the
// device's format as it goes, so that a file longer than the bounds is stopped once past them,
// never decoded whole first.
Mix_Chunk* loadRecordedEffect(std::span<const std::uint8_t> bytes, std::string& reason) {
    RecordedDecoder* decoder = openRecorded(bytes, reason);
    if (!decoder) return nullptr;
    const RecordedFormat format = recordedFormat(*decoder);
    const int rate = recordedRate(*decoder), channels = recordedChannels(*decoder);
    int deviceRate = 0, deviceChannels = 0;
    Uint16 deviceFormat = 0;
    SDL_AudioStream* stream = nullptr;
    if (const std::optional<std::uint64_t> frames = recordedFrames(*decoder))
        reason = recordedTooCostly(format, *frames, rate, channels, false);
    else
        reason.clear();
    if (reason.empty()) {
        if (Mix_QuerySpec(&deviceRate, &deviceFormat, &deviceChannels) == 0)
            reason = Mix_GetError();
        else if (!(stream = SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(channels), rate,
                                               deviceFormat, static_cast<Uint8>(deviceChannels),
                                               deviceRate)))
            reason = std::string("its ") + std::to_string(channels) +
                     " channels cannot be converted for the device: " + SDL_GetError();
    }
    constexpr long kBlockFrames = 4096;
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames * channels));
    std::uint64_t decoded = 0;
    while (stream && reason.empty()) {
        const long got = readRecorded(*decoder, block.data(), kBlockFrames, reason);
        if (got <= 0) break;
        decoded += static_cast<std::uint64_t>(got);
        reason = recordedTooCostly(format, decoded, rate, channels, true);
        if (reason.empty() &&
            SDL_AudioStreamPut(
                stream, block.data(),
                static_cast<int>(got * channels * static_cast<long>(sizeof(float)))) != 0)
            reason = SDL_GetError();
    }
    closeRecorded(decoder);
    if (reason.empty() && decoded == 0) reason = "the file holds no sound";
    Mix_Chunk* chunk = nullptr;
    if (reason.empty() && SDL_AudioStreamFlush(stream) == 0) {
        const int available = SDL_AudioStreamAvailable(stream);
        auto* samples =
            static_cast<Uint8*>(SDL_malloc(static_cast<std::size_t>(std::max(available, 1))));
        const int got = samples ? SDL_AudioStreamGet(stream, samples, available) : -1;
        chunk = got > 0 ? Mix_QuickLoad_RAW(samples, static_cast<Uint32>(got)) : nullptr;
        if (chunk)
            chunk->allocated = 1; // the chunk owns its samples, freed with it
        else {
            SDL_free(samples);
            reason = got < 0 ? "no memory for the decoded effect" : Mix_GetError();
        }
    } else if (reason.empty()) {
        reason = SDL_GetError();
    }
    if (stream) SDL_FreeAudioStream(stream);
    return chunk;
}

bool loadEffect(SoundSlot& slot, std::string_view path, std::string& reason) {
    std::vector<std::uint8_t> bytes;
    if (!readGameFile(path, bytes, kMaxEffectFileBytes, "more than an effect may be", reason))
        return false;
    if (recordedFormatOf(bytes)) {
        slot.effect = loadRecordedEffect(bytes, reason);
        return slot.effect != nullptr;
    }
    if (std::string cost = effectTooCostly(bytes); !cost.empty()) {
        reason = cost;
        return false;
    }
    const bool midi = isMidi(bytes);
    if (midi) {
        // A MIDI effect is synthesised whole by the mixer, given as the engine's synthesiser is.
        std::optional<std::vector<std::uint8_t>> playable = playableMidi(bytes, reason);
        if (!playable) return false;
        if (const std::optional<double> seconds = midiSeconds(bytes, reason);
            seconds && *seconds > kMaxEffectSeconds) {
            reason = "the MIDI effect lasts " + std::to_string(std::lround(*seconds)) +
                     " seconds, longer than the " + std::to_string(kMaxEffectSeconds) +
                     " an effect may (the whole effect is synthesised into memory when it loads)";
            return false;
        }
        bytes = std::move(*playable);
    }
    // The chunk keeps its own converted copy of the samples, so the bytes may go afterwards.
    // The stream is closed here: the mixer leaves it open on some of its failures.
    SDL_RWops* stream = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    // Only a MIDI effect makes the mixer load the sound font, whose library may print its own
    // lines: a WAV is loaded without holding standard error back.
    if (midi) holdSynthOutput();
    slot.effect = stream ? Mix_LoadWAV_RW(stream, 0) : nullptr;
    if (midi) releaseSynthOutput();
    if (!slot.effect) reason = stream ? Mix_GetError() : "the file is empty";
    if (stream) SDL_RWclose(stream);
    if (slot.effect && !(reason = effectTooLong(*slot.effect)).empty()) {
        Mix_FreeChunk(slot.effect);
        slot.effect = nullptr;
    }
    return slot.effect != nullptr;
}

// The slot number is in the table and the slot holds a sound, on an open device.
SoundSlot* playableSlot(int slot) {
    if (!g_sound.deviceOpen || !slotInTable(slot)) return nullptr;
    SoundSlot& s = g_slots[slot];
    return (s.music || s.effect) ? &s : nullptr;
}

bool holdCall(HeldCall call) {
    if (!g_sound.held) return false;
    g_sound.heldCalls.push_back(std::move(call));
    return true;
}
} // namespace

void holdSound() {
    g_sound.held = true;
}

void releaseHeldSound() {
    if (!g_sound.held) return;
    g_sound.held = false;
    std::vector<HeldCall> calls;
    calls.swap(g_sound.heldCalls);
    for (const HeldCall& c : calls) {
        switch (c.kind) {
        case HeldCall::Start:
            startSound();
            break;
        case HeldCall::Load:
            loadSoundSlot(c.slot, c.path, c.isMusic);
            break;
        case HeldCall::Primary:
            playSlotPrimary(c.slot);
            break;
        case HeldCall::Secondary:
            playSlotSecondary(c.slot);
            break;
        case HeldCall::StopAll:
            stopAllSound();
            break;
        case HeldCall::RenderAhead:
            renderMusicAhead(c.path);
            break;
        }
    }
}

bool startSound() {
    if (holdCall({HeldCall::Start, 0, {}, false})) return true;
    if (g_sound.deviceOpen) return true;
    if (!g_sound.audioSubsystem) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            reportProblem(std::string("sound: no audio driver: ") + SDL_GetError());
            showMessage("DirectMusicPerformance8オブジェクトの作成に失敗");
            return false;
        }
        g_sound.audioSubsystem = true;
    }
    if (!g_sound.mixerInitialised) {
        chooseSoundFont();
        g_sound.mixerInitialised = true;
    }
    if (Mix_OpenAudioDevice(kOutputRate, AUDIO_S16SYS, kOutputChannels, kOutputChunkFrames, nullptr,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE) !=
        0) {
        reportProblem(std::string("sound: cannot open the audio device: ") + Mix_GetError());
        showMessage("DirectMusicPerformance8の初期化に失敗");
        return false;
    }
    g_sound.deviceOpen = true;
    Mix_AllocateChannels(kChannelCount);
    Mix_ReserveChannels(1);
    Mix_GroupChannels(kPrimaryChannel + 1, kChannelCount - 1, kEffectGroup);
    g_sound.primarySlot = -1;
    if (std::string reason; !startSynth(g_sound.soundFonts, reason)) reportNoSynthesiser(reason);
    int rate = kOutputRate, channels = kOutputChannels;
    Uint16 format = AUDIO_S16SYS;
    if (Mix_QuerySpec(&rate, &format, &channels) != 0 && format == AUDIO_S16SYS)
        startRecordedMusic(rate, channels);
    Mix_HookMusic(mixMusic, nullptr);
    g_sound.hooked = true;
    setMusicVolume(g_sound.musicVolume);
    setEffectVolume(g_sound.effectVolume);
    return true;
}

bool loadSoundSlot(int slot, std::string_view path, bool isMusic) {
    if (holdCall({HeldCall::Load, slot, std::string(path), isMusic})) return true;
    if (!g_sound.deviceOpen) return false;
    // A sound the game names may be given in another format under the same name.
    std::string file(path);
    if (std::string standIn = soundFileInUse(path, isMusic); !standIn.empty()) file = standIn;
    const std::string shownPath = systemPath(file);
    if (!slotInTable(slot)) {
        reportProblem("sound: slot " + std::to_string(slot) + " is outside the table (0 to " +
                      std::to_string(kSoundSlotCount - 1) + "); \"" + shownPath +
                      "\" is not loaded");
        return false;
    }
    releaseSlot(slot);
    std::string reason;
    bool noSynthesiser = false;
    const bool loaded = isMusic ? loadMusic(g_slots[slot], path, file, reason, noSynthesiser)
                                : loadEffect(g_slots[slot], file, reason);
    if (traceEnabled())
        traceEvent("sound_load", {{"slot", slot},
                                  {"path", shownPath},
                                  {"music", isMusic ? 1 : 0},
                                  {"ok", loaded ? 1 : 0}});
    if (!loaded) {
        // A failed load leaves the slot empty, never half set up.
        releaseSlot(slot);
        reportProblem("sound: cannot load " + std::string(isMusic ? "music" : "effect") + " \"" +
                      shownPath + "\" into slot " + std::to_string(slot) + ": " + reason);
        if (!noSynthesiser) showMessage("MIDIファイルのロードに失敗");
    }
    return loaded;
}

void renderMusicAhead(std::string_view path) {
    if (holdCall({HeldCall::RenderAhead, 0, std::string(path), true})) return;
    if (!g_sound.deviceOpen || !synthReady()) return;
    const std::string file = soundFileInUse(path, true);
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (file.empty() || !readGameFile(file, bytes, kMaxMidiFileBytes, "", reason)) return;
    if (isMidi(bytes)) prepareMidi(bytes, false);
}

void playSlotPrimary(int slot) {
    if (holdCall({HeldCall::Primary, slot, {}, false})) return;
    SoundSlot* s = playableSlot(slot);
    if (!s) return;
    if (traceEnabled()) traceEvent("sound_play", {{"slot", slot}, {"primary", 1}});
    haltMidi();
    haltRecordedPrimary();
    Mix_HaltChannel(kPrimaryChannel);
    std::string reason;
    bool played = false;
    if (s->recorded) {
        played = playRecordedMusic(s->recordedBytes, true, reason);
    } else if (s->music) {
        // A piece always starts from its beginning, also one that was playing.
        played = playMidi(s->musicBytes, reason);
    } else {
        played = Mix_PlayChannel(kPrimaryChannel, s->effect, 0) != -1;
        if (!played) reason = Mix_GetError();
    }
    g_sound.primarySlot = played ? slot : -1;
    if (!played) reportProblem("sound: slot " + std::to_string(slot) + " does not play: " + reason);
}

void playSlotSecondary(int slot) {
    if (holdCall({HeldCall::Secondary, slot, {}, false})) return;
    SoundSlot* s = playableSlot(slot);
    if (!s) return;
    if (traceEnabled()) traceEvent("sound_play", {{"slot", slot}, {"primary", 0}});
    if (s->music) {
        // Music over the primary piece repeats without end, like any music, until everything
        // stops; the primary piece goes on.
        std::string reason;
        if (s->recorded ? !playRecordedMusic(s->recordedBytes, false, reason)
                        : !playMidiOverPrimary(s->musicBytes, reason))
            reportProblem("sound: slot " + std::to_string(slot) + " does not play: " + reason);
        return;
    }
    // A free effect channel, or else the effect that has played longest gives way. Only the
    // effects' own channels are looked at: the music may have mixer channels past them.
    int channel = Mix_GroupAvailable(kEffectGroup);
    if (channel == -1) channel = Mix_GroupOldest(kEffectGroup);
    if (channel != -1) Mix_PlayChannel(channel, s->effect, 0);
}

void stopAllSound() {
    if (holdCall({HeldCall::StopAll, 0, {}, false})) return;
    if (!g_sound.deviceOpen) return;
    if (traceEnabled()) traceEvent("sound_stop", {});
    haltAllMidi();
    haltAllRecorded();
    Mix_HaltChannel(-1);
    g_sound.primarySlot = -1;
}

bool stopAndReleaseSlots() {
    stopAllSound();
    for (int slot = 0; slot < kSoundSlotCount; ++slot)
        releaseSlot(slot);
    return true;
}

bool closeDownSound() {
    // Sounds must be freed while the device they were converted for is still open.
    g_sound.held = false;
    g_sound.heldCalls.clear();
    stopAndReleaseSlots();
    // Returns once the audio thread has left the hook: the players behind it may go.
    if (g_sound.hooked) Mix_HookMusic(nullptr, nullptr);
    stopRecordedMusic();
    stopSynth();
    if (g_sound.deviceOpen) Mix_CloseAudio();
    if (g_sound.mixerInitialised) Mix_Quit();
    if (g_sound.audioSubsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_sound = SoundSystem{};
    return true;
}

int primarySoundSlot() {
    if (!g_sound.deviceOpen || g_sound.primarySlot < 0) return -1;
    const SoundSlot& s = g_slots[g_sound.primarySlot];
    const bool playing = s.recorded ? recordedPrimaryPlaying()
                         : s.music  ? midiPlaying()
                                    : Mix_Playing(kPrimaryChannel) != 0;
    return playing ? g_sound.primarySlot : -1;
}

void setMusicVolume(int percent) {
    g_sound.musicVolume = std::clamp(percent, 0, 100);
    g_musicLevel.store(g_sound.musicVolume, std::memory_order_relaxed);
    if (g_sound.deviceOpen) setMidiVolume(g_sound.musicVolume);
}

void setEffectVolume(int percent) {
    g_sound.effectVolume = std::clamp(percent, 0, 100);
    if (!g_sound.deviceOpen) return;
    // The effects' channels only: music on mixer channels of its own keeps the music's level.
    for (int channel = 0; channel < kChannelCount; ++channel)
        Mix_Volume(channel, g_sound.effectVolume * MIX_MAX_VOLUME / 100);
}

bool musicPlaying() {
    return g_sound.deviceOpen && (midiPlaying() || recordedPrimaryPlaying());
}

int musicPlayingOverPrimary() {
    return g_sound.deviceOpen ? midiPlayingOverPrimary() + recordedPlayingOverPrimary() : 0;
}

bool soundSlotLoaded(int slot) {
    return slotInTable(slot) && (g_slots[slot].music || g_slots[slot].effect);
}

bool soundStarted() {
    return g_sound.deviceOpen;
}
