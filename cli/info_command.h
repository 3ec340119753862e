// korvane-cli info: a capture's settings in words and the measurements of its channels.
#pragma once
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "capture/dso_structure.h"

#include <string>

struct info_options {
    std::string file;
    bool json = false;
    std::string channels_config;  // empty: analogue figures in codes only
    std::string math;             // an expression for the math channel M, measured as a channel
};

CLI::App* add_info_command(CLI::App& app, info_options& options);

int run_info_command(const info_options& options);
