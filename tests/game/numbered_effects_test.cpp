// The author's own effects, numbered 53 to 99 by their file names: which files count, and a tag
// that plays one.
#include "game_fixture.h"

#include <algorithm>

#include "sound/numbered_effects.h"

using namespace game;

TEST(NumberedEffects, AFileCountsWhenItsNameEndsInTheSlotsNumber) {
    const fs::path dir =
        fs::temp_directory_path() / ("tolvane-numbered-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "Sound" / "folder70.wav");
    for (const char* name : {"rain53.wav", "bell60.WAV", "tune99.mid", "snow53.wav", "52.wav",
                             "x100.wav", "r053.wav", "door53.ogg", "plain.wav", "7.wav"})
        writeBytes(dir / "Sound" / name, "x");
    const std::vector<NumberedEffect> effects = findNumberedEffects(dir.string());
    ASSERT_EQ(effects.size(), 3u);
    EXPECT_EQ(effects[0].slot, 53);
    EXPECT_EQ(effects[0].file, "Sound/rain53.wav");
    EXPECT_EQ(effects[0].ignored, std::vector<std::string>{"Sound/snow53.wav"});
    EXPECT_EQ(effects[1].slot, 60);
    EXPECT_EQ(effects[1].file, "Sound/bell60.WAV");
    EXPECT_EQ(effects[2].slot, 99);
    EXPECT_EQ(effects[2].file, "Sound/tune99.mid");
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
