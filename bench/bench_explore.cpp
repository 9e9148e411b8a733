// The story explorer's time and memory: a generated story of 2000 pages and 200 choices whose
// branches join again, and the demo game.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <string>

#include "bench/joined_story.h"
#include "script/scenario_text.h"
#include "tools/explore.h"

namespace {

std::string plainOf(const std::string& utf8) {
    const EncodeResult r = encodeScenario(utf8, SourceEncoding::Utf8);
    return r.errors.empty() ? plainScenarioText(r.stored) : std::string();
}

double peakMegabytes() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_ExploreJoinedStory(benchmark::State& state) {
    const joined_story::Story story = joined_story::make(200);
    const std::string plain0 = plainOf(story.block0), plain1 = plainOf(story.block1);
    if (plain0.empty() || plain1.empty()) return state.SkipWithError("the story does not encode");
    ExploreReport r;
    for (auto _ : state) {
        r = exploreScenarioText(plain0, plain1, "s0", "e1");
        benchmark::DoNotOptimize(r.moments);
    }
    if (r.errors || r.warnings || r.pagesReached != r.pagesInText)
        return state.SkipWithError("the story does not explore clean");
    state.counters["pages"] = r.pagesInText;
    state.counters["links"] = r.linksInText;
    state.counters["moments"] = static_cast<double>(r.moments);
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(BM_ExploreJoinedStory)->Unit(benchmark::kMillisecond);

void BM_ExploreDemo(benchmark::State& state) {
    ExploreReport r;
    for (auto _ : state) {
        r = exploreGameFolder(TOLVANE_BINARY_DIR "/demo/game", false);
        benchmark::DoNotOptimize(r.moments);
    }
    if (r.errors) return state.SkipWithError("the demo does not explore clean");
    state.counters["moments"] = static_cast<double>(r.moments);
}
BENCHMARK(BM_ExploreDemo)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
