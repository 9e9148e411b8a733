// Slot bookkeeping, failures and the no-device case, on the dummy audio driver.
#include "sound/midi_check.h"
#include "sound/midi_synth.h"
#include "sound/sound.h"
#include "sound/sound_fixtures.h"

#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {
const char* const kLoadFailed = "MIDIファイルのロードに失敗";

std::vector<std::uint8_t> shortMidi() {
    const TestNote notes[] = {{0, 100, 48}};
    return standardMidi(notes, 300);
}

// Every operation on a sound system that did not start must be harmless and silent.
void expectEveryCallIsANoOp(const std::string& musicPath, const std::string& effectPath) {
    shownMessages().clear();
    EXPECT_FALSE(soundStarted());
    EXPECT_FALSE(loadSoundSlot(1, musicPath, true));
    EXPECT_FALSE(loadSoundSlot(50, effectPath, false));
    EXPECT_FALSE(loadSoundSlot(51, ".\\Sound\\missing.wav", false));
    EXPECT_FALSE(loadSoundSlot(kSoundSlotCount, effectPath, false));
    for (int slot : {-1, 0, 1, 50, kSoundSlotCount}) {
        playSlotPrimary(slot);
        playSlotSecondary(slot);
        EXPECT_FALSE(soundSlotLoaded(slot));
    }
    stopAllSound();
    EXPECT_EQ(primarySoundSlot(), -1);
    EXPECT_TRUE(stopAndReleaseSlots());
    EXPECT_TRUE(shownMessages().empty()) << shownMessages().front();
}
} // namespace

TEST_F(SoundTest, WithoutAnAudioDeviceEveryCallIsAHarmlessNoOp) {
    const std::string music = putSound("m.mid", shortMidi());
    const std::string effect = putSound("e.wav", sineWav(0.2, 440));

    // Never started, as when the entry skipped sound.
    expectEveryCallIsANoOp(music, effect);

    struct Case {
        const char* what;
        const char* driver;
        const char* diskFile;
        const char* message;
    };
    const Case cases[] = {
        {"no such audio driver", "no-such-driver", nullptr,
         "DirectMusicPerformance8オブジェクトの作成に失敗"},
        {"the device cannot open", "disk", "no-such-folder/output.raw",
         "DirectMusicPerformance8の初期化に失敗"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("SDL_AUDIODRIVER", c.driver, 1);
        if (c.diskFile) setenv("SDL_DISKAUDIOFILE", c.diskFile, 1);
        shownMessages().clear();
        EXPECT_FALSE(startSound());
        EXPECT_EQ(shownMessages(), std::vector<std::string>{c.message});
        expectEveryCallIsANoOp(music, effect);
        EXPECT_TRUE(closeDownSound());
    }

    // After a failed start and its close-down, sound starts normally.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(startSound());
    EXPECT_TRUE(loadSoundSlot(1, music, true));
}

TEST_F(SoundTest, StartsAgainAfterCloseDownWithEmptySlots) {
    const std::string music = putSound("m.mid", shortMidi());
    const std::string effect = putSound("e.wav", sineWav(0.2, 440));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(startSound());
        EXPECT_TRUE(startSound()) << "a second start while running changes nothing";
        EXPECT_FALSE(soundSlotLoaded(0));
        EXPECT_TRUE(loadSoundSlot(0, music, true));
        EXPECT_TRUE(loadSoundSlot(52, effect, false));
        playSlotPrimary(0);
        playSlotSecondary(52);
        EXPECT_EQ(primarySoundSlot(), 0);
        // The close-down also empties slots when stopAndReleaseSlots was not called.
        EXPECT_TRUE(closeDownSound());
        EXPECT_FALSE(soundStarted());
        EXPECT_FALSE(soundSlotLoaded(0));
        EXPECT_FALSE(soundSlotLoaded(52));
    }
    EXPECT_TRUE(shownMessages().empty());
}

