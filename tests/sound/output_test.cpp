// What reaches the speaker, recorded by SDL's disk audio driver. The driver runs in real time,
// so events are located by marks (frames written when the test acted) with a margin for the
// device buffer, and the checks compare levels rather than exact sample positions.
#include "sound/sound.h"
#include "sound/sound_fixtures.h"

#include <SDL_mixer.h>
#include <gtest/gtest.h>

namespace {
constexpr double kEffectTone = 3000.0; // far from the piano note's strong partials

// A 100 ms piano note at the start of a piece that ends (and so repeats) after loopMs.
std::vector<std::uint8_t> oneNoteLoop(int loopMs) {
    const TestNote notes[] = {{0, 100, 48}};
    return standardMidi(notes, loopMs);
}

// Length in seconds of the stretch from the first to the last 10 ms window in which the tone
// is clearly present.
double toneSpan(const Recording& r, double frequency, double level) {
    const long window = r.framesIn(0.01);
    long first = -1, last = -1;
    for (long at = 0; at + window <= r.frames(); at += window) {
        if (r.toneLevel(at, at + window, frequency) < level) continue;
        if (first < 0) first = at;
        last = at + window;
    }
    return first < 0 ? 0.0 : static_cast<double>(last - first) / r.rate;
}
} // namespace

TEST_F(SoundTest, MusicLoopsAnEffectSoundsOverItAndStopAllSilencesBoth) {
    recordToDisk();
    ASSERT_TRUE(startSound());
    const OutputFormat format = outputFormat();
    ASSERT_TRUE(format.signed16);
    ASSERT_TRUE(loadSoundSlot(1, putSound("brel_gm1.mid", oneNoteLoop(300)), true));
    ASSERT_TRUE(loadSoundSlot(50, putSound("door50.wav", sineWav(0.2, kEffectTone)), false));

    const long musicStart = recordedFrames(recordingFile, format);
    playSlotPrimary(1);
    waitMs(750);
    EXPECT_EQ(primarySoundSlot(), 1) << "still playing after more than twice its length";
    const long effectStart = recordedFrames(recordingFile, format);
    playSlotSecondary(50);
    waitMs(100);
    EXPECT_EQ(primarySoundSlot(), 1);
    waitMs(500);
    const long stop = recordedFrames(recordingFile, format);
    stopAllSound();
    EXPECT_EQ(primarySoundSlot(), -1);
    waitMs(300);
    closeDownSound();

    const Recording r = readRecording(recordingFile, format);
    const auto at = [&](long mark, double seconds) { return mark + r.framesIn(seconds); };
    const int firstNote = r.peak(musicStart, at(musicStart, 0.15));
    ASSERT_GT(firstNote, 1000) << "the MIDI music sounds";
    // A piece that had stopped at its end would be a fading tail by now; a fresh attack shows
    // that it started over.
    EXPECT_GT(r.peak(at(musicStart, 0.45), effectStart), firstNote / 2);

    const double effectLevel =
        r.toneLevel(at(effectStart, 0.05), at(effectStart, 0.15), kEffectTone);
    const double musicAlone = r.toneLevel(musicStart, at(musicStart, 0.2), kEffectTone);
    EXPECT_GT(effectLevel, 2000) << "the effect sounds";
    EXPECT_LT(musicAlone * 10, effectLevel);
    // The music goes on under and after the effect, which plays once.
    EXPECT_GT(r.peak(at(effectStart, 0.25), stop), firstNote / 2);
    EXPECT_LT(r.toneLevel(at(effectStart, 0.3), stop, kEffectTone) * 10, effectLevel);

    ASSERT_GT(r.frames(), at(stop, 0.2)) << "the recording goes on after the stop";
    EXPECT_EQ(r.peak(at(stop, 0.06), r.frames()), 0) << "nothing sounds after stop-all";
}

TEST_F(SoundTest, APrimaryPlayReplacesTheMusicAndRestartsItsOwnSlot) {
    recordToDisk();
    ASSERT_TRUE(startSound());
    const OutputFormat format = outputFormat();
    ASSERT_TRUE(loadSoundSlot(0, putSound("morva_g0.mid", oneNoteLoop(1000)), true));
    ASSERT_TRUE(loadSoundSlot(1, putSound("brel_gm1.mid", oneNoteLoop(300)), true));
    ASSERT_TRUE(loadSoundSlot(52, putSound("start52.wav", sineWav(0.2, kEffectTone)), false));

    // Music restarted half-way through its long silent stretch begins again at once.
    const long firstStart = recordedFrames(recordingFile, format);
    playSlotPrimary(0);
    waitMs(500);
    const long beforeRestart = recordedFrames(recordingFile, format);
    playSlotPrimary(0);
    // Marked after the call, which opens the piece afresh and may take a while.
    const long restart = recordedFrames(recordingFile, format);
    EXPECT_EQ(primarySoundSlot(), 0);
    waitMs(200);

    // Other music replaces it, and the start sound played as primary replaces that; playing
    // the start sound again while it sounds starts it over.
    playSlotPrimary(1);
    EXPECT_EQ(primarySoundSlot(), 1);
    waitMs(200);
    playSlotPrimary(52);
    EXPECT_EQ(primarySoundSlot(), 52);
    waitMs(100);
    playSlotPrimary(52);
    EXPECT_EQ(Mix_Playing(-1), 1) << "started over, not layered";
    waitMs(250);
    EXPECT_EQ(primarySoundSlot(), -1) << "the start sound plays once";
    const long quietFrom = recordedFrames(recordingFile, format);
    waitMs(400);
    closeDownSound();

    const Recording r = readRecording(recordingFile, format);
    const auto at = [&](long mark, double seconds) { return mark + r.framesIn(seconds); };
    const int firstNote = r.peak(firstStart, at(firstStart, 0.15));
    ASSERT_GT(firstNote, 1000);
    EXPECT_LT(r.peak(at(firstStart, 0.4), beforeRestart), firstNote / 3) << "only the tail";
    EXPECT_GT(r.peak(restart, at(restart, 0.15)), firstNote / 2) << "a fresh attack";

    // Started over: the tone lasts its 0.2 s plus the time before the restart.
    EXPECT_GT(toneSpan(r, kEffectTone, 2000), 0.27);
    EXPECT_LT(toneSpan(r, kEffectTone, 2000), 0.45);
    // With the music cut off, nothing sounds once the start sound has ended.
    EXPECT_EQ(r.peak(at(quietFrom, 0.05), r.frames()), 0);
}
