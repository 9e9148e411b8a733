#include "sound/recorded.h"

#include <FLAC/stream_decoder.h>
#include <opusfile.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

namespace {

// Reads in a row that give no sound (holes in an Ogg stream, FLAC metadata blocks) before a
// read gives up on the stream: each one moves on through the file, but a stream made of
// nothing else is damaged.
constexpr int kMaxSilentSteps = 64;

// The largest FLAC block a frame may hold (the format's own limit).
constexpr unsigned kMaxFlacBlock = 65535;

// Where each channel of a WAV file's order is found in the Vorbis order, which Opus streams
// of mapping family 1 share, by channel count. One and two channels are the same in both.
constexpr std::array<std::array<int, 8>, 9> kFromVorbisOrder = {{
    {},
    {0},
    {0, 1},
    {0, 2, 1},
    {0, 1, 2, 3},
    {0, 2, 1, 3, 4},
    {0, 2, 1, 5, 3, 4},
    {0, 2, 1, 6, 5, 3, 4},
    {0, 2, 1, 7, 5, 6, 3, 4},
}};

struct MemoryInput {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
};

std::size_t readMemory(MemoryInput& in, void* to, std::size_t wanted) {
    const std::size_t n = in.at < in.bytes.size() ? std::min(wanted, in.bytes.size() - in.at) : 0;
    if (n) std::memcpy(to, in.bytes.data() + in.at, n);
    in.at += n;
    return n;
}

// Moves to `offset` from the start (whence 0), the position (1) or the end (2). As with a file,
// a place past the end may be sought (reads there give nothing); one before the start may not.
bool seekMemory(MemoryInput& in, std::int64_t offset, int whence) {
    // Within what a position holds, also where it has 32 bits (the browser's).
    constexpr std::int64_t kFar = static_cast<std::int64_t>(std::min<std::uint64_t>(
        std::numeric_limits<std::size_t>::max() / 2, std::uint64_t{1} << 62));
    const std::int64_t size = static_cast<std::int64_t>(in.bytes.size());
    const std::int64_t base = whence == SEEK_SET   ? 0
                              : whence == SEEK_CUR ? static_cast<std::int64_t>(in.at)
                              : whence == SEEK_END ? size
                                                   : -1;
    if (base < 0 || offset < -base || offset > kFar - base) return false;
    in.at = static_cast<std::size_t>(base + offset);
    return true;
}

// Vorbis through libvorbisfile's callbacks.
std::size_t vorbisRead(void* to, std::size_t size, std::size_t count, void* source) {
    if (size == 0) return 0;
    return readMemory(*static_cast<MemoryInput*>(source), to, size * count) / size;
}
int vorbisSeek(void* source, ogg_int64_t offset, int whence) {
    return seekMemory(*static_cast<MemoryInput*>(source), offset, whence) ? 0 : -1;
}
long vorbisTell(void* source) {
    return static_cast<long>(static_cast<MemoryInput*>(source)->at);
}

std::string vorbisError(int code) {
    switch (code) {
    case OV_ENOTVORBIS:
        return "the Ogg stream holds no Vorbis sound";
    case OV_EVERSION:
        return "the Vorbis stream is of a version this engine does not read";
    case OV_EBADHEADER:
        return "the Vorbis stream's headers are damaged";
    case OV_EREAD:
        return "the Vorbis stream could not be read";
    default:
        return "the Vorbis stream is damaged (error " + std::to_string(code) + ")";
    }
}

std::string opusError(int code) {
    switch (code) {
    case OP_ENOTFORMAT:
        return "the Ogg stream holds no Opus sound";
    case OP_EVERSION:
        return "the Opus stream is of a version this engine does not read";
    case OP_EBADHEADER:
        return "the Opus stream's headers are damaged";
    case OP_EIMPL:
        return "the Opus stream uses a feature this engine does not read";
    default:
        return "the Opus stream is damaged (error " + std::to_string(code) + ")";
    }
}

} // namespace

