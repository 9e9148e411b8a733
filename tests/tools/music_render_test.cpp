// The music rendered for the web page: one exact pass of each piece, as Ogg Vorbis that the
// mixer decodes back to what the synthesiser played.
#include "sound/midi_synth.h"
#include "tools/music_render.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void putBig(Bytes& out, std::uint32_t v, int size) {
    for (int k = size - 1; k >= 0; --k)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

// A Standard MIDI File of the given track bodies (events as written, end-of-track included or
// not), format 0 for one track and 1 for more.
Bytes smf(std::uint16_t division, const std::vector<Bytes>& tracks) {
    Bytes out = {'M', 'T', 'h', 'd'};
    putBig(out, 6, 4);
    putBig(out, tracks.size() > 1 ? 1 : 0, 2);
    putBig(out, static_cast<std::uint32_t>(tracks.size()), 2);
    putBig(out, division, 2);
    for (const Bytes& body : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        putBig(out, static_cast<std::uint32_t>(body.size()), 4);
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

// Events with a delta of `delta` ticks before the first (a variable-length quantity).
Bytes after(std::uint32_t delta, Bytes events) {
    Bytes out;
    std::uint8_t bytes[5];
    int n = 0;
    bytes[n++] = delta & 0x7F;
    while (delta >>= 7)
        bytes[n++] = static_cast<std::uint8_t>((delta & 0x7F) | 0x80);
    while (n)
        out.push_back(bytes[--n]);
    out.insert(out.end(), events.begin(), events.end());
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kEnd = {0xFF, 0x2F, 0x00};
Bytes tempo(std::uint32_t micros) {
    return {0xFF,
            0x51,
            0x03,
            std::uint8_t(micros >> 16),
            std::uint8_t(micros >> 8),
            std::uint8_t(micros)};
}

// A piano note (middle C) from the start, released at `offTick`; the track ends at `endTick`.
Bytes oneNote(std::uint32_t offTick, std::uint32_t endTick) {
    return join({after(0, {0xC0, 0x00}), after(0, {0x90, 60, 100}), after(offTick, {0x80, 60, 0}),
                 after(endTick - offTick, kEnd)});
}

double rms(const float* samples, std::size_t count) {
    double sum = 0;
    for (std::size_t k = 0; k < count; ++k)
        sum += double{samples[k]} * samples[k];
    return count ? std::sqrt(sum / count) : 0;
}

// Opens the mixer as the engine asks for it (the dummy driver keeps the format), so that a
// rendering decodes as it will in the page.
class MixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
        ASSERT_EQ(Mix_OpenAudio(kRenderRate, AUDIO_S16SYS, kRenderChannels, 1024), 0)
            << Mix_GetError();
        fonts = chooseSoundFonts();
        if (!fonts.found) GTEST_SKIP() << "no General MIDI sound font (" << fonts.fonts << ")";
    }
    void TearDown() override {
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    // The rendering decoded by the mixer, as floats; empty when it cannot be read.
    static std::vector<float> decode(const Bytes& ogg) {
        SDL_RWops* stream = SDL_RWFromConstMem(ogg.data(), static_cast<int>(ogg.size()));
        Mix_Chunk* chunk = Mix_LoadWAV_RW(stream, 1);
        if (!chunk) {
            ADD_FAILURE() << Mix_GetError();
            return {};
        }
        const auto* pcm = reinterpret_cast<const std::int16_t*>(chunk->abuf);
        std::vector<float> out(pcm, pcm + chunk->alen / 2);
        for (float& v : out)
            v /= 32768.0f;
        Mix_FreeChunk(chunk);
        return out;
    }

    SoundFontChoice fonts;
};

} // namespace

TEST(MidiSeconds, FollowsTheTempoMapToTheEndOfTheLongestTrack) {
    struct Case {
        const char* what;
        Bytes midi;
        double seconds;
    };
    const Case cases[] = {
        {"two beats at the default 120 per minute", smf(480, {oneNote(240, 960)}), 1.0},
        {"a tempo at the start", smf(480, {join({after(0, tempo(250000)), oneNote(240, 960)})}),
         0.5},
        {"a tempo change half-way",
         smf(480, {join({after(0, tempo(500000)), after(480, tempo(1000000)), after(480, kEnd)})}),
         1.5},
        {"the tempo in a track of its own, the notes in a longer one",
         smf(96, {join({after(0, tempo(250000)), after(0, kEnd)}), oneNote(96, 384)}), 1.0},
        {"running status and a system-exclusive message",
         smf(480, {join({after(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                         after(0, {0x90, 60, 100}), after(240, {62, 100}),
                         after(240, {0x80, 60, 0}), after(0, {62, 0}), after(480, kEnd)})}),
         1.0},
        {"a track without its end event ends at its last event",
         smf(480, {join({after(0, {0x90, 60, 100}), after(480, {0x80, 60, 0})})}), 0.5},
        {"time code: 25 frames of 40 ticks a second", smf(0xE728, {oneNote(100, 1500)}), 1.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string reason;
        const std::optional<double> seconds = midiSeconds(c.midi, reason);
        ASSERT_TRUE(seconds) << reason;
        EXPECT_NEAR(*seconds, c.seconds, 1e-9);
    }
}

TEST_F(MixerTest, DamagedOrUnplayableMidiGivesAReasonNotARendering) {
    const Bytes good = smf(480, {oneNote(240, 960)});
    Bytes truncated = good;
    truncated.resize(truncated.size() - 5);
    struct Case {
        const char* what;
        Bytes midi;
        const char* reasonHas;
    };
    const Case cases[] = {
        {"not MIDI", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 0, 0}, "MThd"},
        {"cut short", truncated, "truncated"},
        {"an event cut off by its track's end", smf(480, {join({after(0, {0x90, 60})})}),
         "runs past its track"},
        {"a data byte before any status", smf(480, {join({after(0, {60, 100}), kEnd})}),
         "no status"},
        {"a meta event longer than its track", smf(480, {after(0, {0xFF, 0x01, 0x20, 'a'})}),
         "runs past its track"},
        {"an event the format does not have", smf(480, {join({after(0, {0xF4}), kEnd})}),
         "unknown event"},
        {"no time at all", smf(480, {after(0, kEnd)}), "ends where it starts"},
        {"a tempo event of four bytes, which the synthesiser refuses",
         smf(480,
             {join({after(0, {0xFF, 0x51, 0x04, 0x07, 0xA1, 0x20, 0x00}), oneNote(240, 960)})}),
         "synthesiser cannot play"},
        {"more tracks than the synthesiser plays",
         smf(480, std::vector<Bytes>(128, oneNote(240, 960))), "128 tracks"},
        {"hours long", smf(480, {after(0x0FFFFFFF, kEnd)}), "seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string reason;
        EXPECT_FALSE(renderMidi(c.midi, fonts.fonts, reason));
        EXPECT_NE(reason.find(c.reasonHas), std::string::npos) << reason;
    }
    std::string reason;
    EXPECT_FALSE(renderMidi(good, "no-such-font.sf2", reason));
    EXPECT_NE(reason.find("no-such-font.sf2"), std::string::npos) << reason;
}

// A note, then silence to the end of the piece: the rendering ends exactly there, with nothing
// before the note, so that it loops in time. A piece timed by time code renders as it plays in
// the engine: its note at its time, one pass long, not silence.
TEST_F(MixerTest, APassEndsExactlyWhereThePieceEnds) {
    struct Case {
        const char* what;
        Bytes midi;
    };
    const Case cases[] = {
        // 480 ticks a beat at 120 a minute: the note sounds for 0.25 s of a piece of 0.7 s.
        {"beats", smf(480, {oneNote(240, 672)})},
        // 25 frames of 40 ticks a second: the same note and length.
        {"time code", smf(0xE728, {oneNote(250, 700)})},
    };
    for (const Case& c : cases) {
        std::string reason;
        const std::optional<RenderedPiece> piece = synthesiseMidi(c.midi, fonts.fonts, reason);
        ASSERT_TRUE(piece) << c.what << ": " << reason;
        EXPECT_EQ(piece->frames(), std::lround(0.7 * kRenderRate)) << c.what;
        const float* s = piece->samples.data();
        const std::size_t tenMs = kRenderRate / 100 * kRenderChannels;
        EXPECT_GT(rms(s, tenMs), 0.01) << c.what << ": the note starts at once";
        const std::size_t lastTenMs = piece->samples.size() - tenMs;
        EXPECT_LT(rms(s + lastTenMs, tenMs), rms(s, tenMs) / 10)
            << c.what << ": the note has faded by the end";

        const std::optional<Bytes> ogg = encodeOggVorbis(*piece, kRenderQuality, reason);
        ASSERT_TRUE(ogg) << reason;
        EXPECT_EQ(decode(*ogg).size(), piece->samples.size()) << c.what;
    }
}

// The demo's music: each piece renders to a file the mixer reads back, one pass long, sounding
// as the synthesiser played it, and the same bytes every time.
TEST_F(MixerTest, TheDemoMusicRendersToOggThatDecodesToThePiece) {
    const std::filesystem::path sounds =
        std::filesystem::path(TOLVANE_BINARY_DIR) / "demo/game/Sound";
    int pieces = 0;
    for (const auto& entry : std::filesystem::directory_iterator(sounds)) {
        if (entry.path().extension() != ".mid") continue;
        ++pieces;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream file(entry.path(), std::ios::binary);
        const Bytes midi((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::string reason;
        const std::optional<double> seconds = midiSeconds(midi, reason);
        ASSERT_TRUE(seconds) << reason;
        EXPECT_GT(*seconds, 20.0) << "the demo's pieces last some half a minute";

        const std::optional<RenderedPiece> piece = synthesiseMidi(midi, fonts.fonts, reason);
        ASSERT_TRUE(piece) << reason;
        EXPECT_EQ(piece->frames(), std::lround(*seconds * kRenderRate));
        const std::optional<Bytes> ogg = encodeOggVorbis(*piece, kRenderQuality, reason);
        ASSERT_TRUE(ogg) << reason;
        EXPECT_LT(ogg->size(), 40'000u * *seconds) << "well under 320 kbit/s";

        const std::vector<float> decoded = decode(*ogg);
        ASSERT_EQ(decoded.size(), piece->samples.size()) << "one pass, to the frame";
        const double level = rms(piece->samples.data(), piece->samples.size());
        EXPECT_GT(level, 0.02) << "not silent";
        EXPECT_NEAR(20 * std::log10(rms(decoded.data(), decoded.size()) / level), 0.0, 0.5);
        // What the encoding lost, against the piece: far below it, and the channels in place.
        std::vector<float> loss(decoded.size());
        for (std::size_t k = 0; k < loss.size(); ++k)
            loss[k] = decoded[k] - piece->samples[k];
        EXPECT_GT(20 * std::log10(level / rms(loss.data(), loss.size())), 12.0);

        const std::optional<Bytes> again = renderMidi(midi, fonts.fonts, reason);
        ASSERT_TRUE(again) << reason;
        EXPECT_TRUE(*again == *ogg) << "the same piece gives the same bytes";
    }
    EXPECT_EQ(pieces, 2);
}