TEST_F(SoundTest, AFailedLoadShowsOneMessageAndLeavesTheSlotEmpty) {
    ASSERT_TRUE(startSound());
    const std::string goodMusic = putSound("good.mid", shortMidi());
    const std::string goodEffect = putSound("good.wav", sineWav(0.2, 440));
    std::vector<std::uint8_t> truncated = shortMidi();
    truncated.resize(truncated.size() - 3);
    const std::uint8_t text[] = {'h', 'e', 'l', 'l', 'o', '\n'};

    struct Case {
        const char* what;
        std::string path;
        bool isMusic;
    };
    const Case cases[] = {
        {"missing effect", ".\\Sound\\door50.wav", false},
        {"missing music", ".\\Sound\\brel_gm1.mid", true},
        {"WAV given as music", putSound("wave.mid", sineWav(0.1, 440)), true},
        {"MIDI cut short", putSound("cut.mid", truncated), true},
        {"text given as effect", putSound("text.wav", text), false},
        {"empty effect file", putSound("empty.wav", {}), false},
        {"a folder", ".\\Sound", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The slot held a sound before, which the failed load must not leave behind.
        const int slot = c.isMusic ? 1 : 50;
        ASSERT_TRUE(loadSoundSlot(slot, c.isMusic ? goodMusic : goodEffect, c.isMusic));
        shownMessages().clear();
        EXPECT_FALSE(loadSoundSlot(slot, c.path, c.isMusic));
        EXPECT_EQ(shownMessages(), std::vector<std::string>{kLoadFailed});
        EXPECT_FALSE(soundSlotLoaded(slot));
        playSlotPrimary(slot);
        playSlotSecondary(slot);
        EXPECT_EQ(primarySoundSlot(), -1);
        EXPECT_EQ(Mix_Playing(-1), 0);
    }
}

TEST_F(SoundTest, WithoutASoundFontThePlayerIsToldOnceAndFileFaultsStillShow) {
    setenv("SDL_SOUNDFONTS", "no-such-font.sf2", 1);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(startSound());
    const std::string atStart = ::testing::internal::GetCapturedStderr();
    // One box, which says how to mend it; the reason on standard error.
    ASSERT_EQ(shownMessages().size(), 1u);
    EXPECT_NE(shownMessages()[0].find("timgm6mb-soundfont"), std::string::npos);
    EXPECT_NE(shownMessages()[0].find("SDL_SOUNDFONTS"), std::string::npos);
    EXPECT_NE(atStart.find("no-such-font.sf2"), std::string::npos) << atStart;

    const std::string wave = putSound("wave.mid", sineWav(0.1, 440));
    const std::string music = putSound("m.mid", shortMidi());
    // Every entry into a scene loads its music again: no more boxes for the missing font, but
    // a file that is not music, or is missing, is the game's fault and shows each time.
    for (int entry = 0; entry < 2; ++entry) {
        SCOPED_TRACE(entry);
        shownMessages().clear();
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(loadSoundSlot(0, music, true));
        EXPECT_FALSE(loadSoundSlot(1, wave, true));
        EXPECT_FALSE(loadSoundSlot(1, ".\\Sound\\brel_gm1.mid", true));
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(shownMessages(), (std::vector<std::string>{kLoadFailed, kLoadFailed}));
        EXPECT_NE(errors.find("./Sound/m.mid"), std::string::npos) << errors;
        EXPECT_NE(errors.find("no-such-font.sf2"), std::string::npos) << errors;
        EXPECT_NE(errors.find("./Sound/wave.mid"), std::string::npos) << errors;
        EXPECT_NE(errors.find("not a Standard MIDI File"), std::string::npos) << errors;
    }
}

TEST_F(SoundTest, SlotNumbersOutsideTheTableAndEmptySlotsDoNothing) {
    ASSERT_TRUE(startSound());
    const std::string music = putSound("m.mid", shortMidi());
    const std::string effect = putSound("e.wav", sineWav(0.2, 440));

    ::testing::internal::CaptureStderr();
    for (int slot : {-1, kSoundSlotCount, 1000}) {
        EXPECT_FALSE(loadSoundSlot(slot, effect, false)) << slot;
        EXPECT_FALSE(soundSlotLoaded(slot));
    }
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("slot 1000 is outside the table"), std::string::npos) << errors;
    EXPECT_TRUE(shownMessages().empty());

    // The last slot of the table is as good as any, and names differing in case still resolve.
    EXPECT_TRUE(loadSoundSlot(kSoundSlotCount - 1, ".\\sound\\E.WAV", false));
    ASSERT_TRUE(loadSoundSlot(0, music, true));
    playSlotPrimary(0);
    // Neither an empty slot nor a number outside the table disturbs what plays.
    for (int slot : {-1, 5, kSoundSlotCount}) {
        playSlotPrimary(slot);
        playSlotSecondary(slot);
        EXPECT_EQ(primarySoundSlot(), 0) << slot;
        EXPECT_EQ(Mix_Playing(-1), 0) << slot;
    }
}

