// korvane-cli: capture, inspect, measure and export from a terminal, on the simulated device
// or on a real parallel port. This file only dispatches to the commands.
#include <CLI/CLI.hpp>

#include "app/version.h"
#include "capture/dso_structure.h"
#include "cli/capture_command.h"
#include "cli/cli_common.h"
#include "cli/export_command.h"
#include "cli/info_command.h"
#include "cli/io_command.h"
#include "cli/render_command.h"

int main(int argc, char** argv) {
    CLI::App app("Korvane: the digital storage oscilloscope and 16-bit logic analyser on the parallel port, "
                 "from a terminal",
                 PROGRAM_NAME);
    app.set_version_flag("--version", std::string(PROGRAM_NAME) + " " + KORVANE_VERSION);
    app.require_subcommand(1);
    app.footer("Run korvane-cli COMMAND --help for a command's options.\n");

    capture_options capture;
    info_options info;
    export_options exporting;
    io_options io;
    render_options render;
    CLI::App* capture_command = add_capture_command(app, capture);
    CLI::App* info_command = add_info_command(app, info);
    CLI::App* export_command = add_export_command(app, exporting);
    CLI::App* io_command = add_io_command(app, io);
    CLI::App* render_command = add_render_command(app, render);

    install_cli_error_presentation();
    set_capture_defaults();
    try {
        app.parse(argc, argv);
        if (*capture_command) return run_capture_command(capture, capture_header_from_options(*capture_command, capture));
        if (*info_command) return run_info_command(info);
        if (*export_command) return run_export_command(exporting, export_request_from_options(exporting));
        if (*io_command) return run_io_command(io, io_action_from_options(io));
        if (*render_command) return run_render_command(render, render_settings_from_options(render));
    } catch (const CLI::ParseError& e) {
        // Help and the version end with status 0; every mistake of the command line with 2.
        const int shown = app.exit(e);
        return shown == static_cast<int>(CLI::ExitCodes::Success) ? 0 : EXIT_USAGE;
    }
    return EXIT_USAGE;
}
