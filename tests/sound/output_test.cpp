// What reaches the speaker, recorded by SDL's disk audio driver. The driver runs in real time,
// so events are located by marks (frames written when the test acted) with a margin for the
// device buffer, and the checks compare levels rather than exact sample positions.
#include "sound/sound.h"
#include "sound/sound_fixtures.h"

#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.75));
    EXPECT_EQ(primarySoundSlot(), 1) << "still playing after more than twice its length";
    const long effectStart = recordedFrames(recordingFile, format);
    playSlotSecondary(50);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.1));
    EXPECT_EQ(primarySoundSlot(), 1);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.5));
    const long stop = recordedFrames(recordingFile, format);
    stopAllSound();
    EXPECT_EQ(primarySoundSlot(), -1);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.3));
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
    EXPECT_EQ(r.peak(at(stop, 0.1), r.frames()), 0) << "nothing sounds after stop-all";
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
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.5));
    const long beforeRestart = recordedFrames(recordingFile, format);
    playSlotPrimary(0);
    // Marked after the call, which opens the piece afresh and may take a while.
    const long restart = recordedFrames(recordingFile, format);
    EXPECT_EQ(primarySoundSlot(), 0);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.2));

    // Other music replaces it, and the start sound played as primary replaces that; playing
    // the start sound again while it sounds starts it over.
    playSlotPrimary(1);
    EXPECT_EQ(primarySoundSlot(), 1);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.2));
    const long startSound = recordedFrames(recordingFile, format);
    playSlotPrimary(52);
    EXPECT_EQ(primarySoundSlot(), 52);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.1));
    const long startedOver = recordedFrames(recordingFile, format);
    playSlotPrimary(52);
    EXPECT_EQ(Mix_Playing(-1), 1) << "started over, not layered";
    EXPECT_TRUE(waitUntil([] { return primarySoundSlot() == -1; })) << "the start sound plays once";
    const long quietFrom = recordedFrames(recordingFile, format);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.4));
    closeDownSound();

    const Recording r = readRecording(recordingFile, format);
    const auto at = [&](long mark, double seconds) { return mark + r.framesIn(seconds); };
    const int firstNote = r.peak(firstStart, at(firstStart, 0.15));
    ASSERT_GT(firstNote, 1000);
    EXPECT_LT(r.peak(at(firstStart, 0.4), beforeRestart), firstNote / 3) << "only the tail";
    EXPECT_GT(r.peak(restart, at(restart, 0.15)), firstNote / 2) << "a fresh attack";

    // Started over: the tone lasts its 0.2 s plus the time before the restart (as recorded,
    // within a device buffer each side).
    const double untilRestart = static_cast<double>(startedOver - startSound) / r.rate;
    EXPECT_GT(toneSpan(r, kEffectTone, 2000), 0.2 + untilRestart - 0.06);
    EXPECT_LT(toneSpan(r, kEffectTone, 2000), 0.2 + untilRestart + 0.06);
    // With the music cut off, nothing sounds once the start sound has ended.
    EXPECT_EQ(r.peak(at(quietFrom, 0.1), r.frames()), 0);
}

namespace {
// Root mean square of the first channel over [from, to).
double rms(const Recording& r, long from, long to) {
    from = std::clamp(from, 0L, r.frames());
    to = std::clamp(to, from, r.frames());
    if (to == from) return 0;
    double sum = 0;
    for (long i = from; i < to; ++i) {
        const double v = r.samples[i * r.channels];
        sum += v * v;
    }
    return std::sqrt(sum / static_cast<double>(to - from));
}

// A tone's mean level over [from, to), measured in windows of 0.1 s: a note that starts over
// with another phase adds to it rather than cancelling in one long sum.
double toneLevelIn(const Recording& r, long from, long to, double frequency) {
    const long window = r.framesIn(0.1);
    double sum = 0;
    int windows = 0;
    for (long at = from; at + window <= to; at += window, ++windows)
        sum += r.toneLevel(at, at + window, frequency);
    return windows ? sum / windows : 0;
}
} // namespace

