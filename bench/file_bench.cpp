// .dso save and load against plain stream I/O of the same bytes, and the CSV export of
// each capture mode.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "bench/bench_support.h"
#include "capture/csv_export.h"
#include "capture/dso_file.h"
#include "capture/dso_structure.h"

namespace {

void fill_record(int8_t mode) {
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n)
        dso_structure.sample_area[n] = static_cast<uint8_t>((n * 37) ^ (n >> 7));
    dso_structure.capture_mode = mode;
}

void BM_RawWriteRead(benchmark::State& state) {
    fill_record(MODE_DUAL);
    std::string name = bench_file("raw.dso");
    static char copy[DSO_IMAGE_SIZE];
    for (auto _ : state) {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        std::fwrite(&dso_structure, 1, DSO_IMAGE_SIZE, f);
        std::fclose(f);
        f = std::fopen(name.c_str(), "rb");
        benchmark::DoNotOptimize(std::fread(copy, 1, DSO_IMAGE_SIZE, f));
        std::fclose(f);
    }
    std::remove(name.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * DSO_IMAGE_SIZE);
}
BENCHMARK(BM_RawWriteRead)->Unit(benchmark::kMicrosecond);

void BM_DsoSaveLoad(benchmark::State& state) {
    fill_record(MODE_DUAL);
    std::string name = bench_file("save.dso");
    for (auto _ : state) {
        save_dso_structure(name.c_str());
        load_dso_structure(name.c_str());
    }
    std::remove(name.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * DSO_IMAGE_SIZE);
}
BENCHMARK(BM_DsoSaveLoad)->Unit(benchmark::kMicrosecond);

void BM_CsvExport(benchmark::State& state) {
    fill_record(static_cast<int8_t>(state.range(0)));
    std::string name = bench_file("export.csv");
    for (auto _ : state) export_csv_file(name.c_str());
    std::FILE* f = std::fopen(name.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    state.counters["file_bytes"] = static_cast<double>(std::ftell(f));
    std::fclose(f);
    std::remove(name.c_str());
}
BENCHMARK(BM_CsvExport)
    ->ArgName("mode")
    ->Arg(MODE_DUAL)
    ->Arg(MODE_SINGLE)
    ->Arg(MODE_LOGIC16)
    ->Arg(MODE_MIXED)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
