// Rollback's cost: the memory the backlog's 200 page moments hold, the moment taken as a page
// begins, and a return to a page, on a generated game of 250 pages of five full lines each,
// played headless with Ctrl held (a page a frame).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/app.h"
#include "app/options.h"
#include "base/files.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "script/script.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPages = 250;

// Pages as the demo writes them: a comment line fewer than the page's lines before each,
// the first behind [ct]; lines of twenty characters, each a click wait; a picture a page.
std::string generatedScenario() {
    const std::string characters = utf8ToSjis("雨の日に図書館で本を読むわたしと栞は物語の続きを"
                                              "考えていた星空時計塔約束手紙海辺朝")
                                       .value_or("");
    const std::size_t count = characters.size() / 2;
    std::uint32_t seed = 12345;
    std::string text = "[playbgm 1]";
    for (int page = 0; page < kPages; ++page) {
        text += page == 0 ? ";" : "[ct];";
        for (int c = 0; c < 4; ++c)
            text += ";\r\n";
        text += "[image " + std::to_string(page % 5) + " layer=base left=0 top=0]";
        for (int line = 0; line < 5; ++line) {
            for (int i = 0; i < 20; ++i) {
                seed = seed * 1103515245u + 12345u;
                text += characters.substr((seed >> 16) % count * 2, 2);
            }
            text += "\r\n";
        }
    }
    return text;
}

struct Run {
    fs::path dir;
    fs::path back;
    ProgramOptions options;
};
Run g_run;

void frame() {
    stepProgram(false);
}

// Skips with Ctrl until the backlog is full: 200 pages, each with its moment.
void fillBacklog() {
    injectKey(kKeyLeftCtrl, true);
    for (int i = 0; i < 2 * kPages && backlogPageCount() < kBacklogPages; ++i)
        frame();
    injectKey(kKeyLeftCtrl, false);
}

bool startGame() {
    g_run.dir = fs::temp_directory_path() / ("tolvane-bench-rollback-" + std::to_string(getpid()));
    fs::remove_all(g_run.dir);
    fs::copy(fs::path(TOLVANE_BINARY_DIR) / "demo" / "game", g_run.dir,
             fs::copy_options::recursive);
    std::string stored = generatedScenario();
    for (char& b : stored)
        b = static_cast<char>(scrambleScenarioByte(static_cast<std::uint8_t>(b)));
    std::ofstream(g_run.dir / "Scenario" / "scenario0.qv_", std::ios::binary) << stored;
    g_run.back = fs::current_path();
    fs::current_path(g_run.dir);
    g_run.options.headless = true;
    if (startProgram(g_run.options) != 0) return false;
    frame();
    injectMouseTap(0); // the title's start
    for (int i = 0; i < 10 && g_frameNo != kSceneGame; ++i)
        frame();
    fillBacklog();
    return backlogPageCount() == kBacklogPages && canReturnToPage(0);
}

void stopGame() {
    finishProgram();
    fs::current_path(g_run.back);
    fs::remove_all(g_run.dir);
}

void BM_MomentsOfAFullBacklog(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(rollbackBytes());
    state.counters["pages"] = backlogPageCount();
    state.counters["kilobytes"] = static_cast<double>(rollbackBytes()) / 1024.0;
    state.counters["bytes_a_page"] = static_cast<double>(rollbackBytes()) / (kBacklogPages + 1);
}

// The moment taken at every page's beginning: captured, encoded and deflated.
void BM_PageBegins(benchmark::State& state) {
    for (auto _ : state)
        rollbackPageBegins(false, g_comfortsMemory.shownPage);
}

// A return to a page 100 pages back, the full backlog made again between returns.
void BM_ReturnToPage(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        if (backlogPageCount() < kBacklogPages) fillBacklog();
        state.ResumeTiming();
        std::string reason;
        if (!returnToPage(backlogPageCount() - 100, &reason)) state.SkipWithError(reason.c_str());
    }
}

} // namespace

BENCHMARK(BM_MomentsOfAFullBacklog)->Iterations(1);
BENCHMARK(BM_PageBegins)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReturnToPage)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!startGame()) {
        std::fprintf(stderr, "bench_rollback: the generated game did not fill the backlog (%d)\n",
                     backlogPageCount());
        stopGame();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stopGame();
    return 0;
}
