// The recorded sound decoders (Ogg Vorbis, Ogg Opus, FLAC): any bytes. What opens keeps to the
// rates and channel counts the engine plays, every read gives at most the frames asked for and
// ends or fails, a rewind reads the same again, and a refusal says why.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_engine.h"
#include "sound/recorded.h"

namespace {
// Frames read of one input at most: a few bytes of Opus may stand for seconds of sound, and a
// long decode is no fault of the decoder.
constexpr long kMaxFramesRead = 1 << 20;

// Reads up to the cap in blocks of `block`; the frames read, or -1 when the stream failed.
long readOut(RecordedDecoder& d, long block) {
    std::vector<float> buffer(static_cast<std::size_t>(block * recordedChannels(d)) + 1);
    const float guard = 12345.0f;
    buffer.back() = guard;
    long total = 0;
    while (total < kMaxFramesRead) {
        std::string reason;
        const long got = readRecorded(d, buffer.data(), block, reason);
        FUZZ_CHECK(buffer.back() == guard);
        if (got < 0) {
            FUZZ_CHECK(!reason.empty());
            return -1;
        }
        FUZZ_CHECK(got <= block);
        if (got == 0) break;
        total += got;
    }
    return total;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the input's size, so that a read past its end is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    std::string reason;
    RecordedDecoder* d = openRecorded(bytes, reason);
    if (!d) {
        FUZZ_CHECK(!reason.empty());
        return 0;
    }
    FUZZ_CHECK(recordedFormatOf(bytes) == recordedFormat(*d));
    FUZZ_CHECK(recordedRate(*d) >= kMinRecordedRate && recordedRate(*d) <= kMaxRecordedRate);
    FUZZ_CHECK(recordedChannels(*d) >= 1 && recordedChannels(*d) <= kMaxRecordedChannels);
    const long first = readOut(*d, 1000);
    if (first >= 0 && first < kMaxFramesRead && rewindRecorded(*d)) {
        // The same stream again, in blocks of another size. libvorbisfile reads a stream with
        // stray bytes between its pages one way from its open and another from a seek (all of
        // it, or nothing): a damaged file may sound different once looped, never read amiss.
        const long again = readOut(*d, 333);
        FUZZ_CHECK(again < 0 || again == first || again >= kMaxFramesRead ||
                   recordedFormat(*d) == RecordedFormat::Vorbis);
    }
    closeRecorded(d);
    return 0;
}
