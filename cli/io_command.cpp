#include "cli/io_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli_common.h"
#include "hardware/capture_sequence.h"
#include "hardware/port.h"

namespace {

// A hexadecimal number as the dialog takes it (3f or 0x3f), no larger than limit.
uint8_t hex_value(const std::string& option, const std::string& text, unsigned limit) {
    uint32_t v = 0;
    if (!parse_hex_value(text, limit, v)) {
        char range[24];
        std::snprintf(range, sizeof range, "0x0..0x%x", limit);
        throw CLI::ValidationError(option, "'" + text + "' is not a hexadecimal value in " + range);
    }
    return static_cast<uint8_t>(v);
}

}  // namespace

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
    io_action a{io_action::read, 0, 0};
    if (!o.data.empty()) a = {io_action::write_data, 0, hex_value("--data", o.data, 0xFF)};
    if (!o.control.empty()) a = {io_action::write_control, 0, hex_value("--control", o.control, 0xFF)};
    if (!o.reg.empty())
        a = {io_action::set_register, hex_value("--register", o.reg, 0x1F), hex_value("--value", o.value, 0xFF)};
    if (!o.icr.empty()) a = {io_action::set_icr, 0, hex_value("--icr", o.icr, 0x1F)};
    if (o.reset_read) a = {io_action::reset_read, 0, 0};
    return a;
}

void perform_io_action(const io_action& a) {
    switch (a.kind) {
    case io_action::read: break;
    case io_action::write_data: write_data(a.value); break;
    case io_action::write_control: write_control(a.value); break;
    case io_action::set_register: write_register(a.reg, a.value); break;
    case io_action::set_icr: strobe_control(a.value); break;
    case io_action::reset_read: reset_read(); break;
    }
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
