// Music in the author's recorded formats, in place of the MIDI files the game names: looping
// without a seam, under effects, replacing and replaced by the synthesiser's pieces, and stopped
// with everything else.
#include "sound/sound.h"
#include "sound/sound_fixtures.h"
#include "support/recorded_encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {
constexpr double kMusicTone = 440.0;
constexpr double kEffectTone = 3000.0;
} // namespace

TEST_F(SoundTest, OggMusicLoopsWithoutASeamUnderAnOpusEffectUntilEverythingStops) {
    recordToDisk();
    ASSERT_TRUE(startSound());
    const OutputFormat format = outputFormat();
    ASSERT_TRUE(format.signed16);
    // Half a second of a tone that fills it with whole cycles, so that its loop is one tone;
    // at 48 kHz, resampled to the device as it plays.
    putSound("morva_g0.ogg", encodeTestVorbis(testTone(0.5, kMusicTone, 0.4, 2, 48000), 2, 48000));
    putSound("door50.opus", encodeTestOpus(testTone(0.2, kEffectTone, 0.4, 1, 48000), 1, 48000));
    ASSERT_TRUE(loadSoundSlot(0, ".\\Sound\\morva_g0.mid", true));
    ASSERT_TRUE(loadSoundSlot(50, ".\\Sound\\door50.wav", false));
    EXPECT_TRUE(shownMessages().empty());

    const long start = recordedFrames(recordingFile, format);
    playSlotPrimary(0);
    EXPECT_EQ(primarySoundSlot(), 0);
    EXPECT_TRUE(musicPlaying());
    ASSERT_TRUE(waitRecorded(recordingFile, format, 1.3));
    const long effect = recordedFrames(recordingFile, format);
    playSlotSecondary(50);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.4));
    EXPECT_EQ(primarySoundSlot(), 0) << "the effect leaves the music playing";
    const long stop = recordedFrames(recordingFile, format);
    stopAllSound();
    EXPECT_FALSE(musicPlaying());
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.3));
    closeDownSound();

    const Recording r = readRecording(recordingFile, format);
    const long first = r.firstAbove(start, 200);
    ASSERT_GE(first, 0) << "the music sounds";
    const long pass = r.framesIn(0.5);
    const double level = r.toneLevel(first + pass / 4, first + pass / 2, kMusicTone);
    ASSERT_GT(level, 5000);
    // Every 50 ms of two passes and more holds the tone at its level: no gap where it repeats,
    // and no step there larger than the tone's own.
    for (long at = first + r.framesIn(0.02); at + r.framesIn(0.05) < effect; at += r.framesIn(0.05))
        EXPECT_GT(r.toneLevel(at, at + r.framesIn(0.05), kMusicTone), level * 0.8) << at - first;
    const int ownStep = r.largestStep(first + pass / 4, first + pass / 2);
    for (const long seam : {first + pass, first + 2 * pass})
        EXPECT_LE(r.largestStep(seam - 400, seam + 400), ownStep * 5 / 4) << seam - first;

    const auto at = [&](long mark, double seconds) { return mark + r.framesIn(seconds); };
    EXPECT_GT(r.toneLevel(at(effect, 0.06), at(effect, 0.16), kEffectTone), 5000)
        << "the effect sounds over the music";
    EXPECT_GT(r.toneLevel(at(effect, 0.06), at(effect, 0.16), kMusicTone), level * 0.8)
        << "and the music goes on under it";
    EXPECT_EQ(r.peak(at(stop, 0.1), r.frames()), 0) << "nothing sounds after stop-all";
}

TEST_F(SoundTest, RecordedAndSynthesisedMusicReplaceEachOtherAsThePrimaryPiece) {
    recordToDisk();
    ASSERT_TRUE(startSound());
    const OutputFormat format = outputFormat();
    const TestNote note[] = {{0, 200, 60}};
    ASSERT_TRUE(loadSoundSlot(0, putSound("morva_g0.mid", standardMidi(note, 300)), true));
    putSound("brel_gm1.flac", encodeTestFlac(testTone(0.5, kMusicTone, 0.4, 2, 44100), 2, 44100));
    ASSERT_TRUE(loadSoundSlot(1, ".\\Sound\\brel_gm1.mid", true));

    playSlotPrimary(0);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.4));
    const long recorded = recordedFrames(recordingFile, format);
    playSlotPrimary(1); // the recorded piece in place of the synthesised one
    EXPECT_EQ(primarySoundSlot(), 1);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.6));
    const long synthesised = recordedFrames(recordingFile, format);
    playSlotPrimary(0); // and back
    EXPECT_EQ(primarySoundSlot(), 0);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.6));
    // Over the primary piece, the recorded piece repeats until everything stops.
    const long over = recordedFrames(recordingFile, format);
    playSlotSecondary(1);
    EXPECT_EQ(musicPlayingOverPrimary(), 1);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 1.2));
    EXPECT_EQ(musicPlayingOverPrimary(), 1);
    stopAllSound();
    EXPECT_EQ(musicPlayingOverPrimary(), 0);
    closeDownSound();

    const Recording r = readRecording(recordingFile, format);
    const auto tone = [&](long mark, double from, double to) {
        return r.toneLevel(mark + r.framesIn(from), mark + r.framesIn(to), kMusicTone);
    };
    const double alone = tone(recorded, 0.1, 0.5);
    ASSERT_GT(alone, 5000) << "the FLAC piece sounds";
    EXPECT_LT(tone(synthesised, 0.1, 0.5) * 10, alone) << "gone once the MIDI piece replaced it";
    EXPECT_GT(tone(over, 0.8, 1.1), alone * 0.8) << "still there after two passes over it";
}

TEST_F(SoundTest, DamagedRecordedMusicIsAFailedLoad) {
    ASSERT_TRUE(startSound());
    std::vector<std::uint8_t> cut =
        encodeTestVorbis(testTone(0.5, kMusicTone, 0.4, 2, 44100), 2, 44100);
    cut.resize(cut.size() / 8);
    putSound("morva_g0.ogg", cut);
    EXPECT_FALSE(loadSoundSlot(0, ".\\Sound\\morva_g0.mid", true));
    EXPECT_FALSE(soundSlotLoaded(0));
    EXPECT_EQ(shownMessages().size(), 1u);
}
