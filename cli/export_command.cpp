#include "cli/export_command.h"

#include <cstdio>

#include "capture/csv_export.h"
#include "cli/cli_common.h"

namespace {

const struct {
    const char* name;
    const char* extension;
    export_format format;
} FORMATS[] = {
    {"csv", ".csv", export_format::csv},
};

std::string format_names() {
    std::string names;
    for (const auto& f : FORMATS) names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
}

bool ends_with_ignoring_case(const std::string& text, const char* end) {
    const std::string tail(end);
    if (text.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = text[text.size() - tail.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i]) return false;
    }
    return true;
}

char stdout_buffer[1 << 16];

}  // namespace

CLI::App* add_export_command(CLI::App& app, export_options& o) {
    CLI::App* c = app.add_subcommand("export", "Write a capture in another format: csv (one line of decimal values "
                                               "per sample, the window's Export CSV File)");
    c->add_option("file", o.file, "The .dso capture file")->required()->type_name("FILE.dso");
    c->add_option("-o,--output", o.output, "The file to write, or - for standard output")
        ->required()
        ->type_name("OUT");
    c->add_option("--format", o.format, "The format, when the output name does not end in its extension (" +
                                            format_names() + ")");
    return c;
}

export_format resolve_export_format(const export_options& o) {
    if (!o.format.empty()) {
        for (const auto& f : FORMATS)
            if (o.format == f.name) return f.format;
        throw CLI::ValidationError("--format", "'" + o.format + "' is not a format; use one of " + format_names());
    }
    for (const auto& f : FORMATS)
        if (ends_with_ignoring_case(o.output, f.extension)) return f.format;
    if (o.output == "-") return export_format::csv;
    throw CLI::ValidationError("--output", "cannot tell the format from the name '" + o.output +
                                               "'; end it in .csv, or give --format (" + format_names() + ")");
}

int run_export_command(const export_options& o, export_format format) {
    load_capture(o.file);
    switch (format) {
    case export_format::csv:
        if (o.output == "-") {
            std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
            if (!write_csv_lines(stdout) || std::fflush(stdout) != 0) {
                print_message("could not write the CSV lines to standard output");
                return 5;
            }
        } else {
            export_csv_file(o.output.c_str());  // a failure ends the program with status 5
        }
        break;
    }
    return EXIT_SUCCESS_STATUS;
}