struct RecordedDecoder {
    RecordedFormat format = RecordedFormat::Vorbis;
    MemoryInput input;
    int rate = 0;
    int channels = 0;
    std::optional<std::uint64_t> frames;
    bool failed = false; // a read found the stream damaged; it stays at its end
    bool ended = false;

    bool vorbisOpen = false;
    OggVorbis_File vorbis{};
    int vorbisLink = 0;

    OggOpusFile* opus = nullptr;
    bool opusVorbisOrder = false;
    std::vector<float> opusBlock; // one read's samples before they are put in order

    FLAC__StreamDecoder* flac = nullptr;
    bool flacHaveInfo = false;
    unsigned flacMaxBlock = 0;
    std::string flacProblem;    // set by the decoder's callbacks
    std::vector<float> pending; // the last FLAC frame, interleaved
    std::size_t pendingAt = 0;  // samples of it already given out
};

namespace {

FLAC__StreamDecoderReadStatus flacRead(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                       std::size_t* bytes, void* data) {
    auto& d = *static_cast<RecordedDecoder*>(data);
    if (*bytes == 0) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    *bytes = readMemory(d.input, buffer, *bytes);
    return *bytes ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE
                  : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}
FLAC__StreamDecoderSeekStatus flacSeek(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                       void* data) {
    auto& d = *static_cast<RecordedDecoder*>(data);
    if (offset > d.input.bytes.size()) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    d.input.at = static_cast<std::size_t>(offset);
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}
FLAC__StreamDecoderTellStatus flacTell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                       void* data) {
    *offset = static_cast<RecordedDecoder*>(data)->input.at;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}
FLAC__StreamDecoderLengthStatus flacLength(const FLAC__StreamDecoder*, FLAC__uint64* length,
                                           void* data) {
    *length = static_cast<RecordedDecoder*>(data)->input.bytes.size();
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}
FLAC__bool flacEof(const FLAC__StreamDecoder*, void* data) {
    const auto& d = *static_cast<RecordedDecoder*>(data);
    return d.input.at >= d.input.bytes.size();
}

FLAC__StreamDecoderWriteStatus flacWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const buffer[], void* data) {
    auto& d = *static_cast<RecordedDecoder*>(data);
    const FLAC__FrameHeader& h = frame->header;
    // Every frame must match the stream's header: the buffer was sized for it, and the
    // caller reads one rate and one channel count.
    if (!d.flacHaveInfo || static_cast<int>(h.channels) != d.channels ||
        static_cast<int>(h.sample_rate) != d.rate || h.blocksize > d.flacMaxBlock ||
        h.bits_per_sample < 4 || h.bits_per_sample > 32) {
        d.flacProblem = "a FLAC frame does not match the stream's header (its channels, rate "
                        "or block size differ)";
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const float scale = 1.0f / static_cast<float>(std::uint64_t{1} << (h.bits_per_sample - 1));
    d.pending.resize(std::size_t{h.blocksize} * h.channels); // within the reserved room
    for (unsigned i = 0; i < h.blocksize; ++i)
        for (unsigned c = 0; c < h.channels; ++c)
            d.pending[std::size_t{i} * h.channels + c] = static_cast<float>(buffer[c][i]) * scale;
    d.pendingAt = 0;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void flacMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* data) {
    auto& d = *static_cast<RecordedDecoder*>(data);
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO || d.flacHaveInfo) return;
    const FLAC__StreamMetadata_StreamInfo& info = metadata->data.stream_info;
    d.rate = static_cast<int>(std::min<unsigned>(info.sample_rate, 1u << 30));
    d.channels = static_cast<int>(info.channels);
    if (info.total_samples) d.frames = info.total_samples;
    d.flacMaxBlock = info.max_blocksize >= 16 ? info.max_blocksize : kMaxFlacBlock;
    d.flacHaveInfo = true;
}

