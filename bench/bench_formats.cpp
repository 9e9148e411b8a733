// What an author's own formats cost where a player would feel it: an 800 x 600 PNG background
// decoded as the game loads it, and a three-minute Ogg Vorbis piece from its load until it
// plays. Both made on the spot in a scratch game folder; sound on SDL's dummy driver.
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <SDL_image.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "imagelib/image.h"
#include "sound/sound.h"
#include "tools/music_render.h"

namespace fs = std::filesystem;

namespace {

// A picture that compresses as a painted background does, not as a flat one: gradients with
// noise over them, in colour without alpha, as a background is saved.
void writeBackground(const fs::path& file) {
    SDL_Surface* argb = SDL_CreateRGBSurfaceWithFormat(0, 800, 600, 32, SDL_PIXELFORMAT_ARGB8888);
    SDL_Surface* s = argb;
    std::mt19937 noise(7);
    auto* pixels = static_cast<std::uint32_t*>(s->pixels);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x) {
            const int n = static_cast<int>(noise() % 24);
            const std::uint32_t r = (x * 255 / 800 + n) & 0xFF, g = (y * 255 / 600 + n) & 0xFF,
                                b = ((x + y) * 255 / 1400 + n) & 0xFF;
            pixels[y * (s->pitch / 4) + x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(argb, SDL_PIXELFORMAT_RGB24, 0);
    IMG_SavePNG(rgb, file.c_str());
    SDL_FreeSurface(rgb);
    SDL_FreeSurface(argb);
}

// Three minutes of stereo at 44.1 kHz: a chord with a beat and a little noise.
void writeMusic(const fs::path& file) {
    RenderedPiece piece;
    const long frames = 180L * kRenderRate;
    piece.samples.resize(static_cast<std::size_t>(frames) * kRenderChannels);
    std::mt19937 noise(11);
    for (long f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / kRenderRate;
        const double v = 0.2 * std::sin(2 * M_PI * 220 * t) * std::exp(-std::fmod(t, 0.5) * 4) +
                         0.15 * std::sin(2 * M_PI * 330 * t) + 0.1 * std::sin(2 * M_PI * 440 * t) +
                         0.01 * (static_cast<double>(noise() % 1000) / 500.0 - 1.0);
        piece.samples[f * 2] = static_cast<float>(v);
        piece.samples[f * 2 + 1] = static_cast<float>(v * 0.9);
    }
    std::string reason;
    const auto ogg = encodeOggVorbis(piece, 0.4f, reason);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(ogg->data()),
               static_cast<std::streamsize>(ogg->size()));
}

void BM_LoadPngBackground(benchmark::State& state) {
    Picture picture;
    std::string error;
    for (auto _ : state) {
        if (!loadPictureFile(".\\CG\\背景0.bmp", PictureForm::Plain, picture, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(picture.argb.data());
    }
    state.counters["file_kb"] = static_cast<double>(fs::file_size("CG/背景0.png")) / 1024;
}
BENCHMARK(BM_LoadPngBackground)->Unit(benchmark::kMillisecond);

void BM_StartOggMusic(benchmark::State& state) {
    if (!startSound()) {
        state.SkipWithError("no sound");
        return;
    }
    for (auto _ : state) {
        if (!loadSoundSlot(0, ".\\Sound\\morva_g0.mid", true)) {
            state.SkipWithError("the piece does not load");
            return;
        }
        playSlotPrimary(0);
        if (!musicPlaying()) state.SkipWithError("the piece does not play");
    }
    closeDownSound();
    state.counters["file_kb"] = static_cast<double>(fs::file_size("Sound/morva_g0.ogg")) / 1024;
}
BENCHMARK(BM_StartOggMusic)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const fs::path folder =
        fs::temp_directory_path() / ("tolvane-bench-formats-" + std::to_string(::getpid()));
    fs::create_directories(folder / "CG");
    fs::create_directories(folder / "Sound");
    fs::current_path(folder);
    writeBackground("CG/背景0.png");
    writeMusic("Sound/morva_g0.ogg");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    return 0;
}
