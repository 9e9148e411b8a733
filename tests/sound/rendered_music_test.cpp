// Music synthesised once and played back: what reaches the speaker across the seam where a
// pass starts over, and the synthesiser's work while a rendering loops.
#include "sound/midi_synth.h"
#include "sound/sound.h"
#include "sound/sound_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

TEST_F(SoundTest, RenderedMusicLoopsWithoutASeamAndTheSynthesiserIdle) {
    recordToDisk();
    ASSERT_TRUE(startSound());
    const OutputFormat format = outputFormat();
    ASSERT_TRUE(format.signed16);
    // An organ note that never ends, in a piece of 400 ms (a tick is 5 ms): at full level where
    // the piece starts over, cut off there it would step to silence within a sample.
    constexpr int kPieceMs = 400;
    const std::vector<std::uint8_t> heldOn = {0x00, 0xC0, 16,   0x00, 0x90, 45,
                                              100,  80,   0xFF, 0x2F, 0x00};
    ASSERT_TRUE(loadSoundSlot(0, putSound("morva_g0.mid", midiFile(100, {heldOn})), true));

    const long start = recordedFrames(recordingFile, format);
    playSlotPrimary(0);
    ASSERT_TRUE(waitUntil([] { return midiRenderingsPending() == 0; }));
    const std::uint64_t synthesised = midiFramesSynthesised();
    ASSERT_TRUE(waitRecorded(recordingFile, format, 1.2));
    EXPECT_EQ(primarySoundSlot(), 0);
    EXPECT_EQ(midiFramesSynthesised(), synthesised) << "the synthesiser rests while it loops";
    closeDownSound();

    const Recording r = readRecording(recordingFile, format);
    const long first = r.firstAbove(start, 0);
    ASSERT_GE(first, 0) << "the music sounds";
    const long pass = r.framesIn(kPieceMs / 1000.0);
    const int held_level = r.peak(first + pass / 4, first + pass / 2);
    ASSERT_GT(held_level, 500);
    // The held note's own steps, against those where each of two passes gives way to the next.
    const int ownStep = r.largestStep(first + pass / 4, first + pass / 2);
    for (const long seam : {first + pass, first + 2 * pass}) {
        SCOPED_TRACE(seam - first);
        EXPECT_LE(r.largestStep(seam - 300, seam + 300), ownStep * 3 / 2);
        EXPECT_GT(r.peak(seam - 300, seam), held_level / 4) << "no gap before the seam";
        EXPECT_GT(r.peak(seam, seam + 300), held_level / 4) << "no gap after it";
    }
    // A fresh attack each pass: the piece did start over.
    EXPECT_GT(r.peak(first + pass, first + pass + r.framesIn(0.05)), held_level / 2);
}

TEST_F(SoundTest, APieceTooLongToRenderIsSynthesisedAsItPlays) {
    recordToDisk();
    ASSERT_TRUE(startSound());
    const OutputFormat format = outputFormat();
    // Eleven minutes are past what one rendering may hold.
    const TestNote note[] = {{0, 200, 60}};
    ASSERT_TRUE(loadSoundSlot(0, putSound("morva_g0.mid", standardMidi(note, 660000)), true));
    EXPECT_EQ(midiRenderingsPending(), 0);
    const std::uint64_t before = midiFramesSynthesised();
    const long start = recordedFrames(recordingFile, format);
    playSlotPrimary(0);
    ASSERT_TRUE(waitRecorded(recordingFile, format, 0.3));
    EXPECT_GT(midiFramesSynthesised(), before);
    closeDownSound();
    const Recording r = readRecording(recordingFile, format);
    EXPECT_GT(r.peak(start, start + r.framesIn(0.3)), 1000);
}
