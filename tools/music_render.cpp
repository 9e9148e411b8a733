#include "tools/music_render.h"

#include "sound/midi_check.h"
#include "sound/midi_synth_setup.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::size_t kChunkHead = 8;
constexpr std::uint32_t kDefaultTempo = 500000; // microseconds a quarter note, until one is set
// The synthesiser renders in blocks of this many frames; its player moves on between them.
constexpr int kSynthBlock = 64;
// Any fixed number: each rendering is a stream of its own, and a random one would make the same
// piece give different bytes.
constexpr int kOggSerial = 0x4d494449;

std::uint32_t readBig(std::span<const std::uint8_t> b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int k = 0; k < size; ++k)
        v = (v << 8) | b[at + k];
    return v;
}

struct TempoChange {
    std::uint64_t tick;
    std::uint32_t microsPerQuarter;
};

// Reads a variable-length quantity at `at`, within [at, end). False when it runs past the end or
// over the four bytes the format allows.
bool readVarLen(std::span<const std::uint8_t> b, std::size_t& at, std::size_t end,
                std::uint32_t& value) {
    value = 0;
    for (int k = 0; k < 4; ++k) {
        if (at >= end) return false;
        const std::uint8_t byte = b[at++];
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) return true;
    }
    return false;
}

// Walks one track chunk's events in [at, end): its tempo changes, and the tick where it ends
// (its end-of-track event, or its last event). Empty when it reads through; else the reason.
std::string readTrack(std::span<const std::uint8_t> b, std::size_t at, std::size_t end,
                      std::vector<TempoChange>& tempos, std::uint64_t& endTick) {
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    while (at < end) {
        std::uint32_t delta = 0;
        if (!readVarLen(b, at, end, delta)) return "a MIDI event's time runs past its track";
        tick += delta;
        if (at >= end) return "a MIDI track ends inside an event";
        std::uint8_t status = b[at];
        if (status & 0x80) {
            ++at;
        } else if (running) {
            status = running;
        } else {
            return "a MIDI event has no status";
        }
        std::uint32_t length = 0;
        if (status < 0xF0) {
            running = status;
            const std::uint8_t kind = status & 0xF0;
            length = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        } else if (status == 0xF0 || status == 0xF7) {
            running = 0;
            if (!readVarLen(b, at, end, length)) return "a MIDI system message runs past its track";
        } else if (status == 0xFF) {
            running = 0;
            if (at >= end) return "a MIDI meta event runs past its track";
            const std::uint8_t type = b[at++];
            if (!readVarLen(b, at, end, length)) return "a MIDI meta event runs past its track";
            if (length <= end - at && type == 0x2F) {
                endTick = tick;
                return {};
            }
            if (length <= end - at && type == 0x51 && length >= 3)
                tempos.push_back({tick, readBig(b, at, 3)});
        } else {
            return "a MIDI track holds an unknown event";
        }
        if (length > end - at) return "a MIDI event runs past its track";
        at += length;
    }
    endTick = tick;
    return {};
}

// Frees what synthesiseMidi made, whichever step it stopped at.
struct Synthesiser {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_player_t* player = nullptr;

    ~Synthesiser() {
        if (player) delete_fluid_player(player);
        if (synth) delete_fluid_synth(synth);
        if (settings) delete_fluid_settings(settings);
    }
};

// The encoder's state, cleared whichever step it stopped at.
struct Encoder {
    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    ogg_stream_state stream;
    bool analysing = false;
    std::vector<std::uint8_t> out;

    Encoder() {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~Encoder() {
        if (analysing) {
            ogg_stream_clear(&stream);
            vorbis_block_clear(&block);
            vorbis_dsp_clear(&dsp);
        }
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }

    void append(const ogg_page& page) {
        out.insert(out.end(), page.header, page.header + page.header_len);
        out.insert(out.end(), page.body, page.body + page.body_len);
    }
    // Encodes what the analysis holds and writes the pages that are full (all of them at the
    // end of the stream).
    void drain() {
        ogg_packet packet;
        ogg_page page;
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page))
                    append(page);
            }
        }
    }
};

} // namespace

std::optional<double> midiSeconds(std::span<const std::uint8_t> midi, std::string& reason) {
    if (std::string_view problem = standardMidiProblem(midi); !problem.empty()) {
        reason = problem;
        return std::nullopt;
    }
    // The layout is checked: the header and as many track chunks as it names are inside.
    const std::uint32_t headerLength = readBig(midi, 4, 4);
    const std::uint32_t trackCount = readBig(midi, 10, 2);
    const std::uint32_t division = readBig(midi, 12, 2);
    std::vector<TempoChange> tempos;
    std::uint64_t endTick = 0;
    std::size_t at = kChunkHead + headerLength;
    for (std::uint32_t track = 0; track < trackCount; at += kChunkHead + readBig(midi, at + 4, 4)) {
        if (std::memcmp(midi.data() + at, "MTrk", 4) != 0) continue;
        const std::size_t body = at + kChunkHead;
        std::uint64_t trackEnd = 0;
        std::string problem =
            readTrack(midi, body, body + readBig(midi, at + 4, 4), tempos, trackEnd);
        if (!problem.empty()) {
            reason = problem + " (track " + std::to_string(track + 1) + ")";
            return std::nullopt;
        }
        endTick = std::max(endTick, trackEnd);
        ++track;
    }
    if (division & 0x8000) {
        // Time code: frames a second (the high byte, negative) and ticks a frame.
        const int framesPerSecond = -static_cast<std::int8_t>(division >> 8);
        const int ticksPerFrame = division & 0xFF;
        if (framesPerSecond <= 0 || ticksPerFrame == 0) {
            reason = "the MIDI header gives a time code the synthesiser cannot time";
            return std::nullopt;
        }
        return static_cast<double>(endTick) / (framesPerSecond * ticksPerFrame);
    }
    // A tempo change in any track holds from its tick on, for every track.
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    double micros = 0;
    std::uint64_t tick = 0;
    std::uint32_t tempo = kDefaultTempo;
    for (const TempoChange& change : tempos) {
        if (change.tick >= endTick) break;
        micros += static_cast<double>(change.tick - tick) * tempo / division;
        tick = change.tick;
        tempo = change.microsPerQuarter;
    }
    micros += static_cast<double>(endTick - tick) * tempo / division;
    return micros / 1e6;
}