TEST_F(SoundTest, SecondaryPlaysNeverDisturbThePrimaryPiece) {
    ASSERT_TRUE(startSound());
    ASSERT_TRUE(loadSoundSlot(0, putSound("m0.mid", shortMidi()), true));
    ASSERT_TRUE(loadSoundSlot(1, putSound("m1.mid", shortMidi()), true));
    ASSERT_TRUE(loadSoundSlot(50, putSound("door50.wav", sineWav(0.5, 440)), false));
    ASSERT_TRUE(loadSoundSlot(52, putSound("start52.wav", sineWav(0.5, 880)), false));

    playSlotPrimary(0);
    // Music named by an effect tag sounds over the primary piece, which goes on.
    playSlotSecondary(1);
    EXPECT_EQ(primarySoundSlot(), 0);
    EXPECT_TRUE(musicPlaying());
    EXPECT_EQ(musicPlayingOverPrimary(), 1);
    // A MIDI file loaded as an effect is synthesised whole and plays once, over the music.
    ASSERT_TRUE(loadSoundSlot(51, ".\\Sound\\m1.mid", false));
    playSlotSecondary(51);
    EXPECT_EQ(Mix_Playing(-1), 1);
    EXPECT_EQ(primarySoundSlot(), 0);

    // The start sound played as primary cuts the primary music off, not the effect that sounds
    // (the half-second door; the short MIDI effect may have ended by now), nor the music over it.
    playSlotSecondary(50);
    playSlotPrimary(52);
    EXPECT_EQ(primarySoundSlot(), 52);
    EXPECT_FALSE(musicPlaying());
    EXPECT_GE(Mix_Playing(-1), 2);
    EXPECT_EQ(musicPlayingOverPrimary(), 1);

    // More effects than channels, and more music than may sound over the primary: the oldest
    // give way, and none takes the primary's place.
    for (int i = 0; i < 40; ++i) {
        playSlotSecondary(50);
        playSlotSecondary(i % 2);
    }
    EXPECT_GT(Mix_Playing(-1), 8);
    EXPECT_EQ(musicPlayingOverPrimary(), kPiecesOverPrimary);
    EXPECT_EQ(primarySoundSlot(), 52);

    // Reloading the primary slot stops it and forgets it; music over the primary, reloaded
    // under it, goes on.
    ASSERT_TRUE(loadSoundSlot(52, ".\\Sound\\start52.wav", false));
    EXPECT_EQ(primarySoundSlot(), -1);
    ASSERT_TRUE(loadSoundSlot(1, ".\\Sound\\m1.mid", true));
    EXPECT_EQ(musicPlayingOverPrimary(), kPiecesOverPrimary);

    playSlotPrimary(52);
    stopAllSound();
    EXPECT_EQ(primarySoundSlot(), -1);
    EXPECT_EQ(Mix_Playing(-1), 0);
    EXPECT_FALSE(musicPlaying());
    EXPECT_EQ(musicPlayingOverPrimary(), 0);
    EXPECT_TRUE(shownMessages().empty());
}

TEST_F(SoundTest, AnEffectPlayedAsPrimaryIsPrimaryOnlyWhileItSounds) {
    ASSERT_TRUE(startSound());
    ASSERT_TRUE(loadSoundSlot(52, putSound("start52.wav", sineWav(0.15, 880)), false));
    playSlotPrimary(52);
    EXPECT_EQ(primarySoundSlot(), 52);
    EXPECT_TRUE(waitUntil([] { return primarySoundSlot() == -1; }));
}

