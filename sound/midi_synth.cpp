#include "sound/midi_synth.h"
#include "base/message.h"
#include "sound/midi_check.h"
#include "sound/midi_synth_setup.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <fluidsynth.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Each piece plays on a bank of 16 MIDI channels of its own, so that pieces sounding together
// never share a program, a controller or a note. Bank 0 is the primary piece's.
constexpr int kBankChannels = 16;
constexpr int kPieces = 1 + kPiecesOverPrimary;
constexpr int kSynthChannels = kBankChannels * kPieces;
constexpr int kDrumChannel = 9; // of each bank, as in General MIDI
constexpr int kSystemExclusive = 0xF0;

// The controllers a reset of one bank puts back to the synthesiser's own start values.
constexpr std::array<int, 6> kResetControllers = {0, 7, 10, 32, 91, 93};

// A piece is synthesised once, faster than real time, on a thread of its own, and its samples
// are then played again and again: the synthesiser would otherwise work for as long as the
// music plays, which is most of a game, at every click wait. The first samples are there within
// a few blocks, so a piece starts at once and plays while the rest is rendered ahead of it.
//
// The samples are kept Vorbis-coded, as they are rendered: a tenth of their size, a few hundred
// kilobytes a piece where 16-bit samples would take 5 MB for half a minute, for some 0.3 % of a
// core to decode them as they play. The quality is above the browser's renderings', whose level
// is within 0.05 dB of the synthesiser's and each octave band up to 16 kHz within 1 dB.
constexpr float kKeptQuality = 0.4f;
// A piece longer than this is synthesised as it plays, as is one past what all renderings
// together may hold (some 30 MB at this quality).
constexpr double kMaxRenderedSeconds = 600;
constexpr double kMaxRenderingsSeconds = 1800;
// What the renderer writes at a time: what the mixer asks of the synthesiser at a time.
constexpr int kRenderBlockFrames = 1024;
constexpr int kRenderedChannels = 2;
constexpr int kVorbisHeaders = 3;

// Where one coded packet of a rendering is.
struct PacketPlace {
    std::uint32_t offset = 0;
    std::uint32_t bytes = 0;
    std::int64_t granule = 0;
};

// One pass of a piece as the synthesiser plays it, at the device's rate. The render thread
// codes it packet by packet; the audio thread decodes what `packetCount` says is there. Shared
// by the table of renderings and the pieces that play it, so that a piece goes on when its slot
// lets go.
struct Rendering {
    std::string key;                // renderedMidiName of the file's bytes
    std::vector<std::uint8_t> midi; // as playableMidi gives it
    long passFrames = 0;            // the piece's length: the most the pass may be
    long seamFrames = 0;            // the end's ringing notes, faded over the next pass's start
    // Room for the packets, reserved whole and never moved, so the audio thread reads them
    // while more are added; pages never written cost nothing.
    std::unique_ptr<std::uint8_t[]> packetBytes;
    std::size_t packetRoom = 0;
    std::unique_ptr<PacketPlace[]> packets;
    int packetSlots = 0;
    std::unique_ptr<std::int16_t[]> tail; // seamFrames of stereo, after the pass
    int holders = 0;                      // slots that hold the piece (the main thread's)
    std::atomic<int> packetCount{0};      // packets written, the three headers first
    std::atomic<long> passEnd{-1};        // the pass's frames, once it is whole
    std::atomic<bool> done{false};        // every packet and the tail are written
    std::atomic<bool> failed{false};
    std::atomic<bool> wanted{false}; // a piece plays it: rendered before any other
    enum Abandon { Keep, Yield, Drop };
    std::atomic<int> abandon{Keep};
};

// A piece's own decoding of a rendering: the audio thread's once started.
struct Decoding {
    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    bool open = false;
    int next = 0;    // the next packet to decode
    long frames = 0; // frames of this pass given out
};

// The render thread and what it is given, under its own lock (never the audio thread's).
struct Renderer {
    std::thread thread;
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::shared_ptr<Rendering>> jobs;
    std::shared_ptr<Rendering> current;
    bool quit = false;
};

// One piece on the synthesiser, or playing a rendering. The player keeps its own copy of the
// file.
struct Piece {
    fluid_player_t* player = nullptr;
    int firstChannel = 0;
    int lastTick = -1;         // to see the piece start over
    std::uint64_t started = 0; // when it was started, to find the oldest
    std::shared_ptr<Rendering> rendering;
    Decoding decoding;
    bool looped = false; // the pass has played through once: its tail sounds over its start
};

// What the audio thread reads while it renders: changed only under the lock, and only by the
// main thread, which therefore reads it without the lock. The lock is held for a few calls at a
// time on either side: nothing done under it waits on the other thread, or on a file.
struct Synth {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    // Where each piece is tried at load: no sound font, no effects, one voice; the main thread's.
    fluid_settings_t* trialSettings = nullptr;
    fluid_synth_t* trialSynth = nullptr;
    std::array<Piece, kPieces> pieces; // [0] is the primary piece
    std::uint64_t starts = 0;
    std::array<int, kResetControllers.size()> controllerStart{};
    SDL_mutex* lock = nullptr;
    int channels = 2;
    int rate = 44100;
    int volume = 100; // percent, for the renderings; the synthesiser's gain for the rest
    std::vector<std::int16_t> stereo; // the audio thread's scratch
    // The render thread's own synthesiser, set up as this one, and the renderings made or being
    // made (the main thread's).
    fluid_settings_t* renderSettings = nullptr;
    fluid_synth_t* renderSynth = nullptr;
    std::vector<std::shared_ptr<Rendering>> renderings;
    std::string fonts;
};

