// korvane-cli capture --port sim, from programming to the .dso on disk, with the simulated
// device completing at once, against the download of both sample memories alone. The goal
// is at most 2x the download.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "capture/dso_structure.h"
#include "cli/capture_command.h"
#include "cli/terminal.h"
#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"
#include "simulator/simulated_device.h"

namespace {

// The options and header of "capture --quiet --trigger a --level 40 --pretrigger 4096 -o output".
void parse_capture(const std::string& output, capture_options& o, capture_header& h) {
    CLI::App app;
    CLI::App* command = add_capture_command(app, o);
    app.parse("capture --quiet --trigger a --level 40 --pretrigger 4096 -o " + output, false);
    h = capture_header_from_options(*command, o);
}

void BM_CaptureCommandSim(benchmark::State& state) {
    install_cli_error_presentation();
    set_simulated_instant(true);
    const std::string output = bench_file("capture.dso");
    capture_options o;
    capture_header h;
    parse_capture(output, o, h);
    for (auto _ : state) {
        capture_outputs outputs;
        outputs.files = {{output, output_format::dso, {}}};
        if (run_capture_command(o, h, outputs) != 0) state.SkipWithError("the capture failed");
    }
    std::remove(output.c_str());
}
BENCHMARK(BM_CaptureCommandSim)->Unit(benchmark::kMillisecond)->UseRealTime();

simulated_device device;

// The same capture's read-out of both memories, nothing else.
void BM_DownloadAlone(benchmark::State& state) {
    capture_from_simulator(device, MODE_DUAL, TRIGGER_CHANNEL_A, 167, 0x1000);
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
