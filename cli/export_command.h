// korvane-cli export: a capture in the formats other tools read: CSV (the window's export),
// VCD (GTKWave, sigrok-cli, PulseView), WAV (audio and analysis tools) and sigrok sessions.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

#include "services/capture_writers.h"

struct export_options {
    std::string file;      // "-": standard input
    std::string output;    // "-": standard output
    std::string format;    // empty: from the output name
    std::string channels;  // empty: every channel of the mode
    std::string range;     // empty: the whole capture; "FIRST:LAST"
    std::string channels_config;  // empty: analogue values in codes
};

CLI::App* add_export_command(CLI::App& app, export_options& options);

// What the command line asks for, checked before any file is read. Throws
// CLI::ValidationError naming the option and what it accepts.
export_request export_request_from_options(const export_options& options);

int run_export_command(const export_options& options, const export_request& request);
