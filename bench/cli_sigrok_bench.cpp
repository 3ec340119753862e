// The sigrok session (.sr) of each capture mode, every channel over the whole capture,
// against the .dso save of the same record, both as korvane-cli writes them (through a
// temporary file that is flushed to the disk and then takes the old file's place). The goal
// is at most 2x the save; the counter x_dso_save is the ratio, measured against saves timed
// right after. BM_DsoSave is the window's save (no flush to the disk), BM_DsoSaveCli the
// command line's. An analogue sample
// takes 4 bytes in a session (a float) and 1 in the .dso: BM_BytesAlone writes the .sr's
// bytes of each mode as one block into a replaced file, the least any writer can take.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "bench/bench_support.h"
#include "capture/capture_channels.h"
#include "capture/dso_file.h"
#include "capture/dso_structure.h"
#include "capture/replacement_file.h"
#include "services/capture_writers.h"

namespace {

void fill_record(int8_t mode) {
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n)
        dso_structure.sample_area[n] = static_cast<uint8_t>((n * 37) ^ (n >> 7));
    dso_structure.capture_mode = mode;
    dso_structure.sample_rate_index = 2;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes the record as korvane-cli does; false on failure.
bool write_as_cli(const std::string& name, output_format format, const capture_channel* channels, int count,
                  int32_t last) {
    output_request request{name, format, {}};
    output_content content;
    for (int i = 0; i < count; ++i) content.channels[i] = channels[i];
    content.count = count;
    content.last = last;
    file_failure failure;
    return plan_output(name, request.plan, failure) && write_capture_output(request, content, failure);
}

// Seconds of one .dso save of the record by korvane-cli, the mean of many.
double dso_save_seconds() {
    const std::string name = bench_file("save.dso");
    constexpr int SAVES = 50;
    write_as_cli(name, output_format::dso, nullptr, 0, 0);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < SAVES; ++i) write_as_cli(name, output_format::dso, nullptr, 0, 0);
    const double seconds = seconds_since(start) / SAVES;
    std::remove(name.c_str());
    return seconds;
}

void BM_DsoSave(benchmark::State& state) {
    fill_record(MODE_DUAL);
    const std::string name = bench_file("save.dso");
    for (auto _ : state) save_dso_structure(name.c_str());
    std::remove(name.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * DSO_IMAGE_SIZE);
}
BENCHMARK(BM_DsoSave)->Unit(benchmark::kMicrosecond);

void BM_DsoSaveCli(benchmark::State& state) {
    fill_record(MODE_DUAL);
    const std::string name = bench_file("save.dso");
    for (auto _ : state)
        if (!write_as_cli(name, output_format::dso, nullptr, 0, 0)) state.SkipWithError("the save failed");
    std::remove(name.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * DSO_IMAGE_SIZE);
}
BENCHMARK(BM_DsoSaveCli)->Unit(benchmark::kMicrosecond);

void BM_SigrokSession(benchmark::State& state) {
    const int8_t mode = static_cast<int8_t>(state.range(0));
    fill_record(mode);
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(dso_structure, channels);
    const int32_t last = samples_in_mode(mode) - 1;
    const std::string name = bench_file("session.sr");
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!write_as_cli(name, output_format::sr, channels, count, last)) {
            state.SkipWithError("the session could not be written");
            break;
        }
    }
    const double seconds = seconds_since(start) / static_cast<double>(state.iterations());
    if (std::FILE* f = std::fopen(name.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        state.counters["file_bytes"] = static_cast<double>(std::ftell(f));
        std::fclose(f);
    }
    std::remove(name.c_str());
    state.counters["x_dso_save"] = seconds / dso_save_seconds();
}
BENCHMARK(BM_SigrokSession)
    ->ArgName("mode")
    ->Arg(MODE_DUAL)
    ->Arg(MODE_SINGLE)
    ->Arg(MODE_LOGIC16)
    ->Arg(MODE_MIXED)
    ->Unit(benchmark::kMicrosecond);

void BM_BytesAlone(benchmark::State& state) {
    fill_record(MODE_DUAL);
    static uint8_t bytes[4 * SAMPLE_AREA_SIZE];
    const std::string name = bench_file("bytes.sr");
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        replacement_file file;
        if (!begin_replacement(file, name.c_str()) ||
            !write_replacement(file, bytes, static_cast<std::size_t>(state.range(0))) || !commit_replacement(file)) {
            state.SkipWithError("the write failed");
            break;
        }
    }
    const double seconds = seconds_since(start) / static_cast<double>(state.iterations());
    std::remove(name.c_str());
    state.counters["x_dso_save"] = seconds / dso_save_seconds();
}
// The sizes of the .sr files of 16 Bit Logic, Mixed Mode and the two analogue modes.
BENCHMARK(BM_BytesAlone)->ArgName("bytes")->Arg(787013)->Arg(1966692)->Arg(3146228)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