void flacError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data) {
    auto& d = *static_cast<RecordedDecoder*>(data);
    // Bytes that are no frame (a tag some tools append) are skipped, as a hole in an Ogg
    // stream is: the search moves on through the file and ends at its end.
    if (status == FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC) return;
    if (d.flacProblem.empty())
        d.flacProblem = std::string("the FLAC stream is damaged (") +
                        FLAC__StreamDecoderErrorStatusString[status] + ")";
}

std::string checkShape(const RecordedDecoder& d) {
    if (d.rate < kMinRecordedRate || d.rate > kMaxRecordedRate)
        return "the sound's rate of " + std::to_string(d.rate) + " Hz is outside the " +
               std::to_string(kMinRecordedRate) + " to " + std::to_string(kMaxRecordedRate) +
               " Hz this engine plays";
    if (d.channels < 1 || d.channels > kMaxRecordedChannels)
        return "the sound has " + std::to_string(d.channels) +
               " channels; this engine plays 1 to " + std::to_string(kMaxRecordedChannels);
    return {};
}

bool openVorbis(RecordedDecoder& d, std::string& reason) {
    const ov_callbacks callbacks = {vorbisRead, vorbisSeek, nullptr, vorbisTell};
    if (const int code = ov_open_callbacks(&d.input, &d.vorbis, nullptr, 0, callbacks); code) {
        reason = vorbisError(code);
        return false;
    }
    d.vorbisOpen = true;
    const vorbis_info* info = ov_info(&d.vorbis, 0);
    if (!info) {
        reason = "the Vorbis stream's headers are damaged";
        return false;
    }
    d.rate = static_cast<int>(std::clamp<long>(info->rate, 0, 1L << 30));
    d.channels = info->channels;
    if (const ogg_int64_t total = ov_pcm_total(&d.vorbis, -1); total > 0)
        d.frames = static_cast<std::uint64_t>(total);
    return true;
}

bool openOpus(RecordedDecoder& d, std::string& reason) {
    int code = 0;
    d.opus = op_open_memory(d.input.bytes.data(), d.input.bytes.size(), &code);
    if (!d.opus) {
        reason = opusError(code);
        return false;
    }
    const OpusHead* head = op_head(d.opus, 0);
    d.rate = 48000; // Opus decodes at 48 kHz whatever rate the file was made from
    d.channels = head ? head->channel_count : 0;
    d.opusVorbisOrder = head && head->mapping_family == 1;
    if (const ogg_int64_t total = op_pcm_total(d.opus, -1); total > 0)
        d.frames = static_cast<std::uint64_t>(total);
    return true;
}

bool openFlac(RecordedDecoder& d, std::string& reason) {
    d.flac = FLAC__stream_decoder_new();
    if (!d.flac) {
        reason = "no memory for the FLAC decoder";
        return false;
    }
    if (FLAC__stream_decoder_init_stream(d.flac, flacRead, flacSeek, flacTell, flacLength, flacEof,
                                         flacWrite, flacMetadata, flacError,
                                         &d) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        reason = "the FLAC decoder could not start";
        return false;
    }
    if (!FLAC__stream_decoder_process_until_end_of_metadata(d.flac) || !d.flacHaveInfo) {
        reason = !d.flacProblem.empty() ? d.flacProblem
                                        : "the FLAC stream's header is damaged or cut short";
        return false;
    }
    d.flacProblem.clear();
    // The whole room a frame may need, now, so that reading never allocates.
    d.pending.reserve(std::size_t{d.flacMaxBlock} * std::max(d.channels, 1));
    return true;
}

// Copies `count` frames of per-channel or interleaved samples into `out` in WAV order.
void putInOrder(const float* from, int channels, bool vorbisOrder, long count, float* out) {
    if (!vorbisOrder || channels <= 2) {
        std::copy(from, from + count * channels, out);
        return;
    }
    const std::array<int, 8>& map = kFromVorbisOrder[static_cast<std::size_t>(channels)];
    for (long i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c)
            out[i * channels + c] = from[i * channels + map[static_cast<std::size_t>(c)]];
}

