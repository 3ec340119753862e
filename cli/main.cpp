// korvane-cli: capture, inspect, measure and export from a terminal, on the simulated device
// or on a real parallel port. This file only dispatches to the commands.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "app/error_handler.h"
#include "app/version.h"
#include "capture/dso_structure.h"
#include "cli/capture_command.h"
#include "cli/decode_command.h"
#include "cli/terminal.h"
#include "cli/export_command.h"
#include "cli/info_command.h"
#include "cli/io_command.h"
#include "cli/linearity_command.h"
#include "cli/render_command.h"
#include "cli/spectrum_command.h"
#include "server/serve_command.h"

namespace {

// Steps from one word to the other (insert, delete, change, swap two neighbours).
size_t distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

std::string command_names(const CLI::App& app) {
    std::string names;
    for (const CLI::App* c : app.get_subcommands(nullptr)) names += (names.empty() ? "" : ", ") + c->get_name();
    return names + ", help";
}

// "unknown command 'captur'; did you mean 'capture'?" for a first word that names no command.
int unknown_command(const CLI::App& app, const std::string& word) {
    std::string best;
    size_t best_distance = 3;
    for (const CLI::App* c : app.get_subcommands(nullptr)) {
        const std::string& name = c->get_name();
        const size_t d = lower_case(word).rfind(name.substr(0, word.size()), 0) == 0 && word.size() >= 2
                             ? 0
                             : distance(lower_case(word), name);
        if (d < best_distance) best = name, best_distance = d;
    }
    if (!best.empty())
        print_message("unknown command '%s'; did you mean '%s'? (korvane-cli help lists the commands)", word.c_str(),
                      best.c_str());
    else
        print_message("unknown command '%s'; the commands are %s", word.c_str(), command_names(app).c_str());
    return EXIT_USAGE;
}

// Mistakes of the command line in the terminal's way: "korvane-cli capture: --level: ...",
// then where to read more.
std::string failure_line(const CLI::App* app, const CLI::Error& e) {
    std::string command = PROGRAM_NAME;
    for (const CLI::App* c : app->get_subcommands()) command += " " + c->get_name();
    return command + ": " + e.what() + "\nTry '" + command + " --help' for more information.\n";
}

int run(int argc, char** argv) {
    CLI::App app("Korvane: the digital storage oscilloscope and 16-bit logic analyser on the parallel port, "
                 "from a terminal",
                 PROGRAM_NAME);
    app.set_version_flag("--version", std::string(PROGRAM_NAME) + " " + KORVANE_VERSION);
    app.require_subcommand(1);
    app.failure_message(failure_line);

    capture_options capture;
    info_options info;
    export_options exporting;
    io_options io;
    render_options render;
    serve_options serve;
    decode_options decode;
    spectrum_options spectrum;
    linearity_options linearity;
    CLI::App* capture_command = add_capture_command(app, capture);
    CLI::App* info_command = add_info_command(app, info);
    CLI::App* export_command = add_export_command(app, exporting);
    CLI::App* io_command = add_io_command(app, io);
    CLI::App* render_command = add_render_command(app, render);
    CLI::App* serve_command = add_serve_command(app, serve);
    CLI::App* decode_command = add_decode_command(app, decode);
    CLI::App* spectrum_command = add_spectrum_command(app, spectrum);
    CLI::App* linearity_command = add_linearity_command(app, linearity);
    // Set after the commands, so that theirs are their own.
    app.footer("korvane-cli help COMMAND (or korvane-cli COMMAND --help) shows a command's options.\n");

    if (argc > 1 && argv[1][0] != '-') {
        const std::string word = argv[1];
        if (word == "help") {
            if (argc == 2) {
                std::fputs(app.help().c_str(), stdout);
                return 0;
            }
            for (const CLI::App* c : app.get_subcommands(nullptr))
                if (c->get_name() == argv[2]) {
                    std::fputs(c->help().c_str(), stdout);
                    return 0;
                }
            return unknown_command(app, argv[2]);
        }
        bool known = false;
        for (const CLI::App* c : app.get_subcommands(nullptr)) known = known || c->get_name() == word;
        if (!known) return unknown_command(app, word);
    }

    install_cli_error_presentation();
    set_capture_defaults();
    try {
        app.parse(argc, argv);
        for (const CLI::App* c : app.get_subcommands()) refuse_empty_values(*c);
        if (*capture_command) {
            const capture_header header = capture_header_from_options(*capture_command, capture);
            capture_outputs outputs = capture_outputs_from_options(*capture_command, capture, header);
            return run_capture_command(capture, header, outputs);
        }
        if (*info_command) return run_info_command(info);
        if (*export_command) return run_export_command(exporting, export_request_from_options(exporting));
        if (*io_command) return run_io_command(io, io_action_from_options(io));
        if (*render_command) return run_render_command(render, render_settings_from_options(render));
        if (*serve_command) return run_serve_command(serve);
        if (*decode_command) return run_decode_command(decode);
        if (*spectrum_command) return run_spectrum_command(spectrum);
        if (*linearity_command) return run_linearity_command(linearity);
    } catch (const CLI::ParseError& e) {
        // Help and the version end with status 0; every mistake of the command line with 2.
        const int shown = app.exit(e);
        return shown == static_cast<int>(CLI::ExitCodes::Success) ? 0 : EXIT_USAGE;
    }
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
    open_standard_descriptors();
    // Nothing escapes: the program's own reports end it with their levels; anything else is
    // an internal error, reported as one.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        error_handler(1, "main", "the program ran out of memory");
    } catch (const std::exception& e) {
        print_message("internal error: %s (please report it, with the command line)", e.what());
    } catch (...) {
        print_message("internal error: an unknown exception (please report it, with the command line)");
    }
    return EXIT_INTERNAL;
}
