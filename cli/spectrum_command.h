// korvane-cli spectrum FILE.dso...: the spectrum of a channel, of the math channel M or of
// the Single Channel trace, its converter figures and peaks, as text or JSON, and its levels
// into a CSV file or a plot (PNG, SVG, PDF). Several captures give their power average.
#pragma once
#include <CLI/CLI.hpp>
#include <cairo.h>

#include <functional>
#include <string>
#include <vector>

#include "services/formats.h"

struct spectrum_options {
    std::vector<std::string> files;
    std::string channel;
    std::string math;
    std::string window = "blackman-harris";
    std::string range;
    std::string peaks = "5";
    bool json = false;
    bool levels = false;
    std::string output;
    std::string size = "900x500";
    bool log_frequency = false;
    bool offset_correct = false;
    std::string channels_config;
};

CLI::App* add_spectrum_command(CLI::App& app, spectrum_options& options);

int run_spectrum_command(const spectrum_options& options);

// Writes one output (format) in place of the file at once, or not at all, from what draw
// sends through the cairo write function; input is the capture read (nullptr: none), which
// the output may not be. A draw that fails is reported as a failure to write the file.
int write_drawn_output(const std::string& output, output_format format, const struct stat* input,
                       const std::function<bool(cairo_write_func_t, void*)>& draw);