Synth g_synth;
Renderer g_renderer;
std::atomic<std::uint64_t> g_synthesised{0}; // frames either synthesiser wrote, for tests

bool playerPlaying(const Piece& piece) {
    return piece.player && fluid_player_get_status(piece.player) == FLUID_PLAYER_PLAYING;
}

bool piecePlaying(const Piece& piece) {
    return piece.rendering || playerPlaying(piece);
}

bool anyPlayerPlaying() {
    return std::any_of(g_synth.pieces.begin(), g_synth.pieces.end(), playerPlaying);
}

void markDrumChannels() {
    for (int bank = 1; bank < kPieces; ++bank)
        fluid_synth_set_channel_type(g_synth.synth, bank * kBankChannels + kDrumChannel,
                                     CHANNEL_TYPE_DRUM);
}

// Silences the piece's channels and gives them back their start state, as a fresh synthesiser
// has it. Alone on the synthesiser, the whole synthesiser is reset (its effects' tails too).
void resetPieceChannels(const Piece& piece) {
    const bool alone =
        std::none_of(g_synth.pieces.begin(), g_synth.pieces.end(),
                     [&](const Piece& other) { return &other != &piece && playerPlaying(other); });
    if (alone) {
        fluid_synth_system_reset(g_synth.synth);
        markDrumChannels(); // the reset makes every channel but the first bank's 9 melodic
        return;
    }
    for (int ch = piece.firstChannel; ch < piece.firstChannel + kBankChannels; ++ch) {
        fluid_synth_all_sounds_off(g_synth.synth, ch);
        fluid_synth_cc(g_synth.synth, ch, 121, 0); // reset all controllers
        for (std::size_t k = 0; k < kResetControllers.size(); ++k)
            fluid_synth_cc(g_synth.synth, ch, kResetControllers[k], g_synth.controllerStart[k]);
        fluid_synth_pitch_bend(g_synth.synth, ch, 8192);
        fluid_synth_pitch_wheel_sens(g_synth.synth, ch, 2);
        fluid_synth_program_change(g_synth.synth, ch, 0);
    }
}

// A piece that starts over begins on channels in their start state, as it did the first time.
// Called with each event and each tick of the player, on the audio thread.
//
// The player is never told to repeat without end: it would start a piece over as soon as it
// ends, and read it again, in one loop that never leaves the audio thread when a pass takes no
// time, or when the piece cannot be read the second time. It is allowed one pass more, each time
// a pass has played past its first tick: a pass that plays no time is the last.
void noteTick(Piece& piece, int tick) {
    if (tick < piece.lastTick) resetPieceChannels(piece);
    piece.lastTick = tick;
    if (tick > 0) fluid_player_set_loop(piece.player, 1);
}

int pieceTick(void* data, int tick) {
    noteTick(*static_cast<Piece*>(data), tick);
    return FLUID_OK;
}

// Sends a piece's event to its own bank of channels. The event is the player's: its channel is
// given back afterwards. A system-exclusive message acts on the whole synthesiser, not on a
// bank (a General MIDI reset resets every channel): only the primary piece's are obeyed.
int pieceEvent(void* data, fluid_midi_event_t* event) {
    Piece& piece = *static_cast<Piece*>(data);
    noteTick(piece, fluid_player_get_current_tick(piece.player));
    const int type = fluid_midi_event_get_type(event);
    if (type == kSystemExclusive) {
        if (piece.firstChannel != 0) return FLUID_OK;
        const int result = fluid_synth_handle_midi_event(g_synth.synth, event);
        markDrumChannels(); // in case it was a reset
        return result;
    }
    const bool channelEvent = type >= 0x80 && type < 0xF0;
    const int channel = fluid_midi_event_get_channel(event);
    if (channelEvent) fluid_midi_event_set_channel(event, channel + piece.firstChannel);
    const int result = fluid_synth_handle_midi_event(g_synth.synth, event);
    if (channelEvent) fluid_midi_event_set_channel(event, channel);
    return result;
}

void closeDecoding(Decoding& d) {
    if (!d.open) return;
    vorbis_block_clear(&d.block);
    vorbis_dsp_clear(&d.dsp);
    vorbis_comment_clear(&d.comment);
    vorbis_info_clear(&d.info);
    d.open = false;
}

ogg_packet packetAt(const Rendering& r, int index) {
    const PacketPlace& place = r.packets[index];
    ogg_packet packet{};
    packet.packet = r.packetBytes.get() + place.offset;
    packet.bytes = place.bytes;
    packet.b_o_s = index == 0;
    packet.granulepos = place.granule;
    packet.packetno = index;
    return packet;
}

// Reads the headers, once they are written.
bool openDecoding(const Rendering& r, Decoding& d) {
    if (r.packetCount.load(std::memory_order_acquire) < kVorbisHeaders) return false;
    vorbis_info_init(&d.info);
    vorbis_comment_init(&d.comment);
    bool ok = true;
    for (int k = 0; ok && k < kVorbisHeaders; ++k) {
        ogg_packet header = packetAt(r, k);
        ok = vorbis_synthesis_headerin(&d.info, &d.comment, &header) == 0;
    }
    ok = ok && d.info.channels == kRenderedChannels && vorbis_synthesis_init(&d.dsp, &d.info) == 0;
    if (!ok) {
        vorbis_comment_clear(&d.comment);
        vorbis_info_clear(&d.info);
        return false;
    }
    vorbis_block_init(&d.dsp, &d.block);
    d.open = true;
    d.next = kVorbisHeaders;
    d.frames = 0;
    return true;
}

