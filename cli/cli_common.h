// What the commands of korvane-cli share: exit statuses, how the program's own reports
// reach a terminal, loading a capture file, and the port a command works on.
#pragma once
#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

constexpr char PROGRAM_NAME[] = "korvane-cli";

constexpr int EXIT_SUCCESS_STATUS = 0;
constexpr int EXIT_WARNING = 1;      // a capture ended with a warning (no samples); nothing written
constexpr int EXIT_USAGE = 2;        // a bad command line
constexpr int EXIT_TIMEOUT = 124;    // no trigger within --timeout
constexpr int EXIT_INTERRUPTED = 130;  // Ctrl+C (SIGINT) or SIGTERM

// Reports of error_handler go to standard error, prefixed with the program's name; a fatal
// one ends the program with its level (5, 10 or 20) as usual. Warnings are counted.
void install_cli_error_presentation();
int warnings_reported();

// A message of the command line itself on standard error: "korvane-cli: <text>".
void print_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads a .dso file into the capture record. Anything that is not a capture image (missing,
// a directory, unreadable, too short) is reported as the program's own file error, which ends
// the program with status 5. A longer file is taken, as the window takes it, by its first
// 786,448 bytes, with a note that the rest is ignored.
void load_capture(const std::string& path);

// Names of the capture modes on the command line ("dual", "single", "logic16", "mixed");
// nullptr for an unknown mode. capture_mode_title gives them as the settings dialog does.
const char* mode_option_name(int8_t mode);
// The mode for an option name, or -1.
int8_t mode_from_option_name(const std::string& name);
extern const std::vector<std::string> MODE_OPTION_NAMES;

// Names of the trigger sources on the command line, by trigger_source: "external", "a",
// "b", "none".
extern const std::vector<std::string> TRIGGER_SOURCE_NAMES;

// A source that triggers on the logic inputs' pattern: channel A in 16 Bit Logic and Mixed
// Mode. A level trigger: channel A or B otherwise (the analogue comparator).
bool is_pattern_trigger(int8_t mode, int8_t source);
bool is_level_trigger(int8_t mode, int8_t source);

// Texts of the command line.
std::string lower_case(const std::string& text);
bool ends_with_ignoring_case(const std::string& text, const char* end);
// A hexadecimal number with or without 0x, nothing else, no larger than limit.
bool parse_hex_value(const std::string& text, uint32_t limit, uint32_t& value);
// "FIRST:LAST", two decimal sample numbers, each may carry a sign; numbers beyond the
// 64-bit range saturate, as the dialogs' entries do.
bool parse_sample_range(const std::string& text, int64_t& first, int64_t& last);

// The --port option: "sim", a ppdev device ("/dev/parport0") or a port address (0x378, 0x278,
// 0x3BC) for raw port I/O.
struct port_choice {
    enum { simulated, ppdev, raw } kind;
    std::string path;  // ppdev
    uint16_t base;     // the address the core uses for the port's data register
};
extern const char PORT_OPTION_HELP[];
// false when the text names no port.
bool parse_port_option(const std::string& text, port_choice& port);

// Opens the port and installs it as the port bus, behind a trace of every access when
// trace_path is given ("-" for standard output). A port that cannot be opened is reported as
// a fatal error (status 10). port_address is set to the port's base.
void open_port(const port_choice& port, const std::string& trace_path);
// A port that failed while it was used (a ppdev request that the driver refused: the device
// went away) is reported as a fatal error (status 10). Call after every use.
void check_port_failures();
// Releases the port and flushes and closes the trace; a trace that could not be written
// completely is reported on standard error.
void close_port();
// The simulated device behind --port sim: completion in real time (the default) or as soon
// as the trigger and post-trigger samples exist (benchmarks).
void set_simulated_instant(bool instant);

// Adds --port and --trace to a command.
void add_port_options(CLI::App& command, std::string& port, std::string& trace);
