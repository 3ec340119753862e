// What the commands of korvane-cli share: exit statuses, how the program's own reports
// reach a terminal, loading a capture file, the checks of option values, signals, and the
// port a command works on.
#pragma once
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdint>
#include <ctime>
#include <string>

#include <sys/stat.h>

#include "capture/dso_structure.h"
#include "capture/output_file_linux.h"

constexpr char PROGRAM_NAME[] = "korvane-cli";

constexpr int EXIT_SUCCESS_STATUS = 0;
constexpr int EXIT_WARNING = 1;      // nothing written: no samples, a damaged header, nothing to export
constexpr int EXIT_USAGE = 2;        // a bad command line
constexpr int EXIT_FILE = 5;         // a file could not be read or written (the program's level 5)
constexpr int EXIT_INTERNAL = 70;    // an internal error of the program
constexpr int EXIT_PORT_BUSY = 75;   // the port stayed held by another program for --port-wait
constexpr int EXIT_TIMEOUT = 124;    // no trigger within --timeout
constexpr int EXIT_INTERRUPTED = 130;  // Ctrl+C (SIGINT), SIGTERM or SIGHUP

// Reports of error_handler go to standard error as one line:
//   korvane-cli: Could Not Write To File (error 7, level 5, csv_export): out.csv: No space left on device
// a fatal one ends the program with its level (5, 10 or 20) as usual. Warnings are counted.
void install_cli_error_presentation();
int warnings_reported();
// The same line for a report that does not end the program (a capture's outputs are all
// tried before the end).
void print_report_line(int32_t code, const char* function_name, const std::string& additional_info);

// A message of the command line itself on standard error: "korvane-cli: <text>".
void print_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The three standard descriptors are open from here on (a closed one is opened on
// /dev/null), so that no file the program opens takes the place of standard error.
void open_standard_descriptors();

// Reads a .dso capture into the record from path, or from standard input for "-". Anything
// that is not a capture image (missing, a directory, unreadable, too short) is reported as
// the program's own file error with the system's reason, which ends the program with status
// 5. A longer file is taken, as the window takes it, by its first 786,448 bytes, with a note
// that the rest is ignored. input receives the file's identity (for an output that would be
// the input).
void load_capture(const std::string& path, struct stat& input);
// Refuses (CLI::ValidationError on --output) an output that already is the input file,
// through any link or spelling, before anything else is said about it.
void refuse_input_as_output(const std::string& input, const std::string& output);
// The name of an input for messages: "standard input" for "-".
std::string input_name(const std::string& path);

// A header that no capture of this program holds: a mode outside the four, a rate index
// outside -1..5 (-1: the window's "no rate chosen"), a trigger source outside 0..3, an edge
// outside 0..1, a pre-trigger count outside 0..393215. Empty for a sound header, else the
// fields in words ("mode 54, rate index 49").
std::string header_damage(const dso_record& record);
// Says so on standard error: "x.dso: not a capture this program wrote, or a damaged one: ...".
void print_header_damage(const std::string& path, const std::string& damage);

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

// The time a written file carries inside it (a VCD's $date, the entries of a .sr archive):
// now, or SOURCE_DATE_EPOCH where a reproducible file is wanted.
std::time_t file_time();

// Texts of the command line.
std::string lower_case(const std::string& text);
bool ends_with_ignoring_case(const std::string& text, const char* end);
// "1 sample", "2 samples".
std::string count_of(long long n, const char* thing);
// A hexadecimal number with or without 0x, nothing else, no larger than limit.
bool parse_hex_value(const std::string& text, uint32_t limit, uint32_t& value);
// "FIRST:LAST", two decimal sample numbers, each may carry a sign; numbers beyond the
// 64-bit range saturate, as the dialogs' entries do.
bool parse_sample_range(const std::string& text, int64_t& first, int64_t& last);
// The one wording of every --range mistake.
std::string range_not_a_range(const std::string& text);
std::string range_shows_nothing(const std::string& text, int32_t last_index);
// The samples first..last of a mode that a --range text asks for (empty text: all of them);
// false with the message ("--range: ...") for a text that is no range or shows nothing.
bool samples_of_range(const std::string& text, int8_t mode, int32_t& first, int32_t& last, std::string& message);

// Validators: a whole number in min..max ("'40.5' is not a whole number"); a number of
// seconds, above 0 or also 0 (a value too large to count is simply no bound).
CLI::Validator whole_number(long long min, long long max);
CLI::Validator seconds_value(bool zero_allowed);
// Refuses an empty value of any option of the parsed command (exit 2 through the caller).
void refuse_empty_values(const CLI::App& command);

// Signals. Once installed, SIGINT, SIGTERM and SIGHUP set interrupted_by (the signal's
// number) and call the hook, if any; they end no system call's wait by restarting it.
extern volatile sig_atomic_t interrupted_by;
void install_interrupt_handlers(void (*hook)(int signal_number));

// The --port option: "sim", a ppdev device ("/dev/parport0") or a port address (0x378, 0x278,
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

// Adds --port, --port-wait and --trace to a command.
void add_port_options(CLI::App& command, std::string& port, std::string& trace, double& port_wait);