long readVorbis(RecordedDecoder& d, float* out, long frames, std::string& reason) {
    for (int step = 0; step < kMaxSilentSteps; ++step) {
        float** pcm = nullptr;
        int link = 0;
        const long got =
            ov_read_float(&d.vorbis, &pcm, static_cast<int>(std::min<long>(frames, 4096)), &link);
        if (got == 0) return 0;
        if (got == OV_HOLE) continue; // a gap in the stream; the sound goes on after it
        if (got < 0) {
            reason = vorbisError(static_cast<int>(got));
            return -1;
        }
        const vorbis_info* info = ov_info(&d.vorbis, link);
        if (!info || info->channels != d.channels || info->rate != d.rate) {
            reason = "the Vorbis stream changes its rate or channels part-way";
            return -1;
        }
        const std::array<int, 8>& map = kFromVorbisOrder[static_cast<std::size_t>(d.channels)];
        for (long i = 0; i < got; ++i)
            for (int c = 0; c < d.channels; ++c)
                out[i * d.channels + c] = pcm[map[static_cast<std::size_t>(c)]][i];
        return got;
    }
    reason = "the Vorbis stream holds gaps and no sound";
    return -1;
}

long readOpus(RecordedDecoder& d, float* out, long frames, std::string& reason) {
    const bool reorder = d.opusVorbisOrder && d.channels > 2;
    float* into = reorder ? d.opusBlock.data() : out;
    const long room = reorder ? static_cast<long>(d.opusBlock.size()) / d.channels : frames;
    const int floats = static_cast<int>(std::min<long>(std::min(frames, room), 5760) * d.channels);
    for (int step = 0; step < kMaxSilentSteps; ++step) {
        int link = 0;
        const int got = op_read_float(d.opus, into, floats, &link);
        if (got == 0) return 0;
        if (got == OP_HOLE) continue;
        if (got < 0) {
            reason = opusError(got);
            return -1;
        }
        if (op_channel_count(d.opus, link) != d.channels) {
            reason = "the Opus stream changes its channels part-way";
            return -1;
        }
        if (reorder) putInOrder(into, d.channels, true, got, out);
        return got;
    }
    reason = "the Opus stream holds gaps and no sound";
    return -1;
}

long readFlac(RecordedDecoder& d, float* out, long frames, std::string& reason) {
    long written = 0;
    int silentSteps = 0;
    while (written < frames) {
        const std::size_t left = d.pending.size() - d.pendingAt;
        if (left) {
            const long take =
                std::min<long>(frames - written, static_cast<long>(left) / d.channels);
            std::copy_n(d.pending.begin() + static_cast<long>(d.pendingAt), take * d.channels,
                        out + written * d.channels);
            d.pendingAt += static_cast<std::size_t>(take * d.channels);
            written += take;
            continue;
        }
        // One frame is decoded a step at most; a call returns once it has some sound, so its
        // work is bounded by a frame and a few blocks of metadata.
        if (written > 0) break;
        if (FLAC__stream_decoder_get_state(d.flac) == FLAC__STREAM_DECODER_END_OF_STREAM) break;
        const bool ok = FLAC__stream_decoder_process_single(d.flac);
        if (!d.flacProblem.empty() || !ok) {
            reason = !d.flacProblem.empty() ? d.flacProblem : "the FLAC stream is damaged";
            return -1;
        }
        if (d.pending.size() == d.pendingAt && ++silentSteps >= kMaxSilentSteps) {
            reason = "the FLAC stream holds no sound where its frames should be";
            return -1;
        }
    }
    return written;
}

} // namespace

