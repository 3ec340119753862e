#include "services/port_setup_linux.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/error_handler.h"
#include "hardware/port.h"
#include "hardware/port_bus_linux.h"
#include "hardware/port_trace.h"
#include "services/interrupts_linux.h"
#include "services/report_line.h"
#include "services/text_values.h"
#include "simulator/simulated_device.h"

const char PORT_OPTION_HELP[] =
    "The port: sim (the simulated device, default; sim:bus with UART, SPI and I2C traffic on "
    "its logic inputs 0..7, sim:unplugged with no device on the cable), a ppdev device such as "
    "/dev/parport0 (a user in the lp group), or 0x378, 0x278, 0x3BC (raw port I/O, root)";

bool parse_port_option(const std::string& text, port_choice& port) {
    const std::string name = lower_case(text);
    if (name == "sim" || name == "sim:bus" || name == "sim:unplugged") {
        port = {port_choice::simulated, "", simulated_device::BASE_ADDRESS};
        port.bus_signals = name == "sim:bus";
        port.unplugged = name == "sim:unplugged";
        return true;
    }
    if (text.find('/') != std::string::npos) {
        port = {port_choice::ppdev, text, LPT1_ADDRESS};
        return true;
    }
    const std::string lower = lower_case(text);
    const struct {
        const char* name;
        uint16_t base;
    } addresses[] = {{"0x378", LPT1_ADDRESS}, {"0x278", LPT2_ADDRESS}, {"0x3bc", LPT3_ADDRESS}};
    for (const auto& a : addresses) {
        if (lower == a.name) {
            port = {port_choice::raw, "", a.base};
            return true;
        }
    }
    return false;
}

bool plan_trace(const std::string& trace_path, output_plan& plan) {
    if (trace_path.empty()) return false;
    file_failure failure;
    if (!plan_output(trace_path, plan, failure)) error_handler(failure.code, "port_trace", failure.what.c_str());
    return true;
}

namespace {

simulated_device device;  // both sample memories: static storage
std::optional<ppdev_port_bus> ppdev_bus;
std::optional<raw_port_bus> raw_bus;
int ppdev_fd = -1;
std::optional<tracing_port_bus> trace_bus;
output_file trace_out;
std::FILE* trace_file = nullptr;

void say_port_held(const char* path, void*) {
    print_message("waiting for %s, held by another program (Ctrl+C ends the wait)", path);
}

}  // namespace

void set_simulated_instant(bool instant) { device.set_instant(instant); }

void open_port(const port_choice& port, const output_plan* trace, double wait_seconds) {
    char message[512];
    port_bus* bus = nullptr;
    switch (port.kind) {
    case port_choice::simulated:
        device.set_signals(port.bus_signals ? sim_signals::bus : sim_signals::standard);
        device.set_failure(port.unplugged ? sim_failure::nothing_attached : sim_failure::none);
        bus = &device;
        break;
    case port_choice::ppdev: {
        port_wait wait;
        wait.bound_seconds = wait_seconds;
        wait.interrupted = &interrupted_by;
        wait.notice = say_port_held;
        port_open_result result = port_open_result::failed;
        ppdev_fd = open_ppdev(port.path.c_str(), system_port_request, wait, result, message, sizeof message);
        if (result == port_open_result::busy) {
            print_message("%s", message);
            std::exit(EXIT_PORT_BUSY);
        }
        if (result == port_open_result::interrupted) {
            print_message("%s", message);
            std::exit(EXIT_INTERRUPTED);
        }
        if (ppdev_fd < 0) {
            error_handler(13, "open_port", message);
            return;
        }
        ppdev_bus.emplace(ppdev_fd, port.base, system_port_request);
        bus = &*ppdev_bus;
        break;
    }
    case port_choice::raw: {
        raw_port_functions functions = system_raw_port_functions();
        if (!open_raw_port(port.base, functions, message, sizeof message)) {
            error_handler(13, "open_port", message);
            return;
        }
        raw_bus.emplace(functions);
        bus = &*raw_bus;
        break;
    }
    }
    port_address = port.base;
    if (trace != nullptr) {
        file_failure failure;
        if (!open_output(*trace, trace_out, false, failure)) {
            close_port();
            error_handler(failure.code, "port_trace", failure.what.c_str());
            return;
        }
        trace_file = output_stream(trace_out);
        trace_bus.emplace(*bus, port.base, trace_file);
        bus = &*trace_bus;
    }
    set_port_bus(bus);
}

bool port_failed(std::string& message) {
    if (!ppdev_bus || ppdev_bus->failed_request() == nullptr) return false;
    message = std::string("the port driver refused ") + ppdev_bus->failed_request() + ": " +
              std::strerror(ppdev_bus->failed_errno()) + " (was the port removed?)";
    return true;
}

void check_port_failures() {
    std::string message;
    if (port_failed(message)) error_handler(13, "port_bus", message.c_str());
}

bool close_port() {
    set_port_bus(nullptr);
    bool written = true;
    if (trace_file != nullptr) {
        trace_file = nullptr;
        trace_bus.reset();
        file_failure failure;
        written = commit_output(trace_out, failure);
        if (!written) print_report_line(failure.code, "port_trace", failure.what + "; the trace is not complete");
    }
    if (ppdev_fd >= 0) {
        close_ppdev(ppdev_fd, system_port_request);
        ppdev_fd = -1;
        ppdev_bus.reset();
    }
    raw_bus.reset();
    return written;
}

std::string port_refusal(const std::string& text) {
    port_choice port;
    if (parse_port_option(text, port)) return "";
    return "'" + text + "' is not a port: use sim, a ppdev device such as /dev/parport0, or one of 0x378, 0x278, 0x3BC";
}
