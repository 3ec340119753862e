// What a capture of Normal mode costs the statistics of a run: every figure of the capture
// measured (levels, periods, pulse figures of each channel) and added to the run's statistics,
// as the server's instrument does for each capture and capture --count for each of its own.
// bench/run_statistics.sh holds it against the captures a second of Normal on the simulated
// device: the goal is at most 5 % of them.
#include <benchmark/benchmark.h>

#include <memory>

#include "analysis/figures.h"
#include "analysis/statistics.h"
#include "bench/bench_support.h"

namespace {

simulated_device device;

void BM_FiguresAndStatistics(benchmark::State& state) {
    const int8_t mode = static_cast<int8_t>(state.range(0));
    capture_from_simulator(device, mode, TRIGGER_NONE, 0, 0);
    auto figures = std::make_unique<capture_figures>();
    auto statistics = std::make_unique<run_statistics>();
    for (auto _ : state) {
        measure_figures(dso_structure, *figures);
        statistics->add(*figures);
        benchmark::DoNotOptimize(statistics->figures[0].mean);
    }
    state.SetLabel(capture_mode_title(mode));
}
BENCHMARK(BM_FiguresAndStatistics)->Arg(MODE_DUAL)->Arg(MODE_SINGLE)->Arg(MODE_LOGIC16)->Arg(MODE_MIXED)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
