// korvane-cli io: the Hardware IO dialog's powers from a terminal.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

#include "services/io_actions.h"

// The port, and the values of the dialog's fields as the options give them.
struct io_options : io_texts {
    std::string port = "sim";
    std::string trace;
    double port_wait = 10;
};

CLI::App* add_io_command(CLI::App& app, io_options& options);

// The values of the options, checked; throws CLI::ValidationError naming the option.
io_action io_action_from_options(const io_options& options);

int run_io_command(const io_options& options, const io_action& action);
