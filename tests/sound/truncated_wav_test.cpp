#include "sound/sound.h"
#include "sound_fixtures.h"

// A WAV file cut inside its header cannot be played and is reported; one cut inside its samples
// plays what it holds, as any player of a half-copied file would.
TEST_F(SoundTest, TruncatedWaveFiles) {
    ASSERT_TRUE(startSound());
    const std::vector<std::uint8_t> whole = sineWav(0.3, 440);

    const std::vector<std::uint8_t> header(whole.begin(), whole.begin() + 30);
    EXPECT_FALSE(loadSoundSlot(50, putSound("header.wav", header), false));
    EXPECT_EQ(shownMessages().size(), 1u);
    EXPECT_FALSE(soundSlotLoaded(50));

    shownMessages().clear();
    const std::vector<std::uint8_t> samples(whole.begin(), whole.begin() + whole.size() / 2);
    EXPECT_TRUE(loadSoundSlot(51, putSound("samples.wav", samples), false));
    EXPECT_TRUE(shownMessages().empty());
    playSlotSecondary(51);
}
