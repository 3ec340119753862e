// korvane-cli io: the Hardware IO dialog's powers from a terminal.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

#include "services/io_actions.h"

struct io_options {
    std::string port = "sim";
    std::string trace;
    double port_wait = 10;
    std::string data;      // write the data register
    std::string control;   // write the control register (pin levels, as the dialog shows it)
    std::string reg;       // set a hardware register...
    std::string value;     // ...to this value
    std::string icr;       // set the internal control register (one strobe)
    bool reset_read = false;
};

CLI::App* add_io_command(CLI::App& app, io_options& options);

// The values of the options, checked; throws CLI::ValidationError naming the option.
io_action io_action_from_options(const io_options& options);

int run_io_command(const io_options& options, const io_action& action);
