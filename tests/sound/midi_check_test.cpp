#include "sound/midi_check.h"
#include "sound/midi_synth.h"
#include "sound/sound_fixtures.h"

#include <gtest/gtest.h>

#include <optional>

namespace {
std::vector<std::uint8_t> validMidi() {
    const TestNote notes[] = {{0, 100, 60}, {100, 100, 64}};
    return standardMidi(notes, 300);
}

std::vector<std::uint8_t> withByte(std::vector<std::uint8_t> bytes, std::size_t at,
                                   std::uint8_t value) {
    bytes[at] = value;
    return bytes;
}
} // namespace

TEST(MidiCheck, AcceptsWellFormedFilesAndTheirHarmlessVariants) {
    const std::vector<std::uint8_t> plain = validMidi();
    EXPECT_EQ(standardMidiProblem(plain), "");

    std::vector<std::uint8_t> trailing = plain;
    trailing.insert(trailing.end(), {0, 0, 0});
    EXPECT_EQ(standardMidiProblem(trailing), "") << "a few stray bytes after the last chunk";

    // A chunk of an unknown kind between header and track is skipped.
    std::vector<std::uint8_t> extra(plain.begin(), plain.begin() + 14);
    extra.insert(extra.end(), {'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 7, 7});
    extra.insert(extra.end(), plain.begin() + 14, plain.end());
    EXPECT_EQ(standardMidiProblem(extra), "");
}

TEST(MidiCheck, RejectsBrokenHeadersAndChunks) {
    const std::vector<std::uint8_t> plain = validMidi();
    const std::vector<std::uint8_t> wav = sineWav(0.01, 440);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"a WAV file", wav},
        {"header length below 6", withByte(plain, 7, 5)},
        {"header length past the end", withByte(plain, 4, 0x7F)},
        {"format 3", withByte(plain, 9, 3)},
        {"no track named", withByte(plain, 11, 0)},
        {"division zero", withByte(withByte(plain, 12, 0), 13, 0)},
        {"two tracks named, one present", withByte(plain, 11, 2)},
        {"track length near 4 GiB", withByte(plain, 18, 0xFF)},
    };
    for (const Case& c : cases)
        EXPECT_NE(standardMidiProblem(c.bytes), "") << c.what;

    // Every file cut short fails, whichever byte it ends at, and nothing reads past the end.
    for (std::size_t size = 0; size < plain.size(); ++size) {
        const std::vector<std::uint8_t> cut(plain.begin(), plain.begin() + size);
        EXPECT_NE(standardMidiProblem(cut), "") << "cut to " << size << " bytes";
    }
}

// The packager names each rendering and the browser build looks it up by the same function: the
// name must be a fixed function of the bytes, the same on every machine and in every build.
TEST(RenderedMidiName, IsTheBytesFixedHashInHexadecimal) {
    const auto name = [](std::string_view text) {
        return renderedMidiName(
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    };
    // The published FNV-1a 64-bit values.
    EXPECT_EQ(name(""), "cbf29ce484222325.ogg");
    EXPECT_EQ(name("a"), "af63dc4c8601ec8c.ogg");
    EXPECT_EQ(name("foobar"), "85944171f73967e8.ogg");
    const std::vector<std::uint8_t> piece = validMidi();
    EXPECT_NE(renderedMidiName(piece), renderedMidiName(withByte(piece, piece.size() - 4, 0x7F)));
}

// What the synthesiser would start over without end (a piece of no time), or read as a piece
// without events, is refused before it is played, with its reason.
TEST(PlayableMidi, RefusesWhatCannotRepeat) {
    using Bytes = std::vector<std::uint8_t>;
    Bytes huge = midiFile(96, {noteTrack(96)});
    huge.resize(kMaxMidiFileBytes + 1); // a file of zeros after its track
    struct Case {
        const char* what;
        Bytes midi;
        const char* reasonHas;
    };
    const Case cases[] = {
        {"a piece that lasts no time", midiFile(96, {{0x00, 0xFF, 0x2F, 0x00}}), "no time"},
        {"a piece of one tick", midiFile(96, {noteTrack(1)}), "too short"},
        {"128 tracks", midiFile(96, std::vector<Bytes>(128, noteTrack(96))), "128 tracks"},
        {"an event the format does not have", midiFile(96, {{0x00, 0xF4, 0x00, 0xFF, 0x2F, 0x00}}),
         "unknown event"},
        {"a file over the bound", huge, "4 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string reason;
        EXPECT_FALSE(playableMidi(c.midi, reason));
        EXPECT_NE(reason.find(c.reasonHas), std::string::npos) << reason;
    }
    std::string reason;
    EXPECT_TRUE(playableMidi(midiFile(96, std::vector<Bytes>(127, noteTrack(96))), reason))
        << reason;
}

// The synthesiser times pieces only in beats: a piece timed by time code is given beats of the
// same length (its own tempo changes ignored, as the format has it), and a longer header is cut
// to the six bytes the synthesiser reads. Each lasts what it lasted.
TEST(PlayableMidi, GivesTimeCodeAsBeatsOfTheSameLength) {
    using Bytes = std::vector<std::uint8_t>;
    const Bytes tempoThenNote = {0x00, 0xFF, 0x51, 0x03, 0x01, 0x00, 0x00, 0x00, 0x90, 60,
                                 100,  0x87, 0x68, 0x80, 60,   0,    0x00, 0xFF, 0x2F, 0x00};
    Bytes longHeader = midiFile(96, {noteTrack(192)});
    longHeader[7] = 8;
    longHeader.insert(longHeader.begin() + 14, {0, 0});
    struct Case {
        const char* what;
        Bytes midi;
        double seconds;
    };
    const Case cases[] = {
        {"25 frames of 40 ticks", midiFile(0xE728, {noteTrack(1500)}), 1.5},
        {"29.97 frames of 80 ticks", midiFile(0xE350, {noteTrack(2398)}), 2398 / (80 * 29.97003)},
        {"a tempo change in a piece of time code", midiFile(0xE728, {tempoThenNote}), 1.0},
        {"an eight-byte header", longHeader, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string reason;
        const std::optional<double> before = midiSeconds(c.midi, reason);
        ASSERT_TRUE(before) << reason;
        EXPECT_NEAR(*before, c.seconds, 1e-4);
        const std::optional<Bytes> playable = playableMidi(c.midi, reason);
        ASSERT_TRUE(playable) << reason;
        ASSERT_GE(playable->size(), 14u);
        EXPECT_EQ((*playable)[7], 6) << "a six-byte header";
        EXPECT_EQ((*playable)[12] & 0x80, 0) << "timed in beats";
        const std::optional<double> after = midiSeconds(*playable, reason);
        ASSERT_TRUE(after) << reason;
        EXPECT_NEAR(*after, c.seconds, 1e-4);
    }
}
