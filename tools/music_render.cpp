#include "tools/music_render.h"

#include "sound/midi_check.h"
#include "sound/midi_synth.h"
#include "sound/midi_synth_setup.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The synthesiser renders in blocks of this many frames; its player moves on between them.
constexpr int kSynthBlock = 64;
// Any fixed number: each rendering is a stream of its own, and a random one would make the same
// piece give different bytes.
constexpr int kOggSerial = 0x4d494449;

// Frees what synthesiseMidi made, whichever step it stopped at.
struct Synthesiser {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;

    ~Synthesiser() {
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
    // Checked again as the engine checks it: a piece that lasts no time, and given as the engine
    // gives it, its time code turned to beats.
    const std::optional<std::vector<std::uint8_t>> playable = playableMidi(midi, reason);
    if (!playable) return std::nullopt;
    const long passFrames = std::lround(*seconds * kRenderRate);

    Synthesiser s;
    s.settings = newSynthSettings(kRenderRate);
    s.synth = s.settings ? new_fluid_synth(s.settings) : nullptr;
    if (!s.synth) {
        reason = "the synthesiser cannot be made";
        return std::nullopt;
    }
    if (!loadSoundFonts(s.synth, soundFonts, reason)) return std::nullopt;
    RenderedPiece piece;
    piece.samples.resize(static_cast<std::size_t>(passFrames) * kRenderChannels);
    const std::optional<long> frames = renderPass(
        s.synth, *playable, passFrames, kSynthBlock, true,
        [&](long at, int count) {
            float* to = piece.samples.data() + static_cast<std::ptrdiff_t>(at) * kRenderChannels;
            fluid_synth_write_float(s.synth, count, to, 0, 2, to, 1, 2);
            return true;
        },
        reason);
    if (!frames) return std::nullopt;
    piece.samples.resize(static_cast<std::size_t>(*frames) * kRenderChannels);
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
