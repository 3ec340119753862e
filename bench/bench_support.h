// What the benchmarks share: a file of their own under /tmp, and a capture from the simulated
// device that completes as soon as its samples exist.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include <unistd.h>

#include "capture/dso_structure.h"
#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"
#include "simulator/simulated_device.h"

inline std::string bench_file(const char* name) {
    return std::string("/tmp/korvane-bench-") + std::to_string(getpid()) + "-" + name;
}

struct no_waiting_services final : capture_services {
    void sleep_ms(uint32_t) override {}
    void download_begins() override {}
    void report_progress(int32_t percent) override { benchmark::DoNotOptimize(percent); }
};

// One capture at the fastest rate on the device (static storage: it holds both memories),
// which stays installed as the port bus, ready to be read out again.
inline void capture_from_simulator(simulated_device& device, int8_t mode, int8_t source, uint16_t trigger_value,
                                   int32_t pretrigger) {
    static no_waiting_services services;
    set_capture_services(&services);
    set_port_bus(&device);
    port_address = LPT1_ADDRESS;
    device.set_instant(true);
    dso_structure.capture_mode = mode;
    dso_structure.trigger_source = source;
    dso_structure.trigger_value = trigger_value;
    dso_structure.trigger_edge = 0;
    dso_structure.sample_rate_index = 0;
    dso_structure.pretrigger = pretrigger;
    run_capture();
}
