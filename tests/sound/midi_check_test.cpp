#include "sound/midi_check.h"
#include "sound/midi_synth.h"
#include "sound/sound_fixtures.h"

#include <gtest/gtest.h>

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
