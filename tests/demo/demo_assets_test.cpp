// The demo game folder that the build makes: every file the engine loads, with the exact names,
// in forms the engine can read.
#include <gtest/gtest.h>

#include <SDL.h>

#include <string>
#include <vector>

#include "script/scenario_text.h"
#include "sound/midi_check.h"

namespace {

const std::string kGame = std::string(TOLVANE_BINARY_DIR) + "/demo/game/";

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

Surface loadRgb(const std::string& name) {
    Surface raw(SDL_LoadBMP((kGame + "CG/" + name).c_str()));
    if (!raw) return nullptr;
    return Surface(SDL_ConvertSurfaceFormat(raw.get(), SDL_PIXELFORMAT_RGB888, 0));
}

SDL_Color pixelAt(SDL_Surface* s, int x, int y) {
    auto v = static_cast<const std::uint32_t*>(s->pixels)[y * (s->pitch / 4) + x];
    return {static_cast<Uint8>(v >> 16), static_cast<Uint8>(v >> 8), static_cast<Uint8>(v), 255};
}

bool isKey(SDL_Color c) {
    return c.r == 255 && c.g == 0 && c.b == 255;
}

TEST(DemoAssets, PicturesHaveTheirSizes) {
    struct Expect {
        const char* name;
        int width;
        int height;
    };
    const Expect pictures[] = {
        {"背景0.bmp", 800, 600},        {"背景1.bmp", 800, 600},   {"背景2.bmp", 800, 600},
        {"背景3.bmp", 800, 600},        {"背景5.bmp", 800, 600},   {"背景6.bmp", 800, 600},
        {"背景7.bmp", 800, 600},        {"立ち絵0.bmp", 560, 870}, {"立ち絵1.bmp", 560, 870},
        {"テキスト背景.bmp", 800, 600}, {"icon.bmp", 40, 40},      {"click.bmp", 128, 64},
        {"選択背景.bmp", 256, 64},      {"title.bmp", 800, 600},
    };
    for (const Expect& e : pictures) {
        Surface s = loadRgb(e.name);
        ASSERT_TRUE(s) << e.name << ": " << SDL_GetError();
        EXPECT_EQ(s->w, e.width) << e.name;
        EXPECT_EQ(s->h, e.height) << e.name;
    }
}

TEST(DemoAssets, KeyedPicturesMeetTheKeyWithoutAFringe) {
    // Every pixel is either exactly the key or plainly not magenta: a blended edge would stay
    // visible as a pink rim once the key is taken out.
    for (const char* name :
         {"立ち絵0.bmp", "立ち絵1.bmp", "テキスト背景.bmp", "icon.bmp", "click.bmp"}) {
        Surface s = loadRgb(name);
        ASSERT_TRUE(s) << name;
        int key = 0, pinkish = 0, other = 0;
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x) {
                SDL_Color c = pixelAt(s.get(), x, y);
                if (isKey(c))
                    ++key;
                else if (c.r > 160 && c.b > 160 && c.g < 90)
                    ++pinkish;
                else
                    ++other;
            }
        EXPECT_TRUE(isKey(pixelAt(s.get(), 0, s->h - 1)) || std::string(name) == "icon.bmp")
            << name;
        EXPECT_GT(key, 0) << name;
        EXPECT_GT(other, 0) << name;
        EXPECT_EQ(pinkish, 0) << name;
    }
    // The engine shows only the top-left 32 x 32 cell of the click icon: the icon must be there.
    Surface click = loadRgb("click.bmp");
    int drawn = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            drawn += !isKey(pixelAt(click.get(), x, y));
    EXPECT_GT(drawn, 100);
    // The pointer's tip is at its top-left corner, where the hit test starts.
    Surface icon = loadRgb("icon.bmp");
    EXPECT_FALSE(isKey(pixelAt(icon.get(), 3, 3)));
}

// Length in seconds of a Standard MIDI File: the longest track, at its tempo.
double midiSeconds(const std::vector<std::uint8_t>& f) {
    auto be = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int k = 0; k < n; ++k)
            v = v << 8 | f.at(at + k);
        return v;
    };
    const double division = be(12, 2);
    double tempo = 500000;
    std::uint32_t longest = 0;
    for (std::size_t at = 14; at + 8 <= f.size();) {
        std::size_t end = at + 8 + be(at + 4, 4);
        std::size_t p = at + 8;
        std::uint32_t tick = 0;
        std::uint8_t status = 0;
        while (p < end) {
            std::uint32_t delta = 0;
            do
                delta = delta << 7 | (f.at(p) & 0x7F);
            while (f.at(p++) & 0x80);
            tick += delta;
            if (f.at(p) & 0x80) status = f.at(p++);
            if (status == 0xFF) {
                std::uint8_t type = f.at(p++), len = f.at(p++);
                if (type == 0x51) tempo = be(p, 3);
                p += len;
            } else {
                p += (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
            }
        }
        longest = std::max(longest, tick);
        at = end;
    }
    return longest / division * tempo / 1e6;
}

TEST(DemoAssets, MusicIsStandardMidiOfTwentyToFortySeconds) {
    for (const char* name : {"morva_g0.mid", "brel_gm1.mid"}) {
        std::string bytes;
        ASSERT_TRUE(readWholeFile(kGame + "Sound/" + name, bytes)) << name;
        std::vector<std::uint8_t> f(bytes.begin(), bytes.end());
        EXPECT_EQ(standardMidiProblem(f), "") << name;
        double seconds = midiSeconds(f);
        EXPECT_GE(seconds, 20.0) << name;
        EXPECT_LE(seconds, 40.0) << name;
    }
}

TEST(DemoAssets, EffectsAreAudible16BitPcm) {
    for (const char* name : {"door50.wav", "gameover51.wav", "start52.wav"}) {
        SDL_AudioSpec spec;
        Uint8* data = nullptr;
        Uint32 length = 0;
        ASSERT_TRUE(SDL_LoadWAV((kGame + "Sound/" + name).c_str(), &spec, &data, &length))
            << name << ": " << SDL_GetError();
        EXPECT_EQ(spec.format, AUDIO_S16LSB) << name;
        EXPECT_TRUE(spec.freq == 22050 || spec.freq == 44100) << name;
        int peak = 0;
        for (Uint32 i = 0; i + 1 < length; i += 2)
            peak = std::max(peak, std::abs(static_cast<std::int16_t>(data[i] | data[i + 1] << 8)));
        EXPECT_GT(peak, 16000) << name;
        EXPECT_GT(length / 2.0 / spec.freq, 0.5) << name;
        SDL_FreeWAV(data);
    }
}

TEST(DemoAssets, ScenarioFilesDecodeToTheirSources) {
    for (const char* name : {"scenario0", "end1"}) {
        std::string stored, source;
        ASSERT_TRUE(readWholeFile(kGame + "Scenario/" + name + ".qv_", stored)) << name;
        ASSERT_TRUE(
            readWholeFile(std::string(TOLVANE_SOURCE_DIR) + "/demo/" + name + ".txt", source));
        DecodeResult r =
            decodeScenario({reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()});
        EXPECT_TRUE(r.warnings.empty()) << name;
        EXPECT_EQ(r.text, source) << name;
    }
}

} // namespace
