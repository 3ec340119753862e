// korvane-cli export: a capture in the formats other tools read.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

enum class export_format { csv };

struct export_options {
    std::string file;
    std::string output;  // "-": standard output
    std::string format;  // empty: from the output name
};

CLI::App* add_export_command(CLI::App& app, export_options& options);

// The format of the export: --format, or the output name's extension. Throws
// CLI::ValidationError naming the option and the formats when neither tells it.
export_format resolve_export_format(const export_options& options);

int run_export_command(const export_options& options, export_format format);
