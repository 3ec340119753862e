// The read-out of both sample memories from the simulated hardware: about 5.5 million port
// accesses through the port primitives. The goal is at most 10 ns per access, under 1% of
// what a real port costs (about 1 us).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench/bench_support.h"
#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"
#include "simulator/simulated_device.h"

namespace {

simulated_device device;  // static: the device holds both memories

// Passes the accesses of one run on to the device and counts them.
struct counting_bus final : port_bus {
    int64_t accesses = 0;
    uint8_t in(uint16_t address) override {
        ++accesses;
        return device.in(address);
    }
    void out(uint16_t address, uint8_t value) override {
        ++accesses;
        device.out(address, value);
    }
};

// A completed capture on the device, ready to be read out.
void capture(int8_t mode) { capture_from_simulator(device, mode, TRIGGER_CHANNEL_A, 0x80 + 40, 0x1000); }

template <typename Run>
int64_t count_accesses(Run run) {
    counting_bus counter;
    set_port_bus(&counter);
    run();
    set_port_bus(&device);
    return counter.accesses;
}

void report(benchmark::State& state, int64_t accesses) {
    state.counters["accesses"] = static_cast<double>(accesses);
    // Seconds per access: shown as e.g. "2.1n", nanoseconds.
    state.counters["time_per_access"] =
        benchmark::Counter(static_cast<double>(accesses),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void download_both() {
    download_fifo(download_buffer + FIFO_SIZE, true, true);
    download_fifo(download_buffer, false, true);
}

void BM_DownloadBothFifos(benchmark::State& state) {
    capture(MODE_DUAL);
    const int64_t accesses = count_accesses(download_both);
    for (auto _ : state) {
        download_both();
        benchmark::DoNotOptimize(download_buffer[0]);
    }
    report(state, accesses);
}
BENCHMARK(BM_DownloadBothFifos)->Unit(benchmark::kMillisecond);

// The whole of get_dso_data: counter, both memories, the layout by mode, back to idle.
void BM_GetDsoData(benchmark::State& state) {
    capture(static_cast<int8_t>(state.range(0)));
    const int64_t accesses = count_accesses(get_dso_data);
    for (auto _ : state) {
        get_dso_data();
        benchmark::DoNotOptimize(dso_structure.channel_b[0]);
    }
    report(state, accesses);
}
BENCHMARK(BM_GetDsoData)->ArgName("mode")->Arg(MODE_DUAL)->Arg(MODE_SINGLE)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
