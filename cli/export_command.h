// korvane-cli export: a capture in the formats other tools read: CSV (the window's export),
// VCD (sigrok-cli, PulseView, GTKWave), WAV (audio and analysis tools) and sigrok sessions.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

enum class export_format { csv, vcd, wav, sr };

struct export_options {
    std::string file;
    std::string output;    // "-": standard output (CSV and VCD)
    std::string format;    // empty: from the output name
    std::string channels;  // empty: every channel of the mode
    std::string range;     // empty: the whole capture; "FIRST:LAST"
};

CLI::App* add_export_command(CLI::App& app, export_options& options);

// What the command line asks for, checked before any file is read. Throws
// CLI::ValidationError naming the option and what it accepts.
struct export_request {
    export_format format;
    bool ranged;
    int64_t first;
    int64_t last;
};
export_request export_request_from_options(const export_options& options);

int run_export_command(const export_options& options, const export_request& request);
