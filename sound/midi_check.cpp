#include "sound/midi_check.h"

#include <cstring>

namespace {
std::uint32_t readBig32(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
}

std::uint16_t readBig16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

bool chunkIdIs(std::span<const std::uint8_t> b, std::size_t at, const char* id) {
    return std::memcmp(b.data() + at, id, 4) == 0;
}
} // namespace

std::string_view standardMidiProblem(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kChunkHead = 8;
    if (bytes.size() < kChunkHead + 6 || !chunkIdIs(bytes, 0, "MThd"))
        return "not a Standard MIDI File (no MThd header)";
    const std::uint32_t headerLength = readBig32(bytes, 4);
    if (headerLength < 6 || headerLength > bytes.size() - kChunkHead)
        return "the MIDI header chunk has a bad length";
    const std::uint16_t format = readBig16(bytes, 8);
    const std::uint16_t trackCount = readBig16(bytes, 10);
    const std::uint16_t division = readBig16(bytes, 12);
    if (format > 2) return "unknown MIDI file format (not 0, 1 or 2)";
    if (trackCount == 0) return "the MIDI header names no track";
    if (division == 0) return "the MIDI header gives a time division of zero";

    // Chunks other than tracks are allowed and skipped, as players do; a few stray bytes after
    // the last chunk are tolerated, a chunk that claims more bytes than remain is not.
    std::size_t at = kChunkHead + headerLength;
    unsigned tracksFound = 0;
    while (bytes.size() - at >= kChunkHead) {
        const std::uint32_t length = readBig32(bytes, at + 4);
        if (length > bytes.size() - at - kChunkHead)
            return "a MIDI chunk runs past the end of the file (truncated?)";
        if (chunkIdIs(bytes, at, "MTrk")) ++tracksFound;
        at += kChunkHead + length;
    }
    if (tracksFound < trackCount) return "the MIDI file holds fewer tracks than its header names";
    return {};
}
