// korvane-cli export: a capture in the formats other tools read: CSV (the window's export),
// VCD (GTKWave, sigrok-cli, PulseView), WAV (audio and analysis tools) and sigrok sessions.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

#include "cli/outputs.h"

struct export_options {
    std::string file;      // "-": standard input
    std::string output;    // "-": standard output
    std::string format;    // empty: from the output name
    std::string channels;  // empty: every channel of the mode
    std::string range;     // empty: the whole capture; "FIRST:LAST"
};

CLI::App* add_export_command(CLI::App& app, export_options& options);

// What the command line asks for, checked before any file is read. Throws
// CLI::ValidationError naming the option and what it accepts.
struct export_request {
    output_format format;
    bool ranged;
    int64_t first;
    int64_t last;
};
export_request export_request_from_options(const export_options& options);

// The content of the export the request asks for, of the record in dso_structure (read from
// name): 0, or the exit status (1 nothing to write in that format or a damaged header, 2 a
// mistake of the command line) with the message to give.
int prepare_export(const std::string& name, const export_options& options, const export_request& request,
                   output_content& content, std::string& message);

int run_export_command(const export_options& options, const export_request& request);