std::optional<RenderedPiece> synthesiseMidi(std::span<const std::uint8_t> midi,
                                            const std::string& soundFonts, std::string& reason) {
    const std::optional<double> seconds = midiSeconds(midi, reason);
    if (!seconds) return std::nullopt;
    if (*seconds > kMaxRenderSeconds) {
        reason = "the piece lasts " + std::to_string(std::lround(*seconds)) +
                 " seconds, more than the " + std::to_string(std::lround(kMaxRenderSeconds)) +
                 " a rendering may";
        return std::nullopt;
    }
    const long passFrames = std::lround(*seconds * kRenderRate);
    if (passFrames <= 0) {
        reason = "the piece ends where it starts";
        return std::nullopt;
    }

    Synthesiser s;
    s.settings = newSynthSettings(kRenderRate);
    s.synth = s.settings ? new_fluid_synth(s.settings) : nullptr;
    if (!s.synth) {
        reason = "the synthesiser cannot be made";
        return std::nullopt;
    }
    if (!loadSoundFonts(s.synth, soundFonts, reason)) return std::nullopt;
    s.player = new_fluid_player(s.synth);
    if (!s.player || fluid_player_add_mem(s.player, midi.data(), midi.size()) != FLUID_OK ||
        fluid_player_play(s.player) != FLUID_OK) {
        reason = "the synthesiser cannot play the file";
        return std::nullopt;
    }

    // One pass ends at the end of the piece's last track: there the engine's player, which
    // loops, starts it over (within a block), and what still rings is cut off. Played once, the
    // player would go on until the last notes have faded, seconds later; its end only counts
    // when it comes first.
    RenderedPiece piece;
    piece.samples.resize(static_cast<std::size_t>(passFrames + kSynthBlock) * kRenderChannels);
    long frames = 0;
    while (frames < passFrames &&
           (frames == 0 || fluid_player_get_status(s.player) == FLUID_PLAYER_PLAYING)) {
        float* at = piece.samples.data() + static_cast<std::ptrdiff_t>(frames) * kRenderChannels;
        fluid_synth_write_float(s.synth, kSynthBlock, at, 0, 2, at, 1, 2);
        frames += kSynthBlock;
    }
    piece.samples.resize(static_cast<std::size_t>(std::min(frames, passFrames)) * kRenderChannels);
    return piece;
}

std::optional<std::vector<std::uint8_t>> encodeOggVorbis(const RenderedPiece& piece, float quality,
                                                         std::string& reason) {
    Encoder e;
    if (vorbis_encode_init_vbr(&e.info, kRenderChannels, kRenderRate, quality) != 0) {
        reason = "the Vorbis encoder refuses quality " + std::to_string(quality);
        return std::nullopt;
    }
    vorbis_analysis_init(&e.dsp, &e.info);
    vorbis_block_init(&e.dsp, &e.block);
    ogg_stream_init(&e.stream, kOggSerial);
    e.analysing = true;

    ogg_packet identification, comments, codebooks;
    vorbis_analysis_headerout(&e.dsp, &e.comment, &identification, &comments, &codebooks);
    ogg_stream_packetin(&e.stream, &identification);
    ogg_stream_packetin(&e.stream, &comments);
    ogg_stream_packetin(&e.stream, &codebooks);
    // The headers on pages of their own, before the first audio, as decoders expect.
    ogg_page page;
    while (ogg_stream_flush(&e.stream, &page))
        e.append(page);

    constexpr long kStep = 4096;
    const float* samples = piece.samples.data();
    for (long from = 0; from < piece.frames(); from += kStep) {
        const long count = std::min(kStep, piece.frames() - from);
        float** buffer = vorbis_analysis_buffer(&e.dsp, static_cast<int>(count));
        for (long f = 0; f < count; ++f)
            for (int c = 0; c < kRenderChannels; ++c)
                buffer[c][f] = samples[(from + f) * kRenderChannels + c];
        vorbis_analysis_wrote(&e.dsp, static_cast<int>(count));
        e.drain();
    }
    vorbis_analysis_wrote(&e.dsp, 0); // the end of the stream
    e.drain();
    while (ogg_stream_flush(&e.stream, &page))
        e.append(page);
    return std::move(e.out);
}

std::optional<std::vector<std::uint8_t>>
renderMidi(std::span<const std::uint8_t> midi, const std::string& soundFonts, std::string& reason) {
    const std::optional<RenderedPiece> piece = synthesiseMidi(midi, soundFonts, reason);
    if (!piece) return std::nullopt;
    return encodeOggVorbis(*piece, kRenderQuality, reason);
}
