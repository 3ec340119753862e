// korvane-cli capture: the settings of the capture dialog as options, one capture on the
// chosen port, the record written as a .dso file.
#pragma once
#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "services/capture_writers.h"
#include "hardware/run_loop.h"
#include "services/capture_settings.h"
#include "services/stop_condition.h"

struct capture_options {
    std::string mode = "dual";
    std::string rate = "0";
    std::string trigger = "external";
    int level = 0;
    std::string pattern = "0";
    std::string edge = "rising";
    int32_t pretrigger = 0;
    std::vector<std::string> outputs;  // each -o
    std::string format;                // empty: by each name's extension, .dso by default
    std::string size = "800x600";      // pictures
    std::string port = "sim";
    std::string trace;
    double port_wait = 10;  // seconds a port held by another program is waited for
    double timeout = 0;     // seconds; 0: wait for the trigger as long as it takes
    bool quiet = false;
    bool autoset = false;  // the settings are autoset's, from a capture taken first
    // A run of captures, as Normal mode takes them: at most count (0: one capture, or with
    // stop_when no bound), each -o name numbered; stopped by the first capture that meets
    // stop_when, which alone is kept. The statistics of the run at the end, as text or json.
    int32_t count = 0;
    std::string stop_when;
    std::string math;       // --math: M's expression for the statistics and the conditions
    bool json = false;
};

// The header fields of the capture record, as Start Capture stores them.
using capture_header = run_settings;

CLI::App* add_capture_command(CLI::App& app, capture_options& options);

// The header for the parsed options of the capture command, checked by the settings model.
// Options that do not fit each other (a channel B trigger in Single Channel, a level for a
// pattern trigger, a rate the mode does not have...) throw CLI::ValidationError naming the
// option and what it accepts.
capture_header capture_header_from_options(const CLI::App& command, const capture_options& options);

// The files the options ask for, each with its format (the name's extension, --format, or
// .dso), and the picture size; throws CLI::ValidationError for a name and a --format at
// odds, a wav file of 16 Bit Logic, a size no picture can have.
struct capture_outputs {
    std::vector<output_request> files;
    std::vector<std::string> patterns;  // each name as given: with --count, numbered for each capture
    stop_condition stop;                // --stop-when, read and checked
    bool with_math = false;             // --math: M's figures join each capture's
    math_op math = math_op::a_minus_b;
    int32_t width = 800;
    int32_t height = 600;
};
// A name of --count's files: "" when each % in it is %d, %0Nd or %% and at most one is a
// number (conversions: how many), else what is wrong; and the name of capture number.
std::string number_pattern_refusal(const std::string& name, int& conversions);
std::string numbered_name(const std::string& name, int64_t number);

capture_outputs capture_outputs_from_options(const CLI::App& command, const capture_options& options,
                                             const capture_header& header);


// Runs one capture with the header on the port of the options and writes the files. Every
// output is checked before the port is touched. Returns the exit status; the program's own
// fatal errors end the process with their level.
int run_capture_command(const capture_options& options, const capture_header& header, capture_outputs& outputs);
