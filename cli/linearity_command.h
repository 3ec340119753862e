// korvane-cli linearity: the converters' own linearity from a capture of a triangle or a sine
// that spans their range, by the code-density test.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

struct linearity_options {
    std::string file;     // "-": standard input
    std::string channel;  // "A", "B"; empty: every analogue channel of the capture
    std::string signal = "detect";
    bool json = false;
    std::string output;  // a plot: .png, .svg or .pdf
};

CLI::App* add_linearity_command(CLI::App& app, linearity_options& options);
int run_linearity_command(const linearity_options& options);
