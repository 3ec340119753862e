// The port a front end works on: the simulated device, a ppdev device or raw port I/O, opened
// and installed as the port bus, behind a trace of every access when one is asked for.
#pragma once
#include <cstdint>
#include <string>

#include "capture/output_file_linux.h"

// The port option: "sim", a ppdev device ("/dev/parport0") or a port address (0x378, 0x278,
// 0x3BC) for raw port I/O.
struct port_choice {
    enum { simulated, ppdev, raw } kind;
    std::string path;  // ppdev
    uint16_t base;     // the address the core uses for the port's data register
    // The simulated device: "sim:bus" puts bus traffic on the logic inputs, "sim:unplugged"
    // has no device on the cable.
    bool bus_signals = false;
    bool unplugged = false;
};
extern const char PORT_OPTION_HELP[];
// false when the text names no port.
bool parse_port_option(const std::string& text, port_choice& port);
// What is wrong with a port text, or empty.
std::string port_refusal(const std::string& text);

// The --trace output, checked before the port is touched; false without a trace. A file that
// cannot be written is reported as the file error (status 5).
bool plan_trace(const std::string& trace_path, output_plan& plan);

// Opens the port and installs it as the port bus, behind a trace of every access when trace
// is given. A port held by another program is waited for, saying so, for port_wait seconds
// at most (then the program ends with EXIT_PORT_BUSY); Ctrl+C ends the wait (status 130).
// A port that cannot be opened is reported as a fatal error (status 10). port_address is set
// to the port's base.
void open_port(const port_choice& port, const output_plan* trace, double port_wait);
// A port that failed while it was used (a ppdev request that the driver refused: the device
// went away) is reported as a fatal error (status 10). Call after every use.
void check_port_failures();
// The same, for a front end that stays up: true with the message when the port failed.
bool port_failed(std::string& message);
// Releases the port and completes the trace. false when the trace could not be written
// completely; the failure is then printed, and the old trace file is as it was.
bool close_port();
// The simulated device behind --port sim: completion in real time (the default) or as soon
// as the trigger and post-trigger samples exist (benchmarks).
void set_simulated_instant(bool instant);
