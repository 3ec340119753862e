// korvane-cli capture --port sim, from programming to the .dso on disk, with the simulated
// device completing at once, against the download of both sample memories alone. The goal
// is at most 2x the download.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include <unistd.h>

#include "capture/dso_structure.h"
#include "cli/capture_command.h"
#include "cli/cli_common.h"
#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"
#include "simulator/simulated_device.h"

namespace {

std::string bench_file(const char* name) {
    return std::string("/tmp/korvane-bench-") + std::to_string(getpid()) + "-" + name;
}

capture_options sim_capture(const std::string& output) {
    capture_options o;
    o.trigger = "a";
    o.level = 40;
    o.pretrigger = 0x1000;
    o.output = output;
    o.quiet = true;
    return o;
}

capture_header header_of(const capture_options& o) {
    CLI::App app;
    capture_options parsed = o;
    CLI::App* command = add_capture_command(app, parsed);
    app.parse("capture -o x --trigger a --level 40 --pretrigger 4096", false);
    return capture_header_from_options(*command, parsed);
}

void BM_CaptureCommandSim(benchmark::State& state) {
    install_cli_error_presentation();
    set_simulated_instant(true);
    const std::string output = bench_file("capture.dso");
    const capture_options o = sim_capture(output);
    const capture_header h = header_of(o);
    for (auto _ : state) {
        if (run_capture_command(o, h) != 0) state.SkipWithError("the capture failed");
    }
    std::remove(output.c_str());
}
BENCHMARK(BM_CaptureCommandSim)->Unit(benchmark::kMillisecond)->UseRealTime();

struct no_waiting final : capture_services {
    void sleep_ms(uint32_t) override {}
    void download_begins() override {}
    void report_progress(int32_t percent) override { benchmark::DoNotOptimize(percent); }
};

simulated_device device;

// The same capture's read-out of both memories, nothing else.
void BM_DownloadAlone(benchmark::State& state) {
    no_waiting services;
    set_capture_services(&services);
    set_port_bus(&device);
    port_address = LPT1_ADDRESS;
    device.set_instant(true);
    dso_structure.capture_mode = MODE_DUAL;
    dso_structure.trigger_source = TRIGGER_CHANNEL_A;
    dso_structure.trigger_value = 167;
    dso_structure.pretrigger = 0x1000;
    dso_structure.sample_rate_index = 0;
    run_capture();
    for (auto _ : state) {
        download_fifo(download_buffer + FIFO_SIZE, true, true);
        download_fifo(download_buffer, false, true);
        benchmark::DoNotOptimize(download_buffer[0]);
    }
    set_capture_services(nullptr);
    set_port_bus(nullptr);
}
BENCHMARK(BM_DownloadAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
