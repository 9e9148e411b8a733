#include "sound/midi_check.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr std::size_t kChunkHead = 8;
constexpr std::size_t kHeaderBody = 6;
constexpr std::uint32_t kDefaultTempo = 500000; // microseconds a quarter note, until one is set
constexpr std::uint8_t kTempoMeta = 0x51;
constexpr std::uint8_t kEndOfTrackMeta = 0x2F;
// A meta event of the sequencer's own, which players pass over: what a tempo change of a piece
// timed by time code becomes, the same length, so that the synthesiser does not follow it.
constexpr std::uint8_t kIgnoredMeta = 0x7F;

std::uint32_t readBig(std::span<const std::uint8_t> b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int k = 0; k < size; ++k)
        v = (v << 8) | b[at + k];
    return v;
}

void putBig(std::uint8_t* at, std::uint32_t value, int size) {
    for (int k = size - 1; k >= 0; --k, value >>= 8)
        at[k] = static_cast<std::uint8_t>(value & 0xFF);
}

bool chunkIdIs(std::span<const std::uint8_t> b, std::size_t at, const char* id) {
    return std::memcmp(b.data() + at, id, 4) == 0;
}

struct TempoChange {
    std::uint64_t tick;
    std::uint32_t microsPerQuarter;
    std::size_t at; // the offset of its meta type byte in the file
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
            const std::size_t typeAt = at;
            const std::uint8_t type = b[at++];
            if (!readVarLen(b, at, end, length)) return "a MIDI meta event runs past its track";
            if (length <= end - at && type == kEndOfTrackMeta) {
                endTick = tick;
                return {};
            }
            if (length <= end - at && type == kTempoMeta && length >= 3)
                tempos.push_back({tick, readBig(b, at, 3), typeAt});
        } else {
            return "a MIDI track holds an unknown event";
        }
        if (length > end - at) return "a MIDI event runs past its track";
        at += length;
    }
    endTick = tick;
    return {};
}

// A time code's frames a second: the header's 29 is the 29.97 of NTSC television.
double framesPerSecond(int nominal) {
    return nominal == 29 ? 30.0 * 1000 / 1001 : nominal;
}

// What the reader found in a file whose layout is checked.
struct Reading {
    std::vector<TempoChange> tempos;
    std::uint64_t endTick = 0;
    std::size_t firstTrack = 0; // the offset of the first track chunk
};

std::string readTracks(std::span<const std::uint8_t> midi, Reading& reading) {
    // The layout is checked: the header and as many track chunks as it names are inside.
    const std::uint32_t headerLength = readBig(midi, 4, 4);
    const std::uint32_t trackCount = readBig(midi, 10, 2);
    std::size_t at = kChunkHead + headerLength;
    for (std::uint32_t track = 0; track < trackCount; at += kChunkHead + readBig(midi, at + 4, 4)) {
        if (!chunkIdIs(midi, at, "MTrk")) continue;
        if (track == 0) reading.firstTrack = at;
        const std::size_t body = at + kChunkHead;
        std::uint64_t trackEnd = 0;
        const std::string problem =
            readTrack(midi, body, body + readBig(midi, at + 4, 4), reading.tempos, trackEnd);
        if (!problem.empty()) return problem + " (track " + std::to_string(track + 1) + ")";
        reading.endTick = std::max(reading.endTick, trackEnd);
        ++track;
    }
    return {};
}

std::optional<double> secondsOf(std::span<const std::uint8_t> midi, Reading& reading,
                                std::string& reason) {
    if (std::string problem = standardMidiProblem(midi); !problem.empty()) {
        reason = std::move(problem);
        return std::nullopt;
    }
    if (std::string problem = readTracks(midi, reading); !problem.empty()) {
        reason = std::move(problem);
        return std::nullopt;
    }
    const std::uint32_t division = readBig(midi, 12, 2);
    if (division & 0x8000) {
        // Time code: frames a second (the high byte, negative) and ticks a frame.
        const int frames = -static_cast<std::int8_t>(division >> 8);
        const int ticksPerFrame = division & 0xFF;
        if (frames <= 0 || ticksPerFrame == 0) {
            reason = "the MIDI header gives a time code the synthesiser cannot time";
            return std::nullopt;
        }
        return static_cast<double>(reading.endTick) / (framesPerSecond(frames) * ticksPerFrame);
    }
    // A tempo change in any track holds from its tick on, for every track.
    std::vector<TempoChange> tempos = reading.tempos;
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    double micros = 0;
    std::uint64_t tick = 0;
    std::uint32_t tempo = kDefaultTempo;
    for (const TempoChange& change : tempos) {
        if (change.tick >= reading.endTick) break;
        micros += static_cast<double>(change.tick - tick) * tempo / division;
        tick = change.tick;
        tempo = change.microsPerQuarter;
    }
    micros += static_cast<double>(reading.endTick - tick) * tempo / division;
    return micros / 1e6;
}
} // namespace