TEST_F(SoundTest, MusicPlayedAsAnEffectSoundsOverTheMusicUntilEverythingStops) {
    recordToDisk();
    ASSERT_TRUE(startSound());
    const OutputFormat format = outputFormat();
    ASSERT_TRUE(format.signed16);
    // Two organ pieces, whose notes keep their level while held, on keys whose partials stay
    // apart: 53 (174.6 Hz), held for nearly the whole of its four seconds, and 68 (415.3 Hz),
    // starting over every quarter second with a General MIDI reset. Each start over of the one
    // must leave the other's notes alone.
    constexpr int kOrgan = 16;
    constexpr double kLow = 174.61, kHigh = 415.30;
    const TestNote low[] = {{0, 3950, 53}};
    const TestNote high[] = {{0, 200, 68}};
    ASSERT_TRUE(loadSoundSlot(0, putSound("morva_g0.mid", standardMidi(low, 4000, kOrgan)), true));
    ASSERT_TRUE(
        loadSoundSlot(1, putSound("brel_gm1.mid", standardMidi(high, 250, kOrgan, true)), true));

    // Each stretch is measured over one second from 0.2 s after its mark, while the low note is
    // held and over four whole rounds of the high piece.
    std::vector<long> marks;
    const auto mark = [&] { marks.push_back(recordedFrames(recordingFile, format)); };
    mark();
    playSlotPrimary(0); // [playbgm 0]
    ASSERT_TRUE(waitRecorded(recordingFile, format, 1.3));
    mark();
    playSlotSecondary(1); // [playse 1]
    ASSERT_TRUE(waitRecorded(recordingFile, format, 1.3));
    EXPECT_EQ(primarySoundSlot(), 0);
    EXPECT_EQ(musicPlayingOverPrimary(), 1);
    mark();
    playSlotPrimary(0); // [playbgm 0] again: the primary starts over, the piece over it goes on
    ASSERT_TRUE(waitRecorded(recordingFile, format, 1.3));
    mark();
    stopAllSound(); // [stopbgm]
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.3));
    mark();
    playSlotSecondary(1); // alone, for its own level
    ASSERT_TRUE(waitRecorded(recordingFile, format, 1.3));
    mark();
    stopAllSound();
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.3));
    closeDownSound();

    const Recording r = readRecording(recordingFile, format);
    struct Stretch {
        double level, low, high;
    };
    const auto measure = [&](long at) {
        const long from = at + r.framesIn(0.2), to = from + r.framesIn(1.0);
        return Stretch{rms(r, from, to), toneLevelIn(r, from, to, kLow),
                       toneLevelIn(r, from, to, kHigh)};
    };
    const Stretch primaryAlone = measure(marks[0]);
    const Stretch both = measure(marks[1]);
    const Stretch afterPlaybgm = measure(marks[2]);
    const Stretch effectAlone = measure(marks[4]);

    ASSERT_GT(primaryAlone.level, 300) << "the primary music sounds";
    ASSERT_GT(effectAlone.level, 300) << "the music played as an effect sounds alone";
    EXPECT_GT(both.level, 1.2 * std::max(primaryAlone.level, effectAlone.level))
        << primaryAlone.level << " " << effectAlone.level << " " << both.level;
    // Each piece is heard in the mix at its own level.
    EXPECT_GT(both.low, 0.8 * primaryAlone.low) << "the primary's held note goes on";
    EXPECT_GT(both.high, 0.8 * effectAlone.high);
    EXPECT_LT(primaryAlone.high * 5, effectAlone.high) << "the primary has no high note";
    EXPECT_GT(afterPlaybgm.low, 0.8 * primaryAlone.low);
    EXPECT_GT(afterPlaybgm.high, 0.8 * effectAlone.high) << "goes on after the primary restarts";
    EXPECT_GT(afterPlaybgm.level, 1.2 * std::max(primaryAlone.level, effectAlone.level));

    const auto at = [&](long m, double seconds) { return m + r.framesIn(seconds); };
    EXPECT_EQ(r.peak(at(marks[3], 0.1), marks[4]), 0) << "nothing sounds after stop-all";
    EXPECT_EQ(r.peak(at(marks[5], 0.1), r.frames()), 0);
}
