// The author's own effects, numbered 53 to 99 by their file names: which files count, and a tag
// that plays one.
#include "game_fixture.h"

#include <algorithm>

#include "sound/numbered_effects.h"
#include "support/recorded_encode.h"

using namespace game;

TEST(NumberedEffects, AFileCountsWhenItsNameEndsInTheSlotsNumber) {
    const fs::path dir =
        fs::temp_directory_path() / ("tolvane-numbered-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "Sound" / "folder70.wav");
    for (const char* name :
         {"rain53.wav", "bell60.WAV", "tune99.mid", "snow53.wav", "52.wav", "x100.wav", "r053.wav",
          "door53.mp3", "plain.wav", "7.wav", "bird61.Opus", "bell60.flac"})
        writeBytes(dir / "Sound" / name, "x");
    const std::vector<NumberedEffect> effects = findNumberedEffects(dir.string());
    ASSERT_EQ(effects.size(), 4u);
    EXPECT_EQ(effects[0].slot, 53);
    EXPECT_EQ(effects[0].file, "Sound/rain53.wav");
    EXPECT_EQ(effects[0].ignored, std::vector<std::string>{"Sound/snow53.wav"});
    EXPECT_EQ(effects[1].slot, 60);
    EXPECT_EQ(effects[1].file, "Sound/bell60.WAV");
    EXPECT_EQ(effects[1].ignored, std::vector<std::string>{"Sound/bell60.flac"});
    EXPECT_EQ(effects[2].slot, 61);
    EXPECT_EQ(effects[2].file, "Sound/bird61.Opus");
    EXPECT_EQ(effects[3].slot, 99);
    EXPECT_EQ(effects[3].file, "Sound/tune99.mid");
    fs::remove_all(dir);
    EXPECT_TRUE(findNumberedEffects(dir.string()).empty()); // no folder at all
}

class NumberedEffectsInPlay : public ReplayTest {};

TEST_F(NumberedEffectsInPlay, PlayseOfTheSlotPlaysTheFileAndAnEmptySlotNothing) {
    writeGame(dir_, sj("あ") + "[playse 53][playse 54]\r\n[s]", "[reset]");
    writeBytes(dir_ / "Sound" / "rain53.wav", wavBytes());
    play("2 click\n", {30});
    const std::string t = trace();
    EXPECT_NE(t.find("\"slot\":53,\"path\":\"Sound/rain53.wav\",\"music\":0,\"ok\":1"),
              std::string::npos)
        << t;
    EXPECT_NE(t.find("\"event\":\"sound_play\",\"slot\":53"), std::string::npos) << t;
    EXPECT_EQ(t.find("\"slot\":54"), std::string::npos) << t;
}

TEST_F(NumberedEffectsInPlay, PlayseOfASlotFilledByAnOggFilePlaysIt) {
    writeGame(dir_, sj("あ") + "[playse 53]\r\n[s]", "[reset]");
    const std::vector<float> tone = testTone(0.2, 1000, 0.5, 1, 22050);
    const std::vector<std::uint8_t> ogg = encodeTestVorbis(tone, 1, 22050);
    writeBytes(dir_ / "Sound" / "rain53.ogg",
               std::string_view(reinterpret_cast<const char*>(ogg.data()), ogg.size()));
    play("2 click\n", {30});
    const std::string t = trace();
    EXPECT_NE(t.find("\"slot\":53,\"path\":\"Sound/rain53.ogg\",\"music\":0,\"ok\":1"),
              std::string::npos)
        << t;
    EXPECT_NE(t.find("\"event\":\"sound_play\",\"slot\":53"), std::string::npos) << t;
}