std::optional<RecordedFormat> recordedFormatOf(std::span<const std::uint8_t> bytes) {
    const auto starts = [&](std::size_t at, std::string_view magic) {
        return bytes.size() >= at + magic.size() &&
               std::memcmp(bytes.data() + at, magic.data(), magic.size()) == 0;
    };
    if (starts(0, "fLaC")) return RecordedFormat::Flac;
    if (!starts(0, "OggS") || bytes.size() < 27) return std::nullopt;
    // The first page's first packet follows its table of segment sizes.
    const std::size_t packet = 27 + std::size_t{bytes[26]};
    if (starts(packet, "\x01vorbis")) return RecordedFormat::Vorbis;
    if (starts(packet, "OpusHead")) return RecordedFormat::Opus;
    return std::nullopt;
}

RecordedDecoder* openRecorded(std::span<const std::uint8_t> bytes, std::string& reason) {
    const std::optional<RecordedFormat> format = recordedFormatOf(bytes);
    if (!format) {
        reason = "the file is not Ogg Vorbis, Ogg Opus or FLAC";
        return nullptr;
    }
    auto* d = new RecordedDecoder;
    d->format = *format;
    d->input.bytes = bytes;
    bool opened = false;
    switch (*format) {
    case RecordedFormat::Vorbis:
        opened = openVorbis(*d, reason);
        break;
    case RecordedFormat::Opus:
        opened = openOpus(*d, reason);
        break;
    case RecordedFormat::Flac:
        opened = openFlac(*d, reason);
        break;
    }
    if (opened) {
        if (std::string shape = checkShape(*d); !shape.empty()) {
            reason = std::move(shape);
            opened = false;
        }
    }
    if (!opened) {
        closeRecorded(d);
        return nullptr;
    }
    if (d->format == RecordedFormat::Opus && d->opusVorbisOrder && d->channels > 2)
        d->opusBlock.resize(std::size_t{5760} * static_cast<std::size_t>(d->channels));
    return d;
}

void closeRecorded(RecordedDecoder* decoder) {
    if (!decoder) return;
    if (decoder->vorbisOpen) ov_clear(&decoder->vorbis);
    if (decoder->opus) op_free(decoder->opus);
    if (decoder->flac) FLAC__stream_decoder_delete(decoder->flac);
    delete decoder;
}

RecordedFormat recordedFormat(const RecordedDecoder& decoder) {
    return decoder.format;
}
int recordedRate(const RecordedDecoder& decoder) {
    return decoder.rate;
}
int recordedChannels(const RecordedDecoder& decoder) {
    return decoder.channels;
}
std::optional<std::uint64_t> recordedFrames(const RecordedDecoder& decoder) {
    return decoder.frames;
}

long readRecorded(RecordedDecoder& d, float* interleaved, long frames, std::string& reason) {
    if (d.failed) {
        reason = "the stream was found damaged";
        return -1;
    }
    if (frames <= 0 || d.ended) return 0;
    long got = 0;
    switch (d.format) {
    case RecordedFormat::Vorbis:
        got = readVorbis(d, interleaved, frames, reason);
        break;
    case RecordedFormat::Opus:
        got = readOpus(d, interleaved, frames, reason);
        break;
    case RecordedFormat::Flac:
        got = readFlac(d, interleaved, frames, reason);
        break;
    }
    if (got < 0) d.failed = true;
    if (got == 0) d.ended = true;
    return got;
}

bool rewindRecorded(RecordedDecoder& d) {
    if (d.failed) return false;
    bool ok = false;
    switch (d.format) {
    case RecordedFormat::Vorbis:
        ok = ov_raw_seek(&d.vorbis, 0) == 0;
        break;
    case RecordedFormat::Opus:
        ok = op_raw_seek(d.opus, 0) == 0;
        break;
    case RecordedFormat::Flac:
        d.pending.clear();
        d.pendingAt = 0;
        d.flacProblem.clear();
        // Past the metadata at once, so that the reads after a rewind meet frames only.
        ok = FLAC__stream_decoder_reset(d.flac) &&
             FLAC__stream_decoder_process_until_end_of_metadata(d.flac) && d.flacProblem.empty();
        break;
    }
    if (ok) d.ended = false;
    return ok;
}
