// korvane-cli info: a capture's settings in words and the measurements of its channels.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

struct info_options {
    std::string file;
    bool json = false;
};

CLI::App* add_info_command(CLI::App& app, info_options& options);
int run_info_command(const info_options& options);