std::string standardMidiProblem(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kChunkHead + kHeaderBody || !chunkIdIs(bytes, 0, "MThd"))
        return "not a Standard MIDI File (no MThd header)";
    if (bytes.size() > kMaxMidiFileBytes)
        return "the MIDI file holds " + std::to_string(bytes.size()) + " bytes, more than the " +
               std::to_string(kMaxMidiFileBytes >> 20) +
               " MiB a piece of music may (pieces are kilobytes)";
    const std::uint32_t headerLength = readBig(bytes, 4, 4);
    if (headerLength < kHeaderBody || headerLength > bytes.size() - kChunkHead)
        return "the MIDI header chunk has a bad length";
    const std::uint32_t format = readBig(bytes, 8, 2);
    const std::uint32_t trackCount = readBig(bytes, 10, 2);
    const std::uint32_t division = readBig(bytes, 12, 2);
    if (format > 2) return "unknown MIDI file format (not 0, 1 or 2)";
    if (trackCount == 0) return "the MIDI header names no track";
    if (trackCount > kMaxMidiTracks)
        return "the MIDI file has " + std::to_string(trackCount) + " tracks, more than the " +
               std::to_string(kMaxMidiTracks) + " the synthesiser plays";
    if (division == 0) return "the MIDI header gives a time division of zero";

    // Chunks other than tracks are allowed and skipped, as players do; a few stray bytes after
    // the last chunk are tolerated, a chunk that claims more bytes than remain is not.
    std::size_t at = kChunkHead + headerLength;
    unsigned tracksFound = 0;
    while (bytes.size() - at >= kChunkHead) {
        const std::uint32_t length = readBig(bytes, at + 4, 4);
        if (length > bytes.size() - at - kChunkHead)
            return "a MIDI chunk runs past the end of the file (truncated?)";
        if (chunkIdIs(bytes, at, "MTrk")) ++tracksFound;
        at += kChunkHead + length;
    }
    if (tracksFound < trackCount) return "the MIDI file holds fewer tracks than its header names";
    return {};
}

std::optional<double> midiSeconds(std::span<const std::uint8_t> midi, std::string& reason) {
    Reading reading;
    return secondsOf(midi, reading, reason);
}

std::optional<std::vector<std::uint8_t>> playableMidi(std::span<const std::uint8_t> midi,
                                                      std::string& reason) {
    Reading reading;
    const std::optional<double> seconds = secondsOf(midi, reading, reason);
    if (!seconds) return std::nullopt;
    if (*seconds < kMinMidiSeconds) {
        reason = *seconds == 0 ? std::string("the piece ends where it starts: it lasts no time")
                               : "the piece lasts " + std::to_string(std::lround(*seconds * 1e6)) +
                                     " microseconds, too short to repeat (under " +
                                     std::to_string(std::lround(kMinMidiSeconds * 1000)) + " ms)";
        return std::nullopt;
    }
    std::vector<std::uint8_t> out(midi.begin(), midi.end());
    const std::uint32_t division = readBig(midi, 12, 2);
    std::size_t firstTrack = reading.firstTrack;
    if (division & 0x8000) {
        // The same pace in beats: a beat of one second (or 1001 ms, at 29.97 frames a second)
        // holds as many ticks as the time code's second.
        const int frames = -static_cast<std::int8_t>(division >> 8);
        const int ticksPerFrame = division & 0xFF;
        const int nominal = frames == 29 ? 30 : frames;
        const auto tempo =
            static_cast<std::uint32_t>(std::lround(1e6 * nominal / framesPerSecond(frames)));
        for (const TempoChange& change : reading.tempos)
            out[change.at] = kIgnoredMeta;
        putBig(out.data() + 12, static_cast<std::uint32_t>(nominal * ticksPerFrame), 2);
        const std::uint8_t setTempo[] = {0x00,
                                         0xFF,
                                         kTempoMeta,
                                         0x03,
                                         static_cast<std::uint8_t>(tempo >> 16),
                                         static_cast<std::uint8_t>(tempo >> 8),
                                         static_cast<std::uint8_t>(tempo)};
        const std::size_t body = firstTrack + kChunkHead;
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(body), std::begin(setTempo),
                   std::end(setTempo));
        putBig(out.data() + firstTrack + 4,
               readBig(midi, firstTrack + 4, 4) + static_cast<std::uint32_t>(sizeof setTempo), 4);
    }
    const std::uint32_t headerLength = readBig(midi, 4, 4);
    if (headerLength > kHeaderBody) {
        // The synthesiser reads six header bytes and the next chunk right after them.
        const auto extra = static_cast<std::ptrdiff_t>(headerLength - kHeaderBody);
        const auto from = out.begin() + static_cast<std::ptrdiff_t>(kChunkHead + kHeaderBody);
        out.erase(from, from + extra);
        putBig(out.data() + 4, static_cast<std::uint32_t>(kHeaderBody), 4);
    }
    return out;
}
