// The VCD export of the worst case, 16 Bit Logic noise (every input changing at almost every
// sample), against the CSV export of the same capture (format 0 against 1). The goal is at most
// 2x the CSV.
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

enum export_kind { CSV, VCD, WAV };

// One export of noise in a mode, as korvane-cli writes it: CSV through the window's export,
// VCD and WAV through a temporary file beside the target that then takes its place.
void BM_ExportNoise(benchmark::State& state) {
    const auto kind = static_cast<export_kind>(state.range(0));
    fill_noise(static_cast<int8_t>(state.range(1)));
    const std::string name = bench_file(kind == CSV ? "noise.csv" : kind == VCD ? "noise.vcd" : "noise.wav");
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(dso_structure, channels);
    auto write = [&](std::FILE* out) {
        return kind == VCD ? write_vcd(out, dso_structure, channels, count, 0, FIFO_SIZE - 1, "bench")
                           : write_wav(out, dso_structure, channels, count, 0, FIFO_SIZE - 1);
    };
    for (auto _ : state) {
        if (kind == CSV)
            export_csv_file(name.c_str());
        else if (replace_through_stream(name.c_str(), stream_buffer, sizeof stream_buffer, write) != 0)
            state.SkipWithError("the file could not be written");
    }
    state.counters["file_bytes"] = file_bytes(name);
    std::remove(name.c_str());
}
// The worst case of the goal, 16 Bit Logic noise, then analogue noise in Dual Channel.
BENCHMARK(BM_ExportNoise)
    ->ArgNames({"format", "mode"})
    ->Args({CSV, MODE_LOGIC16})
    ->Args({VCD, MODE_LOGIC16})
    ->Args({CSV, MODE_DUAL})
    ->Args({VCD, MODE_DUAL})
    ->Args({WAV, MODE_DUAL})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
