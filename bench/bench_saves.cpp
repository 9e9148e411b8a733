// The cost of the player's saves in the headless game on the software renderer: a save (the
// moment, the thumbnail read back and scaled, the file deflated and written whole) as the frame
// it is made in pays it, and a load until its frame is drawn. Played in a copy of the demo.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/options.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"

namespace fs = std::filesystem;

namespace {

ProgramOptions g_options;
fs::path g_folder;

// The demo a few pages in: clicking every other frame.
bool startDemo() {
    const fs::path demo = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
    g_folder = fs::temp_directory_path() / ("tolvane-bench-saves-" + std::to_string(::getpid()));
    fs::remove_all(g_folder);
    fs::copy(demo, g_folder, fs::copy_options::recursive);
    fs::current_path(g_folder);
    g_options.headless = true;
    if (startProgram(g_options) != 0) return false;
    for (int frame = 1; frame <= 400; ++frame) {
        injectMouseButton(0, frame % 2 == 0);
        stepProgram(false);
    }
    return g_frameNo == kSceneGame;
}

void BM_SaveInItsFrame(benchmark::State& state) {
    for (auto _ : state) {
        saveThisFrame(1);
        finishSaveThisFrame();
    }
    if (!g_saveResult.failure.empty()) state.SkipWithError(g_saveResult.failure.c_str());
    state.counters["file_bytes"] = static_cast<double>(fs::file_size(g_folder / "Save01.sav"));
}

void BM_LoadUntilDrawn(benchmark::State& state) {
    std::string reason, note;
    // Two moments pages apart, loaded in turn, so that each load changes the picture.
    saveThisFrame(1);
    finishSaveThisFrame();
    for (int frame = 1; frame <= 200; ++frame) {
        injectMouseButton(0, frame % 2 == 0);
        stepProgram(false);
    }
    saveThisFrame(2);
    finishSaveThisFrame();
    int slot = 1;
    // A headless frame is drawn when it is read back: the read-back is the frame on screen.
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kScreenWidth) * kScreenHeight);
    for (auto _ : state) {
        slot = 3 - slot;
        if (!loadSlot(slot, &reason, &note)) {
            state.SkipWithError(reason.c_str());
            break;
        }
        stepProgram(false);
        readPixels(pixels.data(), kScreenWidth * 4);
    }
}

BENCHMARK(BM_SaveInItsFrame)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_LoadUntilDrawn)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!startDemo()) {
        std::fprintf(stderr, "bench_saves: the demo did not start\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    finishProgram();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(g_folder);
    return 0;
}
