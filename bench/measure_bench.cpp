// The measurements of korvane-cli info against one plain min/max pass over the same
// 0xC0000 bytes (BM_MinMaxPass). The goal: measuring the largest capture takes at most 3
// times that pass. Every run reads the 786,432 bytes of the sample area, so the ratio of
// the times is the ratio of bytes_per_second the other way round. The 16 Bit Logic noise
// (every input changing at almost every sample) is the worst case, shown but not held to
// the goal.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "analysis/measurements.h"
#include "bench/bench_support.h"
#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"
#include "simulator/simulated_device.h"

namespace {

simulated_device device;  // static: the device holds both memories

// A capture of the simulated signals at the fastest rate.
void capture(int8_t mode) { capture_from_simulator(device, mode, TRIGGER_NONE, 0, 0); }

// The baseline: the loop a compiler turns into packed minimum and maximum.
__attribute__((noinline)) void min_max_pass(const uint8_t* s, int32_t count, uint8_t& lo, uint8_t& hi) {
    uint8_t l = 255, h = 0;
    for (int32_t i = 0; i < count; ++i) {
        l = s[i] < l ? s[i] : l;
        h = s[i] > h ? s[i] : h;
    }
    lo = l;
    hi = h;
}

void report(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * SAMPLE_AREA_SIZE);
}

void BM_MinMaxPass(benchmark::State& state) {
    capture(MODE_SINGLE);
    for (auto _ : state) {
        uint8_t lo, hi;
        min_max_pass(dso_structure.sample_area, SAMPLE_AREA_SIZE, lo, hi);
        benchmark::DoNotOptimize(lo);
        benchmark::DoNotOptimize(hi);
    }
    report(state);
}
BENCHMARK(BM_MinMaxPass)->Unit(benchmark::kMicrosecond);

void measure_record(benchmark::State& state) {
    static capture_measurements figures;
    for (auto _ : state) {
        measure_capture(dso_structure, figures);
        benchmark::DoNotOptimize(figures);
    }
    report(state);
}

// A simulator capture; arg 1: the portable code instead of SSE2.
void BM_MeasureCapture(benchmark::State& state) {
    capture(static_cast<int8_t>(state.range(0)));
    set_measurements_portable(state.range(1) != 0);
    measure_record(state);
    set_measurements_portable(false);
}
BENCHMARK(BM_MeasureCapture)
    ->ArgNames({"mode", "portable"})
    ->Args({MODE_SINGLE, 0})
    ->Args({MODE_LOGIC16, 0})
    ->Args({MODE_DUAL, 0})
    ->Args({MODE_MIXED, 0})
    ->Args({MODE_SINGLE, 1})
    ->Args({MODE_LOGIC16, 1})
    ->Unit(benchmark::kMicrosecond);

// Random words: every input changes at about every other sample.
void BM_MeasureLogicNoise(benchmark::State& state) {
    uint32_t seed = 0x6E6F6973u;
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) {
        seed = seed * 1664525u + 1013904223u;
        dso_structure.sample_area[n] = static_cast<uint8_t>(seed >> 24);
    }
    dso_structure.capture_mode = MODE_LOGIC16;
    measure_record(state);
}
BENCHMARK(BM_MeasureLogicNoise)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
