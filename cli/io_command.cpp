#include "cli/io_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/terminal.h"
#include "hardware/port.h"

CLI::App* add_io_command(CLI::App& app, io_options& o) {
    CLI::App* c = app.add_subcommand(
        "io", "Read the port's data, status and control registers, or first write one of them, set a hardware "
              "register, set the internal control register or reset the read-out (the Hardware IO dialog). "
              "Values are hexadecimal; the three registers are read back after every change");
    add_port_options(*c, o.port, o.trace, o.port_wait);
    CLI::Option* data = c->add_option("--data", o.data, "Write the data register")->type_name("HEX");
    CLI::Option* control =
        c->add_option("--control", o.control, "Write the control register (pin levels)")->type_name("HEX");
    CLI::Option* reg =
        c->add_option("--register", o.reg, "Set this hardware register (0x0..0x1f) to --value")->type_name("HEX");
    CLI::Option* value = c->add_option("--value", o.value, "The value for --register")->type_name("HEX");
    CLI::Option* icr =
        c->add_option("--icr", o.icr, "Set the internal control register (0x0..0x1f) with one strobe")->type_name("HEX");
    CLI::Option* reset = c->add_flag("--reset-read", o.reset_read, "Reset the read-out of the sample memories");
    reg->needs(value);
    value->needs(reg);
    const std::vector<CLI::Option*> actions = {data, control, reg, icr, reset};
    for (CLI::Option* a : actions)
        for (CLI::Option* b : actions)
            if (a != b) a->excludes(b);
    c->footer("Exit status: 0 done; 2 a bad command line; 5 the trace could not be written; 10 the port could not "
              "be opened or failed; 75 the port stayed held by another program; 130 interrupted while waiting for "
              "the port.\n");
    return c;
}

io_action io_action_from_options(const io_options& o) {
    io_action action{};
    std::string field, message;
    if (!io_action_from_texts(o, action, field, message)) throw CLI::ValidationError("--" + field, message);
    return action;
}

int run_io_command(const io_options& o, const io_action& a) {
    port_choice port;
    parse_port_option(o.port, port);
    output_plan trace;
    const bool tracing = plan_trace(o.trace, trace);
    install_interrupt_handlers(nullptr);
    open_port(port, tracing ? &trace : nullptr, o.port_wait);
    perform_io_action(a);
    const unsigned data = read_data();
    const unsigned status = read_status();
    const unsigned control = read_control();
    check_port_failures();
    const bool traced = close_port();
    // A trace on standard output comes first, the registers after it.
    std::printf("data     0x%x\nstatus   0x%x\ncontrol  0x%x\n", data, status, control);
    if (std::fflush(stdout) != 0) {
        print_report_line(7, "io", std::string("standard output: ") + std::strerror(errno));
        return EXIT_FILE;
    }
    return traced ? EXIT_SUCCESS_STATUS : EXIT_FILE;
}