// A piece the synthesiser would start over without end, or could not read when it plays it (on
// the audio thread, where it would try again and again), is a failed load with its reason.
TEST_F(SoundTest, MusicTheSynthesiserCannotRepeatIsAFailedLoad) {
    using Bytes = std::vector<std::uint8_t>;
    ASSERT_TRUE(startSound());
    ASSERT_TRUE(synthReady());
    // A tempo event of four bytes, which the reader passes over and the synthesiser refuses.
    const Bytes longTempo = {0x00, 0xFF, 0x51, 0x04, 0x07, 0xA1, 0x20, 0x00, 0x00, 0x90,
                             60,   100,  0x60, 0x80, 60,   0,    0x00, 0xFF, 0x2F, 0x00};
    Bytes huge = shortMidi();
    huge.resize(kMaxMidiFileBytes + 1);
    struct Case {
        const char* what;
        Bytes midi;
        const char* reasonHas;
    };
    const Case cases[] = {
        {"a piece that lasts no time", midiFile(96, {{0x00, 0xFF, 0x2F, 0x00}}), "no time"},
        {"128 tracks", midiFile(96, std::vector<Bytes>(128, noteTrack(96))), "128 tracks"},
        {"a bad event in a track", midiFile(96, {{0x00, 0xF4, 0x00, 0xFF, 0x2F, 0x00}}),
         "unknown event"},
        {"an event the synthesiser refuses", midiFile(96, {longTempo}), "synthesiser cannot play"},
        {"a file over the bound for music", huge, "4 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shownMessages().clear();
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(loadSoundSlot(0, putSound("morva_g0.mid", c.midi), true));
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(shownMessages(), std::vector<std::string>{kLoadFailed});
        EXPECT_NE(errors.find(c.reasonHas), std::string::npos) << errors;
        EXPECT_EQ(errors.find("fluidsynth"), std::string::npos) << errors;
        playSlotPrimary(0);
        EXPECT_FALSE(musicPlaying());
    }

    // Timed by time code, a piece plays; so does it played over the primary piece.
    shownMessages().clear();
    ASSERT_TRUE(loadSoundSlot(0, putSound("smpte.mid", midiFile(0xE728, {noteTrack(4000)})), true));
    playSlotPrimary(0);
    playSlotSecondary(0);
    EXPECT_EQ(primarySoundSlot(), 0);
    EXPECT_EQ(musicPlayingOverPrimary(), 1);
    EXPECT_TRUE(shownMessages().empty());
}

// A WAV effect too long to decode says so, as WAV, on standard error; its box is the usual one.
TEST_F(SoundTest, AnEffectTooLongSaysItIsAWavFileAndWhy) {
    ASSERT_TRUE(startSound());
    // Eight-bit mono at 100 Hz: 130 seconds in 13 000 bytes, refused from the header.
    const auto little = [](std::uint32_t v, int size) {
        std::vector<std::uint8_t> out;
        for (int k = 0; k < size; ++k)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        return out;
    };
    constexpr std::uint32_t kRate = 100, kData = 13000;
    std::vector<std::uint8_t> wav = {'R', 'I', 'F', 'F'};
    for (const auto& part :
         {little(36 + kData, 4), std::vector<std::uint8_t>{'W', 'A', 'V', 'E', 'f', 'm', 't', ' '},
          little(16, 4), little(1, 2), little(1, 2), little(kRate, 4), little(kRate, 4),
          little(1, 2), little(8, 2), std::vector<std::uint8_t>{'d', 'a', 't', 'a'},
          little(kData, 4), std::vector<std::uint8_t>(kData, 0x80)})
        wav.insert(wav.end(), part.begin(), part.end());
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(loadSoundSlot(50, putSound("door50.wav", wav), false));
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shownMessages(), std::vector<std::string>{kLoadFailed});
    EXPECT_NE(errors.find("WAV file lasts"), std::string::npos) << errors;
    EXPECT_NE(errors.find("decoded into memory"), std::string::npos) << errors;
}

// A damaged sound font: the synthesiser's libraries would print lines of their own, one with a
// raw byte of the file; the reason is said once, in the engine's words, made safe.
TEST_F(SoundTest, ADamagedSoundFontIsReportedOnceInTheEnginesWords) {
    const std::filesystem::path system = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!std::filesystem::is_regular_file(system)) GTEST_SKIP() << "no system sound font";
    std::ifstream in(system, std::ios::binary);
    std::vector<std::uint8_t> head(300000);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    writeFile(folder / "cut.sf2", head);
    setenv("SDL_SOUNDFONTS", (folder / "cut.sf2").c_str(), 1);

    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(startSound());
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shownMessages().size(), 1u);
    EXPECT_NE(errors.find("no sound font could be loaded"), std::string::npos) << errors;
    int lines = 0;
    for (const char c : errors) {
        lines += c == '\n';
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);
    }
    EXPECT_EQ(lines, 1) << errors;
}
