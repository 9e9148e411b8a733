// The demo's two pieces of music synthesised once, as the game does when a slot takes them:
// from the load until the first block is there to play (how late the music starts), and until
// the whole pass is rendered (how long the synthesiser works for a piece it then only replays).
// On SDL's dummy audio driver, whose mixer runs as a real device's does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "sound/midi_synth.h"
#include "sound/sound.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Piece {
    const char* path;
    double seconds; // its length, for the counters
};
constexpr Piece kPieces[] = {{".\\Sound\\morva_g0.mid", 29.09}, {".\\Sound\\brel_gm1.mid", 28.8}};

void BM_RenderDemoPiece(benchmark::State& state) {
    const Piece& piece = kPieces[state.range(0)];
    double firstBlock = 0, whole = 0;
    for (auto _ : state) {
        if (!startSound()) {
            state.SkipWithError("no sound");
            return;
        }
        const std::uint64_t before = midiFramesSynthesised();
        const Clock::time_point start = Clock::now();
        if (!loadSoundSlot(0, piece.path, true)) {
            state.SkipWithError("the piece does not load");
            return;
        }
        playSlotPrimary(0);
        while (midiFramesSynthesised() == before)
            std::this_thread::yield();
        const Clock::time_point first = Clock::now();
        while (midiRenderingsPending() > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const Clock::time_point end = Clock::now();
        closeDownSound();
        firstBlock += std::chrono::duration<double>(first - start).count();
        whole += std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["first_block_ms"] = firstBlock / n * 1000;
    state.counters["render_ms"] = whole / n * 1000;
    state.counters["of_its_length_pct"] = whole / n / piece.seconds * 100;
}
BENCHMARK(BM_RenderDemoPiece)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    fs::current_path(fs::path(TOLVANE_BINARY_DIR) / "demo" / "game");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
