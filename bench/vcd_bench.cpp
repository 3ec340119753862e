// The VCD export of the worst case, 16 Bit Logic noise (every input changing at almost every
// sample), against the CSV export of the same capture. The goal is at most 2x the CSV.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include <unistd.h>

#include "bench/bench_support.h"
#include "capture/capture_channels.h"
#include "capture/csv_export.h"
#include "capture/dso_structure.h"
#include "capture/replacement_file.h"
#include "capture/vcd_export.h"
#include "capture/wav_export.h"

namespace {

void fill_noise(int8_t mode) {
    uint32_t seed = 0x12345678u;
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) {
        seed = seed * 1664525u + 1013904223u;
        dso_structure.sample_area[n] = static_cast<uint8_t>(seed >> 24);
    }
    dso_structure.capture_mode = mode;
    dso_structure.sample_rate_index = 0;
    dso_structure.pretrigger = 1000;
}

double file_bytes(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const double bytes = static_cast<double>(std::ftell(f));
    std::fclose(f);
    return bytes;
}

char stream_buffer[1 << 16];

// As korvane-cli writes it: a temporary file beside the target that then takes its place.
template <typename Writer>
bool write_replaced(const std::string& name, Writer write) {
    return replace_through_stream(name.c_str(), stream_buffer, sizeof stream_buffer, write) == 0;
}

void BM_CsvExportLogic16Noise(benchmark::State& state) {
    fill_noise(MODE_LOGIC16);
    const std::string name = bench_file("noise.csv");
    for (auto _ : state) export_csv_file(name.c_str());
    state.counters["file_bytes"] = file_bytes(name);
    std::remove(name.c_str());
}
BENCHMARK(BM_CsvExportLogic16Noise)->Unit(benchmark::kMillisecond);

void BM_VcdExportLogic16Noise(benchmark::State& state) {
    fill_noise(MODE_LOGIC16);
    const std::string name = bench_file("noise.vcd");
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(dso_structure, channels);
    for (auto _ : state) {
        if (!write_replaced(name, [&](std::FILE* out) {
                return write_vcd(out, dso_structure, channels, count, 0, FIFO_SIZE - 1, "bench");
            }))
            state.SkipWithError("the VCD could not be written");
    }
    state.counters["file_bytes"] = file_bytes(name);
    std::remove(name.c_str());
}
BENCHMARK(BM_VcdExportLogic16Noise)->Unit(benchmark::kMillisecond);

// Analogue noise: every code of both channels changes at almost every sample.
void BM_VcdExportDualNoise(benchmark::State& state) {
    fill_noise(MODE_DUAL);
    const std::string name = bench_file("dual.vcd");
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(dso_structure, channels);
    for (auto _ : state) {
        write_replaced(name, [&](std::FILE* out) {
            return write_vcd(out, dso_structure, channels, count, 0, FIFO_SIZE - 1, "bench");
        });
    }
    state.counters["file_bytes"] = file_bytes(name);
    std::remove(name.c_str());
}
BENCHMARK(BM_VcdExportDualNoise)->Unit(benchmark::kMillisecond);

void BM_CsvExportDualNoise(benchmark::State& state) {
    fill_noise(MODE_DUAL);
    const std::string name = bench_file("dual.csv");
    for (auto _ : state) export_csv_file(name.c_str());
    state.counters["file_bytes"] = file_bytes(name);
    std::remove(name.c_str());
}
BENCHMARK(BM_CsvExportDualNoise)->Unit(benchmark::kMillisecond);

void BM_WavExportDual(benchmark::State& state) {
    fill_noise(MODE_DUAL);
    const std::string name = bench_file("dual.wav");
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(dso_structure, channels);
    for (auto _ : state)
        write_replaced(name, [&](std::FILE* out) { return write_wav(out, dso_structure, channels, count, 0, FIFO_SIZE - 1); });
    std::remove(name.c_str());
}
BENCHMARK(BM_WavExportDual)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
