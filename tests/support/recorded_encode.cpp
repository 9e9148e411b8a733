#include "support/recorded_encode.h"

#include "base/library_allocations.h"

#include <FLAC/stream_encoder.h>
#include <ogg/ogg.h>
#include <opus.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <string_view>

namespace {
void putPage(std::vector<std::uint8_t>& out, const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

void putLittle(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::int16_t toSample(float v) {
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
}
} // namespace

std::vector<float> testTone(double seconds, double frequency, double level, int channels,
                            int rate) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> out(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(
            level * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate));
        for (int c = 0; c < channels; ++c)
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v;
    }
    return out;
}

std::vector<std::uint8_t> encodeTestVorbis(std::span<const float> interleaved, int channels,
                                           int rate) {
    vorbis_info info;
    vorbis_info_init(&info);
    int refused = 0;
    {
        // libvorbisenc keeps a block of its set-up for more than two channels for good.
        const LibraryAllocations setUp;
        refused = vorbis_encode_init_vbr(&info, channels, rate, 0.6f);
    }
    if (refused != 0) {
        // What the refused set-up had made is the info's to free.
        vorbis_info_clear(&info);
        throw std::runtime_error("vorbis_encode_init_vbr refused the format");
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block block;
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 1);
    std::vector<std::uint8_t> out;
    ogg_packet header, commentHeader, codeHeader;
    vorbis_analysis_headerout(&dsp, &comment, &header, &commentHeader, &codeHeader);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &commentHeader);
    ogg_stream_packetin(&stream, &codeHeader);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page))
        putPage(out, page);

    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    std::size_t at = 0;
    bool ended = false;
    while (!ended) {
        const std::size_t take = std::min<std::size_t>(1024, frames - at);
        if (take == 0) {
            vorbis_analysis_wrote(&dsp, 0);
        } else {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(take));
            for (std::size_t i = 0; i < take; ++i)
                for (int c = 0; c < channels; ++c)
                    buffer[c][i] = interleaved[(at + i) * static_cast<std::size_t>(channels) +
                                               static_cast<std::size_t>(c)];
            vorbis_analysis_wrote(&dsp, static_cast<int>(take));
            at += take;
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page))
                    putPage(out, page);
                if (packet.e_o_s) ended = true;
            }
        }
    }
    while (ogg_stream_flush(&stream, &page))
        putPage(out, page);
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

std::vector<std::uint8_t> encodeTestOpus(std::span<const float> interleaved, int channels,
                                         int rate) {
    int error = 0;
    OpusEncoder* encoder = opus_encoder_create(rate, channels, OPUS_APPLICATION_AUDIO, &error);
    if (!encoder) throw std::runtime_error("opus_encoder_create refused the format");
    opus_int32 lookahead = 0;
    opus_encoder_ctl(encoder, OPUS_GET_LOOKAHEAD(&lookahead));
    const int to48k = 48000 / rate;
    const auto preSkip = static_cast<std::uint32_t>(lookahead * to48k);

    ogg_stream_state stream;
    ogg_stream_init(&stream, 7);
    std::vector<std::uint8_t> out;
    ogg_page page;
    const auto flush = [&] {
        while (ogg_stream_flush(&stream, &page))
            putPage(out, page);
    };
    std::vector<std::uint8_t> head = {'O', 'p', 'u', 's', 'H',
                                      'e', 'a', 'd', 1,   static_cast<std::uint8_t>(channels)};
    putLittle(head, preSkip, 2);
    putLittle(head, static_cast<std::uint32_t>(rate), 4);
    putLittle(head, 0, 2); // output gain
    head.push_back(0);     // mapping family 0: mono or stereo
    ogg_packet packet{};
    packet.packet = head.data();
    packet.bytes = static_cast<long>(head.size());
    packet.b_o_s = 1;
    ogg_stream_packetin(&stream, &packet);
    flush();
    constexpr std::string_view vendor = "test";
    std::vector<std::uint8_t> tags = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's'};
    putLittle(tags, static_cast<std::uint32_t>(vendor.size()), 4);
    tags.insert(tags.end(), vendor.begin(), vendor.end());
    putLittle(tags, 0, 4);
    packet = {};
    packet.packet = tags.data();
    packet.bytes = static_cast<long>(tags.size());
    packet.packetno = 1;
    ogg_stream_packetin(&stream, &packet);
    flush();

    // 20 ms packets; the last one padded with silence and trimmed by its granule, which like
    // every granule counts the pre-skip.
    const std::size_t frameSize = static_cast<std::size_t>(rate) / 50;
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    // The encoder's look-ahead delays its output: enough packets to hold it past the end.
    const std::size_t delayed = frames + static_cast<std::size_t>(lookahead);
    const std::size_t packets = std::max<std::size_t>(1, (delayed + frameSize - 1) / frameSize);
    std::vector<float> input(frameSize * static_cast<std::size_t>(channels));
    std::vector<unsigned char> coded(4000);
    for (std::size_t p = 0; p < packets; ++p) {
        std::fill(input.begin(), input.end(), 0.0f);
        const std::size_t from = p * frameSize * static_cast<std::size_t>(channels);
        const std::size_t count =
            std::min(input.size(), interleaved.size() - std::min(from, interleaved.size()));
        std::copy_n(interleaved.begin() + static_cast<long>(from), count, input.begin());
        const opus_int32 bytes =
            opus_encode_float(encoder, input.data(), static_cast<int>(frameSize), coded.data(),
                              static_cast<opus_int32>(coded.size()));
        if (bytes < 0) throw std::runtime_error("opus_encode_float failed");
        const bool last = p + 1 == packets;
        packet = {};
        packet.packet = coded.data();
        packet.bytes = bytes;
        packet.e_o_s = last ? 1 : 0;
        packet.packetno = static_cast<ogg_int64_t>(p + 2);
        packet.granulepos =
            static_cast<ogg_int64_t>(last ? preSkip + frames * static_cast<std::size_t>(to48k)
                                          : (p + 1) * frameSize * static_cast<std::size_t>(to48k));
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page))
            putPage(out, page);
    }
    flush();
    ogg_stream_clear(&stream);
    opus_encoder_destroy(encoder);
    return out;
}

