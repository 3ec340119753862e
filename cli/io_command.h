// korvane-cli io: the Hardware IO dialog's powers from a terminal.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

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
struct io_action {
    enum { read, write_data, write_control, set_register, set_icr, reset_read } kind;
    uint8_t reg;
    uint8_t value;
};
io_action io_action_from_options(const io_options& options);
// Does the action on the installed port (a read does nothing).
void perform_io_action(const io_action& action);

int run_io_command(const io_options& options, const io_action& action);