std::int16_t toSample(float v) {
    return static_cast<std::int16_t>(std::lrint(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
}

// Adds the rendering's next frames to the output, from where the piece is, looping at the end
// of the pass. While the pass is still being rendered and the piece has caught up with it, the
// piece waits, silent, rather than skip what is not there yet.
void mixRendering(Piece& piece, std::int16_t* out, int frames, int channels) {
    const Rendering& r = *piece.rendering;
    Decoding& d = piece.decoding;
    if (r.failed.load(std::memory_order_relaxed)) return;
    if (!d.open && !openDecoding(r, d)) return;
    const int volume = g_synth.volume;
    const auto add = [](std::int16_t& into, int value) {
        into = static_cast<std::int16_t>(std::clamp(into + value, -32768, 32767));
    };
    int at = 0;
    while (at < frames) {
        const long passEnd = r.passEnd.load(std::memory_order_acquire);
        const bool done = r.done.load(std::memory_order_acquire);
        float** pcm = nullptr;
        const int ready = vorbis_synthesis_pcmout(&d.dsp, &pcm);
        if (passEnd >= 0 && d.frames >= passEnd) {
            // What the coder adds past the end is not the piece's.
            if (ready > 0) vorbis_synthesis_read(&d.dsp, ready);
            if (!done || passEnd == 0) break;
            vorbis_synthesis_restart(&d.dsp);
            d.next = kVorbisHeaders;
            d.frames = 0;
            piece.looped = true;
            continue;
        }
        if (ready <= 0) {
            if (d.next >= r.packetCount.load(std::memory_order_acquire)) {
                if (!done) break; // the renderer is behind: wait for it
                // Every packet is decoded and still short of the end: as long as there was.
                if (d.frames == 0) break;
                vorbis_synthesis_restart(&d.dsp);
                d.next = kVorbisHeaders;
                d.frames = 0;
                piece.looped = true;
                continue;
            }
            ogg_packet packet = packetAt(r, d.next++);
            if (vorbis_synthesis(&d.block, &packet) == 0)
                vorbis_synthesis_blockin(&d.dsp, &d.block);
            continue;
        }
        long count = std::min<long>(ready, frames - at);
        if (passEnd >= 0) count = std::min(count, passEnd - d.frames);
        for (long f = 0; f < count; ++f) {
            int left = toSample(pcm[0][f]), right = toSample(pcm[1][f]);
            const long from = d.frames + f;
            if (piece.looped && from < r.seamFrames) {
                // The end's ringing notes die away over the start, as they would have: cut off
                // at the seam they would click.
                const long fade = r.seamFrames - from;
                left += static_cast<int>(r.tail[from * 2] * fade / r.seamFrames);
                right += static_cast<int>(r.tail[from * 2 + 1] * fade / r.seamFrames);
            }
            if (volume != 100) {
                left = left * volume / 100;
                right = right * volume / 100;
            }
            std::int16_t* frame = out + static_cast<std::ptrdiff_t>(at + f) * channels;
            if (channels == 1) {
                add(frame[0], (left + right) / 2);
            } else {
                add(frame[0], left);
                add(frame[1], right);
            }
        }
        vorbis_synthesis_read(&d.dsp, static_cast<int>(count));
        d.frames += count;
        at += static_cast<int>(count);
    }
}

} // namespace

void mixMidiMusic(std::int16_t* out, int frames, int channels) {
    if (!g_synth.lock) return;
    SDL_LockMutex(g_synth.lock);
    if (anyPlayerPlaying()) {
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
        g_synthesised.fetch_add(frames, std::memory_order_relaxed);
    }
    for (Piece& piece : g_synth.pieces)
        if (piece.rendering) mixRendering(piece, out, frames, channels);
    SDL_UnlockMutex(g_synth.lock);
}

namespace {

void leaveRendering(Piece& piece) {
    closeDecoding(piece.decoding);
    piece.rendering.reset();
    piece.looped = false;
}

void removePlayer(Piece& piece) {
    leaveRendering(piece);
    if (!piece.player) return;
    fluid_player_stop(piece.player);
    delete_fluid_player(piece.player);
    piece.player = nullptr;
}

void dropPlayer(Piece& piece) {
    leaveRendering(piece);
    if (!piece.player) return;
    removePlayer(piece);
    // Notes held when the piece stopped, and the piece's programs and controllers, go with it.
    resetPieceChannels(piece);
}

void dropEveryPlayer() {
    for (Piece& piece : g_synth.pieces)
        removePlayer(piece);
    if (!g_synth.synth) return;
    fluid_synth_system_reset(g_synth.synth);
    markDrumChannels();
}

// Starts the file on the piece, in place of what it played. False when it cannot play.
bool startPiece(Piece& piece, std::span<const std::uint8_t> midi) {
    dropPlayer(piece);
    piece.lastTick = -1;
    piece.started = ++g_synth.starts;
    piece.player = new_fluid_player(g_synth.synth);
    bool ok = piece.player != nullptr;
    if (ok) {
        fluid_player_set_playback_callback(piece.player, pieceEvent, &piece);
        fluid_player_set_tick_callback(piece.player, pieceTick, &piece);
        ok = fluid_player_add_mem(piece.player, midi.data(), midi.size()) == FLUID_OK;
    }
    if (ok) {
        fluid_player_set_loop(piece.player, 1); // one pass; noteTick allows each next one
        ok = fluid_player_play(piece.player) == FLUID_OK;
    }
    if (!ok && piece.player) dropPlayer(piece);
    return ok;
}

void freeRenderSynth() {
    if (g_synth.renderSynth) delete_fluid_synth(g_synth.renderSynth);
    if (g_synth.renderSettings) delete_fluid_settings(g_synth.renderSettings);
    g_synth.renderSynth = nullptr;
    g_synth.renderSettings = nullptr;
}

// The coder of one rendering, on the render thread; cleared whichever step it stopped at.
struct Coder {
    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    bool analysing = false;

    Coder() {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~Coder() {
        if (analysing) {
            vorbis_block_clear(&block);
            vorbis_dsp_clear(&dsp);
        }
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
};

// Adds a packet after those written; false when there is no room left for it.
bool appendPacket(Rendering& job, const ogg_packet& packet) {
    const int index = job.packetCount.load(std::memory_order_relaxed);
    const std::uint32_t offset =
        index == 0 ? 0 : job.packets[index - 1].offset + job.packets[index - 1].bytes;
    if (index >= job.packetSlots || packet.bytes < 0 ||
        offset + static_cast<std::size_t>(packet.bytes) > job.packetRoom)
        return false;
    std::copy_n(packet.packet, packet.bytes, job.packetBytes.get() + offset);
    job.packets[index] = {offset, static_cast<std::uint32_t>(packet.bytes), packet.granulepos};
    job.packetCount.store(index + 1, std::memory_order_release);
    return true;
}

// Codes what the analysis holds; false when a packet found no room.
bool drainCoder(Coder& c, Rendering& job) {
    ogg_packet packet;
    while (vorbis_analysis_blockout(&c.dsp, &c.block) == 1) {
        vorbis_analysis(&c.block, nullptr);
        vorbis_bitrate_addblock(&c.block);
        while (vorbis_bitrate_flushpacket(&c.dsp, &packet))
            if (!appendPacket(job, packet)) return false;
    }
    return true;
}

// Renders one job on the render thread's synthesiser and codes it as it goes: the pass, then
// its tail. Abandoned, it is left as it was before it began.
void renderJob(Rendering& job) {
    fluid_synth_t* synth = g_synth.renderSynth;
    fluid_synth_system_reset(synth);
    Coder c;
    bool room = vorbis_encode_init_vbr(&c.info, kRenderedChannels, g_synth.rate, kKeptQuality) == 0;
    if (room) {
        vorbis_analysis_init(&c.dsp, &c.info);
        vorbis_block_init(&c.dsp, &c.block);
        c.analysing = true;
        ogg_packet identification, comments, codebooks;
        vorbis_analysis_headerout(&c.dsp, &c.comment, &identification, &comments, &codebooks);
        room = appendPacket(job, identification) && appendPacket(job, comments) &&
               appendPacket(job, codebooks);
    }
    std::array<float, kRenderBlockFrames * kRenderedChannels> block;
    const auto write = [&](long at, int frames) {
        if (!room || job.abandon.load(std::memory_order_relaxed) != Rendering::Keep) return false;
        fluid_synth_write_float(synth, frames, block.data(), 0, 2, block.data(), 1, 2);
        g_synthesised.fetch_add(frames, std::memory_order_relaxed);
        if (at >= job.passFrames) {
            // The tail, after the pass, is kept as it is: it is short.
            for (int f = 0; f < frames * kRenderedChannels; ++f)
                job.tail[(at - job.passFrames) * kRenderedChannels + f] = toSample(block[f]);
            return true;
        }
        float** into = vorbis_analysis_buffer(&c.dsp, frames);
        for (int f = 0; f < frames; ++f) {
            into[0][f] = block[f * 2];
            into[1][f] = block[f * 2 + 1];
        }
        vorbis_analysis_wrote(&c.dsp, frames);
        room = drainCoder(c, job);
        return room;
    };
    std::string reason;
    const std::optional<long> pass =
        renderPass(synth, job.midi, job.passFrames, kRenderBlockFrames, false, write, reason);
    bool whole = pass.has_value();
    if (whole) {
        vorbis_analysis_wrote(&c.dsp, 0); // the end of the pass
        whole = drainCoder(c, job);
    }
    if (whole) job.passEnd.store(*pass, std::memory_order_release);
    // The tail follows the pass in the synthesiser, wherever the pass ended.
    for (long at = 0; whole && at < job.seamFrames; at += kRenderBlockFrames)
        whole = write(job.passFrames + at,
                      static_cast<int>(std::min<long>(kRenderBlockFrames, job.seamFrames - at)));
    fluid_synth_system_reset(synth);
    if (!whole) {
        job.packetCount.store(0, std::memory_order_relaxed);
        job.passEnd.store(-1, std::memory_order_relaxed);
        // No room, or a piece the synthesiser refused: only an abandoned job is tried again.
        if (job.abandon.load() == Rendering::Keep) job.failed.store(true);
        return;
    }
    job.done.store(true, std::memory_order_release);
}

// The render thread's synthesiser, with its sound fonts and the instruments it read for the
// pieces, is freed once there is nothing left to render, and made again for the next piece: a
// game loads its music at start-up, and then plays it for hours. On the render thread, after
// startSynth has made and tried the first.
bool remakeRenderSynth() {
    if (g_synth.renderSynth) return true;
    g_synth.renderSettings = newSynthSettings(g_synth.rate);
    if (g_synth.renderSettings) {
        fluid_settings_setint(g_synth.renderSettings, "synth.midi-channels", kBankChannels);
        g_synth.renderSynth = new_fluid_synth(g_synth.renderSettings);
    }
    std::string reason;
    if (g_synth.renderSynth && loadSoundFonts(g_synth.renderSynth, g_synth.fonts, reason, false))
        return true;
    freeRenderSynth();
    return false;
}

// The render thread: the job a piece waits for first, else the oldest.
void renderJobs() {
    std::unique_lock<std::mutex> lock(g_renderer.lock);
    const auto ready = [] { return g_renderer.quit || !g_renderer.jobs.empty(); };
    for (;;) {
        // The synthesiser startSynth tried the sound fonts on goes too when no piece comes to
        // be rendered (a game whose music is all recorded).
        if (!g_renderer.wake.wait_for(lock, std::chrono::seconds(2), ready)) {
            freeRenderSynth();
            malloc_trim(0);
            g_renderer.wake.wait(lock, ready);
        }
        if (g_renderer.quit) return;
        auto next = std::find_if(g_renderer.jobs.begin(), g_renderer.jobs.end(),
                                 [](const auto& job) { return job->wanted.load(); });
        if (next == g_renderer.jobs.end()) next = g_renderer.jobs.begin();
        g_renderer.current = *next;
        g_renderer.jobs.erase(next);
        lock.unlock();
        if (remakeRenderSynth())
            renderJob(*g_renderer.current);
        else
            g_renderer.current->failed.store(true);
        lock.lock();
        // A job put aside for a piece that waited goes back in the queue, to start over.
        Rendering& job = *g_renderer.current;
        if (job.abandon.exchange(Rendering::Keep) == Rendering::Yield && !job.done)
            g_renderer.jobs.push_back(g_renderer.current);
        g_renderer.current.reset();
        if (g_renderer.jobs.empty()) {
            freeRenderSynth();
            // Its instruments and tables are many small blocks among the game's: the pages they
            // leave go back to the system, not to the peak of what the game holds.
            malloc_trim(0);
        }
    }
}

std::shared_ptr<Rendering> findRendering(std::span<const std::uint8_t> midi) {
    const std::string key = renderedMidiName(midi);
    for (const std::shared_ptr<Rendering>& r : g_synth.renderings)
        if (r->key == key) return r;
    return nullptr;
}

// A piece is to play the rendering: it is rendered first, before a job no piece waits for.
void wantRendering(const std::shared_ptr<Rendering>& rendering) {
    if (rendering->done.load()) return;
    std::lock_guard<std::mutex> lock(g_renderer.lock);
    rendering->wanted.store(true);
    if (g_renderer.current && g_renderer.current != rendering && !g_renderer.current->wanted)
        g_renderer.current->abandon.store(Rendering::Yield);
    g_renderer.wake.notify_one();
}

void stopRenderer() {
    if (g_renderer.thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(g_renderer.lock);
            g_renderer.quit = true;
            if (g_renderer.current) g_renderer.current->abandon.store(Rendering::Drop);
            g_renderer.wake.notify_one();
        }
        g_renderer.thread.join();
    }
    g_renderer.jobs.clear();
    g_renderer.current.reset();
    g_renderer.quit = false;
    g_synth.renderings.clear();
    freeRenderSynth();
}

// What the synthesiser's libraries said while their output is held: the main thread's own,
// so that a line logged by the audio thread meanwhile is not mixed in.
struct HeldOutput {
    int savedError = -1; // standard error, while it points at `capture`
    std::FILE* capture = nullptr;
    std::string firstError;
};
HeldOutput g_held;
thread_local bool t_holding = false;

// The synthesiser's own lines would go to standard error at every load, raw; its errors are
// kept for the caller while held, everything else is dropped.
void synthLog(int level, const char* message, void*) {
    if (t_holding && level <= FLUID_ERR && g_held.firstError.empty() && message)
        g_held.firstError = message;
}

// A synthesiser without sound fonts on which a piece is tried: events go nowhere.
int discardEvent(void*, fluid_midi_event_t*) {
    return FLUID_OK;
}

// Plays the first block of the piece on the trial synthesiser, where it is read.
bool trialPlays(std::span<const std::uint8_t> midi, std::string& said) {
    fluid_player_t* player = new_fluid_player(g_synth.trialSynth);
    if (!player) return false;
    fluid_player_set_playback_callback(player, discardEvent, nullptr);
    bool ok = fluid_player_add_mem(player, midi.data(), midi.size()) == FLUID_OK &&
              fluid_player_play(player) == FLUID_OK;
    if (ok) {
        std::array<float, 64 * 2> block;
        holdSynthOutput();
        fluid_synth_write_float(g_synth.trialSynth, 64, block.data(), 0, 2, block.data(), 1, 2);
        said = releaseSynthOutput();
        ok = playerTookPiece(player);
    }
    fluid_player_stop(player);
    delete_fluid_player(player);
    return ok;
}

} // namespace

const NoSynthMessages kNoSynthMessages = {
    "install the package timgm6mb-soundfont, or name a General MIDI sound font in SDL_SOUNDFONTS",
    "General MIDI のサウンドフォントが見つからない（または使えない）ため、音楽は鳴りません。"
    "timgm6mb-soundfont パッケージを入れるか、環境変数 SDL_SOUNDFONTS に"
    "サウンドフォント（.sf2）を指定してください。",
};

void holdSynthOutput() {
    if (t_holding) return;
    std::fflush(stderr);
    g_held.firstError.clear();
    g_held.capture = std::tmpfile();
    g_held.savedError = g_held.capture ? ::dup(STDERR_FILENO) : -1;
    if (g_held.savedError >= 0 && ::dup2(::fileno(g_held.capture), STDERR_FILENO) < 0) {
        ::close(g_held.savedError);
        g_held.savedError = -1;
    }
    t_holding = true;
}

std::string releaseSynthOutput() {
    if (!t_holding) return {};
    std::fflush(stderr);
    if (g_held.savedError >= 0) {
        ::dup2(g_held.savedError, STDERR_FILENO);
        ::close(g_held.savedError);
    }
    if (g_held.capture) std::fclose(g_held.capture);
    t_holding = false;
    std::string said = terminalText(g_held.firstError);
    g_held = HeldOutput{};
    return said;
}

bool playerTookPiece(fluid_player_t* player) {
    return fluid_player_get_status(player) == FLUID_PLAYER_PLAYING &&
           fluid_player_get_total_ticks(player) > 0;
}

std::optional<long> renderPass(fluid_synth_t* synth, std::span<const std::uint8_t> playable,
                               long passFrames, int blockFrames, bool holdOutput,
                               const std::function<bool(long at, int frames)>& write,
                               std::string& reason) {
    fluid_player_t* player = new_fluid_player(synth);
    if (!player || fluid_player_add_mem(player, playable.data(), playable.size()) != FLUID_OK ||
        fluid_player_play(player) != FLUID_OK) {
        if (player) delete_fluid_player(player);
        reason = "the synthesiser cannot play the file";
        return std::nullopt;
    }
    // One pass ends at the end of the piece's last track: there the player, which loops, starts
    // it over, and what still rings is cut off. Played once, the player would go on until the
    // last notes have faded, seconds later; its end only counts when it comes first.
    long frames = 0;
    bool abandoned = false;
    while (!abandoned && frames < passFrames &&
           (frames == 0 || fluid_player_get_status(player) == FLUID_PLAYER_PLAYING)) {
        const int block = static_cast<int>(std::min<long>(blockFrames, passFrames - frames));
        if (frames == 0 && holdOutput) holdSynthOutput();
        abandoned = !write(frames, block);
        if (frames == 0) {
            // The player reads the piece in its first block: one it refuses would be silence.
            const std::string said = holdOutput ? releaseSynthOutput() : std::string();
            if (!abandoned && !playerTookPiece(player)) {
                fluid_player_stop(player);
                delete_fluid_player(player);
                reason = "the synthesiser cannot play the file" +
                         (said.empty() ? std::string() : " (" + said + ")");
                return std::nullopt;
            }
        }
        frames += block;
    }
    fluid_player_stop(player);
    delete_fluid_player(player);
    if (abandoned) {
        reason.clear();
        return std::nullopt;
    }
    return frames;
}

fluid_settings_t* newSynthSettings(double rate) {
    for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level)
        fluid_set_log_function(level, synthLog, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    if (!settings) return nullptr;
    fluid_settings_setnum(settings, "synth.sample-rate", rate);
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    fluid_settings_setstr(settings, "player.timing-source", "sample");
    fluid_settings_setint(settings, "synth.midi-channels", kSynthChannels);
    // A player would reset the whole synthesiser each time its piece starts over, cutting off
    // every other piece; each piece resets its own channels instead (noteTick).
    fluid_settings_setint(settings, "player.reset-synth", 0);
    // Full gain: the level music has always had in this engine, well above the synthesiser's
    // own default.
    fluid_settings_setnum(settings, "synth.gain", 1.0);
    // Only the samples of the instruments a piece selects are read into memory: a General MIDI
    // font holds all 128, a piece uses a handful.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    return settings;
}

bool loadSoundFonts(fluid_synth_t* synth, const std::string& soundFonts, std::string& reason,
                    bool holdOutput) {
    int found = 0, loaded = 0;
    std::string firstError;
    std::string_view rest = soundFonts;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find_first_of(":;"), rest.size());
        const std::string font(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        std::error_code error;
        if (font.empty() || !std::filesystem::is_regular_file(font, error)) continue;
        ++found;
        if (holdOutput) holdSynthOutput();
        if (fluid_synth_sfload(synth, font.c_str(), 1) != FLUID_FAILED) ++loaded;
        const std::string said = holdOutput ? releaseSynthOutput() : std::string();
        if (firstError.empty() && !said.empty()) firstError = font + ": " + said;
    }
    if (found == 0)
        reason = "no General MIDI sound font found (looked for " + soundFonts + ")";
    else if (loaded == 0)
        reason = "no sound font could be loaded from " + soundFonts +
                 (firstError.empty() ? std::string() : " (" + firstError + ")");
    return loaded > 0;
}

std::string noSynthLoadReason(const std::string& soundFonts) {
    return "no sound font for the MIDI synthesiser (looked for " + soundFonts + ")";
}

// The synthesiser for pieces played as they are synthesised, made the first time one is: most
// games never need it, and each synthesiser keeps its own copy of the sound fonts' instruments.
bool startLiveSynth() {
    if (g_synth.synth) return true;
    g_synth.settings = newSynthSettings(g_synth.rate);
    fluid_synth_t* synth = g_synth.settings ? new_fluid_synth(g_synth.settings) : nullptr;
    std::string reason;
    if (!synth || !loadSoundFonts(synth, g_synth.fonts, reason)) {
        if (synth) delete_fluid_synth(synth);
        if (g_synth.settings) delete_fluid_settings(g_synth.settings);
        g_synth.settings = nullptr;
        return false;
    }
    fluid_synth_set_gain(synth, static_cast<float>(g_synth.volume) / 100.0f);
    for (std::size_t k = 0; k < kResetControllers.size(); ++k)
        fluid_synth_get_cc(synth, 0, kResetControllers[k], &g_synth.controllerStart[k]);
    SDL_LockMutex(g_synth.lock);
    g_synth.synth = synth;
    markDrumChannels();
    SDL_UnlockMutex(g_synth.lock);
    return true;
}

bool startSynth(const std::string& soundFonts, std::string& reason) {
    if (g_synth.lock) return true;
    int rate = 44100, channels = 2;
    Uint16 format = AUDIO_S16SYS;
    if (Mix_QuerySpec(&rate, &format, &channels) == 0 || format != AUDIO_S16SYS) {
        reason = "the mixer is not open for 16-bit output";
        return false;
    }
    g_synth.rate = rate;
    g_synth.channels = channels;
    g_synth.fonts = soundFonts;
    // The sound fonts are tried here, on the renderer's synthesiser, so that the player is told
    // at start-up when there is no music.
    g_synth.renderSettings = newSynthSettings(rate);
    if (!g_synth.renderSettings) {
        reason = "no memory for the synthesiser";
        return false;
    }
    fluid_settings_setint(g_synth.renderSettings, "synth.midi-channels", kBankChannels);
    g_synth.renderSynth = new_fluid_synth(g_synth.renderSettings);
    if (!g_synth.renderSynth) {
        reason = "the synthesiser cannot be made";
        stopSynth();
        return false;
    }
    if (!loadSoundFonts(g_synth.renderSynth, soundFonts, reason)) {
        stopSynth();
        return false;
    }
    g_synth.trialSettings = newSynthSettings(rate);
    if (g_synth.trialSettings) {
        fluid_settings_setint(g_synth.trialSettings, "synth.polyphony", 1);
        fluid_settings_setint(g_synth.trialSettings, "synth.midi-channels", 16);
        fluid_settings_setint(g_synth.trialSettings, "synth.reverb.active", 0);
        fluid_settings_setint(g_synth.trialSettings, "synth.chorus.active", 0);
        g_synth.trialSynth = new_fluid_synth(g_synth.trialSettings);
    }
    if (!g_synth.trialSynth) {
        reason = "the synthesiser cannot be made";
        stopSynth();
        return false;
    }
    for (int p = 0; p < kPieces; ++p)
        g_synth.pieces[p].firstChannel = p * kBankChannels;
    g_synth.lock = SDL_CreateMutex();
    g_renderer.quit = false;
    g_renderer.thread = std::thread(renderJobs);
    return true;
}

void stopSynth() {
    stopRenderer();
    if (g_synth.lock) {
        // The mixer's hook (sound.cpp) has been taken away: the audio thread is out of it.
        dropEveryPlayer();
        SDL_DestroyMutex(g_synth.lock);
    }
    if (g_synth.synth) delete_fluid_synth(g_synth.synth);
    if (g_synth.settings) delete_fluid_settings(g_synth.settings);
    if (g_synth.trialSynth) delete_fluid_synth(g_synth.trialSynth);
    if (g_synth.trialSettings) delete_fluid_settings(g_synth.trialSettings);
    g_synth = Synth{};
}

bool synthReady() {
    return g_synth.lock != nullptr;
}

bool midiPlayable(std::span<const std::uint8_t> midi, std::string& reason) {
    const std::optional<std::vector<std::uint8_t>> playable = playableMidi(midi, reason);
    if (!playable) return false;
    if (!synthReady()) return true; // the caller tells of the missing synthesiser
    std::string said;
    if (trialPlays(*playable, said)) return true;
    reason = "the synthesiser cannot play the file" + (said.empty() ? "" : " (" + said + ")");
    return false;
}

void prepareMidi(std::span<const std::uint8_t> midi, bool forSlot) {
    if (!synthReady()) return;
    if (const std::shared_ptr<Rendering> known = findRendering(midi)) {
        known->holders += forSlot ? 1 : 0;
        return;
    }
    std::string reason;
    const std::optional<double> seconds = midiSeconds(midi, reason);
    std::optional<std::vector<std::uint8_t>> playable = playableMidi(midi, reason);
    if (!seconds || !playable) return;
    double held = 0;
    for (const std::shared_ptr<Rendering>& r : g_synth.renderings)
        held += static_cast<double>(r->passFrames) / g_synth.rate;
    if (*seconds > kMaxRenderedSeconds || held + *seconds > kMaxRenderingsSeconds) return;
    auto rendering = std::make_shared<Rendering>();
    rendering->key = renderedMidiName(midi);
    rendering->midi = std::move(*playable);
    rendering->passFrames = std::max(1L, std::lround(*seconds * g_synth.rate));
    rendering->seamFrames = g_synth.rate / 10;
    rendering->holders = forSlot ? 1 : 0;
    // Reserved, never written before it is rendered: pages cost nothing until then. A byte a
    // frame is some 350 kbit/s, far more than the coder gives at this quality; a packet is at
    // least 128 frames.
    rendering->packetRoom = static_cast<std::size_t>(rendering->passFrames);
    rendering->packetSlots = static_cast<int>(rendering->passFrames / 128 + 64);
    rendering->packetBytes.reset(new (std::nothrow) std::uint8_t[rendering->packetRoom]);
    rendering->packets.reset(new (std::nothrow) PacketPlace[rendering->packetSlots]);
    rendering->tail.reset(new (std::nothrow) std::int16_t[rendering->seamFrames * 2]());
    if (!rendering->packetBytes || !rendering->packets || !rendering->tail) return;
    g_synth.renderings.push_back(rendering);
    std::lock_guard<std::mutex> lock(g_renderer.lock);
    g_renderer.jobs.push_back(std::move(rendering));
    g_renderer.wake.notify_one();
}

void forgetMidi(std::span<const std::uint8_t> midi) {
    const std::shared_ptr<Rendering> rendering = findRendering(midi);
    if (!rendering || --rendering->holders > 0) return;
    std::erase(g_synth.renderings, rendering);
    // A piece that plays it keeps it; the render thread need not finish it for nobody.
    std::lock_guard<std::mutex> lock(g_renderer.lock);
    std::erase(g_renderer.jobs, rendering);
    if (g_renderer.current == rendering && !rendering->wanted)
        rendering->abandon.store(Rendering::Drop);
}

namespace {
// Starts the file on the place: its rendering when it has one, else on the synthesiser.
bool startOn(Piece& place, std::span<const std::uint8_t> midi,
             std::span<const std::uint8_t> playable) {
    std::shared_ptr<Rendering> rendering = findRendering(midi);
    if (rendering && rendering->failed.load()) rendering.reset();
    if (rendering) wantRendering(rendering);
    if (!rendering && !startLiveSynth()) return false;
    SDL_LockMutex(g_synth.lock);
    bool ok = true;
    if (rendering) {
        dropPlayer(place);
        place.rendering = std::move(rendering);
        place.looped = false;
        place.started = ++g_synth.starts;
    } else {
        ok = g_synth.synth && startPiece(place, playable);
    }
    SDL_UnlockMutex(g_synth.lock);
    return ok;
}
} // namespace

bool playMidi(std::span<const std::uint8_t> midi, std::string& reason) {
    if (!synthReady()) {
        reason = "no synthesiser";
        return false;
    }
    // Prepared before the lock is taken: the audio thread never waits on a copy.
    const std::optional<std::vector<std::uint8_t>> playable = playableMidi(midi, reason);
    if (!playable) return false;
    const bool ok = startOn(g_synth.pieces[0], midi, *playable);
    if (!ok) reason = "the synthesiser cannot play the file";
    return ok;
}

bool playMidiOverPrimary(std::span<const std::uint8_t> midi, std::string& reason) {
    if (!synthReady()) {
        reason = "no synthesiser";
        return false;
    }
    const std::optional<std::vector<std::uint8_t>> playable = playableMidi(midi, reason);
    if (!playable) return false;
    // A free place, or else the piece that has played longest gives way.
    Piece* place = nullptr;
    for (int p = 1; p < kPieces; ++p) {
        Piece& piece = g_synth.pieces[p];
        if (!piecePlaying(piece)) {
            place = &piece;
            break;
        }
        if (!place || piece.started < place->started) place = &piece;
    }
    const bool ok = startOn(*place, midi, *playable);
    if (!ok) reason = "the synthesiser cannot play the file";
    return ok;
}

void haltMidi() {
    if (!synthReady()) return;
    SDL_LockMutex(g_synth.lock);
    dropPlayer(g_synth.pieces[0]);
    SDL_UnlockMutex(g_synth.lock);
}

void haltAllMidi() {
    if (!synthReady()) return;
    SDL_LockMutex(g_synth.lock);
    dropEveryPlayer();
    SDL_UnlockMutex(g_synth.lock);
}

// The players are the main thread's to change and their status is read atomically: asking
// never takes the lock.
bool midiPlaying() {
    return synthReady() && piecePlaying(g_synth.pieces[0]);
}

void setMidiVolume(int percent) {
    if (!synthReady()) return;
    SDL_LockMutex(g_synth.lock);
    g_synth.volume = std::clamp(percent, 0, 100);
    if (g_synth.synth)
        fluid_synth_set_gain(g_synth.synth, static_cast<float>(g_synth.volume) / 100.0f);
    SDL_UnlockMutex(g_synth.lock);
}

int midiPlayingOverPrimary() {
    if (!synthReady()) return 0;
    return static_cast<int>(
        std::count_if(g_synth.pieces.begin() + 1, g_synth.pieces.end(), piecePlaying));
}

int midiRenderingsPending() {
    return static_cast<int>(std::count_if(g_synth.renderings.begin(), g_synth.renderings.end(),
                                          [](const auto& r) { return !r->done && !r->failed; }));
}

std::uint64_t midiFramesSynthesised() {
    return g_synthesised.load();
}