namespace {
FLAC__StreamEncoderWriteStatus flacWrite(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                         std::size_t bytes, unsigned, unsigned, void* data) {
    auto& out = *static_cast<std::vector<std::uint8_t>*>(data);
    out.insert(out.end(), buffer, buffer + bytes);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}
} // namespace

std::vector<std::uint8_t> encodeTestFlac(std::span<const float> interleaved, int channels, int rate,
                                         bool tellLength) {
    FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    FLAC__stream_encoder_set_channels(encoder, static_cast<unsigned>(channels));
    FLAC__stream_encoder_set_bits_per_sample(encoder, 16);
    FLAC__stream_encoder_set_sample_rate(encoder, static_cast<unsigned>(rate));
    FLAC__stream_encoder_set_compression_level(encoder, 5);
    // Without a seek callback the encoder cannot go back to the header: the estimate stays.
    FLAC__stream_encoder_set_total_samples_estimate(encoder, tellLength ? frames : 0);
    std::vector<std::uint8_t> out;
    if (FLAC__stream_encoder_init_stream(encoder, flacWrite, nullptr, nullptr, nullptr, &out) !=
        FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        throw std::runtime_error("the FLAC encoder refused the format");
    std::vector<FLAC__int32> block(4096 * static_cast<std::size_t>(channels));
    for (std::size_t at = 0; at < frames;) {
        const std::size_t take = std::min<std::size_t>(4096, frames - at);
        for (std::size_t i = 0; i < take * static_cast<std::size_t>(channels); ++i)
            block[i] = toSample(interleaved[at * static_cast<std::size_t>(channels) + i]);
        FLAC__stream_encoder_process_interleaved(encoder, block.data(),
                                                 static_cast<unsigned>(take));
        at += take;
    }
    FLAC__stream_encoder_finish(encoder);
    FLAC__stream_encoder_delete(encoder);
    return out;
}

void resealOggPage(std::vector<std::uint8_t>& bytes, std::size_t page) {
    if (page + 27 > bytes.size()) return;
    std::size_t end = page + 27 + bytes[page + 26];
    for (std::size_t s = 0; s < bytes[page + 26] && page + 27 + s < bytes.size(); ++s)
        end += bytes[page + 27 + s];
    end = std::min(end, bytes.size());
    std::fill_n(bytes.begin() + static_cast<long>(page) + 22, 4, 0);
    std::uint32_t crc = 0;
    for (std::size_t i = page; i < end; ++i) {
        crc ^= static_cast<std::uint32_t>(bytes[i]) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    for (int i = 0; i < 4; ++i)
        bytes[page + 22 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
}

std::size_t lastOggPage(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t at = bytes.size() >= 4 ? bytes.size() - 4 : 0; at > 0; --at)
        if (std::memcmp(bytes.data() + at, "OggS", 4) == 0) return at;
    return 0;
}
