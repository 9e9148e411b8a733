// Effects in the author's recorded formats: found in place of the WAV the game names, heard at
// their level through the disk audio driver, and refused when they would cost too much.
#include "base/files.h"
#include "sound/sound.h"
#include "sound/sound_files.h"
#include "sound/sound_fixtures.h"
#include "support/recorded_encode.h"

#include <gtest/gtest.h>

const char* const kEffectLoadFailed = "MIDIファイルのロードに失敗";

namespace {
constexpr double kTone = 3000.0;
} // namespace

TEST_F(SoundTest, EffectsInEachRecordedFormatPlayAtTheLevelOfTheSameToneAsAWav) {
    recordToDisk();
    ASSERT_TRUE(startSound());
    const OutputFormat format = outputFormat();
    ASSERT_TRUE(format.signed16);
    // The same tone as sineWav's: half of full scale, here at rates the device converts from.
    const std::vector<float> mono = testTone(0.3, kTone, 16000.0 / 32768, 1, 48000);
    const std::vector<float> stereo = testTone(0.3, kTone, 16000.0 / 32768, 2, 22050);
    putSound("door50.wav", sineWav(0.3, kTone));
    putSound("door51.ogg", encodeTestVorbis(stereo, 2, 22050));
    putSound("door52.opus", encodeTestOpus(mono, 1, 48000));
    putSound("rain53.flac", encodeTestFlac(mono, 1, 48000));
    // Named as the game names its effects: each WAV that is not there is stood in for.
    const char* const names[] = {".\\Sound\\door50.wav", ".\\Sound\\door51.wav",
                                 ".\\Sound\\door52.wav", ".\\Sound\\rain53.wav"};
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(loadSoundSlot(50 + i, names[i], false)) << names[i];
    EXPECT_TRUE(shownMessages().empty());

    std::vector<long> starts;
    for (int i = 0; i < 4; ++i) {
        starts.push_back(recordedFrames(recordingFile, format));
        playSlotSecondary(50 + i);
        ASSERT_TRUE(waitRecorded(recordingFile, format, 0.5));
    }
    closeDownSound();
    const Recording r = readRecording(recordingFile, format);
    const auto level = [&](long start) {
        return r.toneLevel(start + r.framesIn(0.08), start + r.framesIn(0.22), kTone);
    };
    const double wav = level(starts[0]);
    ASSERT_GT(wav, 10000) << "the WAV effect sounds";
    for (int i = 1; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_NEAR(level(starts[static_cast<std::size_t>(i)]), wav, wav * 0.1);
        // It plays once, for its 0.3 s.
        EXPECT_LT(r.toneLevel(starts[static_cast<std::size_t>(i)] + r.framesIn(0.4),
                              starts[static_cast<std::size_t>(i)] + r.framesIn(0.5), kTone),
                  wav / 20);
    }
}

TEST_F(SoundTest, ARecordedEffectTooLongIsRefusedFromItsHeaderOrWhileItDecodes) {
    ASSERT_TRUE(startSound());
    // Silence at 8 kHz packs into a few kilobytes whatever its length.
    const std::vector<float> second(8000, 0.0f);
    std::vector<float> long125;
    for (int i = 0; i < 125; ++i)
        long125.insert(long125.end(), second.begin(), second.end());
    // The header tells its 125 seconds: refused before anything is decoded.
    const std::vector<std::uint8_t> told = encodeTestFlac(long125, 1, 8000);
    // The header's total is 0: measured as it decodes, and stopped once past the bound.
    const std::vector<std::uint8_t> untold = encodeTestFlac(long125, 1, 8000, false);
    // Just under the bound, without a length: loaded.
    const std::vector<float> under(long125.begin(), long125.begin() + 119 * 8000);
    // 100 seconds of 192 kHz stereo, as the header claims: under the seconds, over the samples.
    std::vector<std::uint8_t> dense =
        encodeTestFlac(std::vector<float>(19200 * 2, 0.0f), 2, 192000);
    const std::uint64_t claimed = 100 * 192000;
    for (int i = 0; i < 4; ++i) // the low 36 bits of bytes 18 to 25 of the header
        dense[25 - static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(claimed >> (8 * i));
    dense[21] = static_cast<std::uint8_t>((dense[21] & 0xF0) | (claimed >> 32));
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
        const char* reasonHas; // null: it loads
    };
    const Case cases[] = {
        {"a length told", told, "the FLAC file lasts 125 seconds, longer than the 120"},
        {"a length not told", untold,
         "the FLAC file lasts longer than the 120 seconds an effect may (decoding stopped there"},
        {"too many samples told", dense, "holds 38400000 samples, more than the 23040000"},
        {"119 seconds not told", encodeTestFlac(under, 1, 8000, false), nullptr},
        {"a damaged file", std::vector<std::uint8_t>(told.begin(), told.begin() + 30),
         "FLAC stream's header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shownMessages().clear();
        ::testing::internal::CaptureStderr();
        const bool loaded = loadSoundSlot(50, putSound("door50.flac", c.file), false);
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(loaded, c.reasonHas == nullptr) << errors;
        EXPECT_EQ(soundSlotLoaded(50), loaded);
        if (!c.reasonHas) continue;
        EXPECT_NE(errors.find(c.reasonHas), std::string::npos) << errors;
        EXPECT_NE(errors.find("door50.flac"), std::string::npos) << errors;
        EXPECT_EQ(shownMessages(), std::vector<std::string>{kEffectLoadFailed});
    }
}

TEST_F(SoundTest, TheNamedSoundOrElseTheFirstStandInThereIsTheOnePlayed) {
    struct Case {
        std::vector<const char*> present;
        bool isMusic;
        const char* want; // the file found, under Sound/
    };
    const Case cases[] = {
        {{"a.wav", "a.ogg"}, false, "a.wav"},
        {{"a.flac", "a.opus", "a.ogg"}, false, "a.ogg"},
        {{"a.flac", "a.opus"}, false, "a.opus"},
        {{"a.flac"}, false, "a.flac"},
        {{"a.mid", "a.ogg"}, true, "a.mid"},
        {{"a.flac", "a.opus"}, true, "a.opus"},
        {{"a.wav"}, true, nullptr},  // music is never stood in for by a WAV
        {{"A.OGG"}, false, "A.OGG"}, // letter case as a Windows folder has it
        {{}, false, nullptr},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(folder / "Sound");
        std::filesystem::create_directories(folder / "Sound");
        for (const char* name : c.present)
            writeFile(folder / "Sound" / name, std::vector<std::uint8_t>{1});
        const std::string named = c.isMusic ? ".\\Sound\\a.mid" : ".\\Sound\\a.wav";
        const std::string found = soundFileInUse(named, c.isMusic);
        SCOPED_TRACE(::testing::PrintToString(c.present));
        if (!c.want) {
            EXPECT_EQ(found, "");
            continue;
        }
        ASSERT_FALSE(found.empty());
        EXPECT_EQ(std::filesystem::path(systemPath(found)).filename(), c.want);
    }
}
