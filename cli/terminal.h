// What only a terminal needs: how the program's own reports reach it, reading a capture file
// named on the command line, and the checks of option values (CLI11 validators). The
// commands' shared services come with it.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

#include <sys/stat.h>

#include "capture/dso_structure.h"
#include "services/capture_names.h"
#include "services/channel_settings.h"
#include "services/exit_status.h"
#include "services/interrupts_linux.h"
#include "services/port_setup_linux.h"
#include "services/report_line.h"
#include "services/text_values.h"

// Reports of error_handler go to standard error as one line (print_report_line); a fatal one
// ends the program with its level (5, 10 or 20) as usual. Warnings are counted.
void install_cli_error_presentation();
int warnings_reported();

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
// Says so on standard error: "x.dso: not a capture this program wrote, or a damaged one: ...".
void print_header_damage(const std::string& path, const std::string& damage);

// Validators: a whole number in min..max ("'40.5' is not a whole number"); a number of
// seconds, above 0 or also 0 (a value too large to count is simply no bound).
CLI::Validator whole_number(long long min, long long max);
CLI::Validator seconds_value(bool zero_allowed);
// Refuses an empty value of any option of the parsed command (exit 2 through the caller).
void refuse_empty_values(const CLI::App& command);

// Adds --port, --port-wait and --trace to a command.
void add_port_options(CLI::App& command, std::string& port, std::string& trace, double& port_wait);

// Reads the channel settings of --channels-config FILE (the server's file, or any part of
// it): 0 with them; else, said on standard error, 5 for a file that cannot be read and 2 for
// one that is not channel settings.
int read_channels_config(const std::string& path, channel_settings& out);
