#include "cli/export_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/error_handler.h"
#include "capture/capture_channels.h"
#include "capture/csv_export.h"
#include "capture/dso_structure.h"
#include "capture/replacement_file.h"
#include "capture/vcd_export.h"
#include "capture/wav_export.h"
#include "cli/cli_common.h"
#include "cli/sigrok_session.h"

namespace {

const struct {
    const char* name;
    const char* extension;
    export_format format;
    const char* what;
} FORMATS[] = {
    {"csv", ".csv", export_format::csv, "one line of decimal values per sample, as the window exports it"},
    {"vcd", ".vcd", export_format::vcd, "Value Change Dump for sigrok-cli, PulseView and GTKWave"},
    {"wav", ".wav", export_format::wav, "8-bit PCM of the analogue channels"},
    {"sr", ".sr", export_format::sr, "a sigrok session for PulseView and sigrok-cli"},
};

std::string format_names() {
    std::string names;
    for (const auto& f : FORMATS) names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
}

const char* format_name(export_format format) {
    for (const auto& f : FORMATS)
        if (f.format == format) return f.name;
    return "";
}

// The $date of a VCD: now, or SOURCE_DATE_EPOCH where a reproducible file is wanted.
void vcd_date(char* text, size_t size) {
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) now = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    std::tm when{};
    gmtime_r(&now, &when);
    std::strftime(text, size, "%a %b %d %H:%M:%S %Y UTC", &when);
}

char stream_buffer[1 << 16];

// Writes through a temporary file that takes the target's place only when complete; a
// failure is reported with the program's file errors (status 5) and leaves the target as it
// was. Standard output ("-") is written directly.
template <typename Writer>
void write_file(const std::string& output, const char* function_name, Writer write) {
    if (output == "-") {
        std::setvbuf(stdout, stream_buffer, _IOFBF, sizeof stream_buffer);
        if (!write(stdout) || std::fflush(stdout) != 0) error_handler(7, function_name, "standard output");
        return;
    }
    const int code = replace_through_stream(output.c_str(), stream_buffer, sizeof stream_buffer, write);
    if (code != 0) error_handler(code, function_name, output.c_str());
}

capture_channel channels[MAX_CAPTURE_CHANNELS];

}  // namespace

CLI::App* add_export_command(CLI::App& app, export_options& o) {
    std::string formats;
    for (const auto& f : FORMATS) formats += std::string("\n  ") + f.name + "  " + f.what;
    CLI::App* c = app.add_subcommand("export", "Write a capture in another format, chosen by the output name's "
                                               "extension or --format:" + formats);
    c->add_option("file", o.file, "The .dso capture file")->required()->type_name("FILE.dso");
    c->add_option("-o,--output", o.output, "The file to write, or - for standard output (csv and vcd)")
        ->required()
        ->type_name("OUT");
    c->add_option("--format", o.format, "The format, when the output name does not end in its extension")
        ->check(CLI::IsMember({"csv", "vcd", "wav", "sr"}));
    c->add_option("--channels", o.channels, "The channels to write (vcd, wav, sr), e.g. D0,D3,A: D0..D15 in "
                                            "logic16, D0..D7 and B in mixed, A and B in dual, A in single")
        ->type_name("LIST");
    c->add_option("--range", o.range, "Only samples FIRST to LAST, both included, by the View Range rules: a "
                                      "negative end counts as 0, a LAST past the end as the last sample, and "
                                      "FIRST must lie below LAST")
        ->type_name("FIRST:LAST");
    c->footer("Exit status: 0 written; 1 nothing to write in that format (16 Bit Logic as wav, an unknown mode or "
              "rate); 2 a bad command line; 5 a file that cannot be read or written. A file is written completely "
              "or not at all.\n");
    return c;
}

export_request export_request_from_options(const export_options& o) {
    export_request r{export_format::csv, false, 0, 0};
    bool known = false;
    if (!o.format.empty()) {
        for (const auto& f : FORMATS)
            if (o.format == f.name) r.format = f.format, known = true;
        if (!known) throw CLI::ValidationError("--format", "'" + o.format + "' is not a format; use " + format_names());
    } else {
        for (const auto& f : FORMATS)
            if (ends_with_ignoring_case(o.output, f.extension)) r.format = f.format, known = true;
        if (!known && o.output != "-")
            throw CLI::ValidationError("--output", "cannot tell the format from the name '" + o.output +
                                                       "'; end it in .csv, .vcd, .wav or .sr, or give --format (" +
                                                       format_names() + ")");
    }
    if (o.output == "-" && (r.format == export_format::wav || r.format == export_format::sr))
        throw CLI::ValidationError("--output", std::string("a ") + format_name(r.format) +
                                                   " file cannot go to standard output; give a file name");
    if (!o.channels.empty() && r.format == export_format::csv)
        throw CLI::ValidationError("--channels", "the CSV columns are those of the capture's mode; --channels "
                                                 "applies to vcd, wav and sr");
    if (!o.range.empty()) {
        if (!parse_sample_range(o.range, r.first, r.last))
            throw CLI::ValidationError("--range", "'" + o.range + "' is not FIRST:LAST, two sample numbers");
        r.ranged = true;
    }
    return r;
}

int run_export_command(const export_options& o, const export_request& request) {
    load_capture(o.file);
    const dso_record& r = dso_structure;
    const int8_t mode = r.capture_mode;
    const char* format = format_name(request.format);
    const int32_t samples = samples_in_mode(mode);

    // The window's export of a mode it does not know is an empty file; the other formats
    // have nothing to say about such a capture.
    if (samples == 0 && request.format != export_format::csv) {
        print_message("%s: capture mode %d is not one of the four modes; nothing to export as %s", o.file.c_str(), mode,
                      format);
        return EXIT_WARNING;
    }
    int32_t first = 0, last = samples - 1;
    if (request.ranged && !export_range(mode, request.first, request.last, first, last)) {
        print_message("--range: %lld:%lld leaves no two samples of this capture's 0..%d (FIRST must lie below LAST)",
                      static_cast<long long>(request.first), static_cast<long long>(request.last), samples - 1);
        return EXIT_USAGE;
    }
    if (request.format != export_format::csv && sample_rate_hz(mode, r.sample_rate_index) == 0) {
        print_message("%s: rate index %d is not one of the six rates; a %s file needs the sample rate", o.file.c_str(),
                      r.sample_rate_index, format);
        return EXIT_WARNING;
    }

    int count = capture_channels(r, channels);
    char message[300];
    if (!o.channels.empty() && !select_channels(o.channels.c_str(), channels, count, message, sizeof message)) {
        print_message("--channels: %s", message);
        return EXIT_USAGE;
    }

    switch (request.format) {
    case export_format::csv:
        if (!request.ranged && o.output != "-")
            export_csv_file(o.output.c_str());  // exactly the window's export
        else
            write_file(o.output, "save_dso_structure", [&](std::FILE* out) { return write_csv_lines(out, first, last); });
        break;
    case export_format::vcd: {
        char date[64];
        vcd_date(date, sizeof date);
        write_file(o.output, "write_vcd",
                   [&](std::FILE* out) { return write_vcd(out, r, channels, count, first, last, date); });
        break;
    }
    case export_format::wav: {
        int analogue = 0;
        for (int i = 0; i < count; ++i)
            if (channels[i].kind == channel_kind::analogue) channels[analogue++] = channels[i];
        if (analogue == 0) {
            print_message(mode == MODE_LOGIC16 ? "a 16 Bit Logic Analyser capture has no analogue channel for a wav file"
                                               : "the chosen channels hold no analogue channel for a wav file");
            return EXIT_WARNING;
        }
        if (analogue < count && !o.channels.empty()) {
            print_message("--channels: a wav file holds analogue channels only (A, B)");
            return EXIT_USAGE;
        }
        write_file(o.output, "write_wav", [&](std::FILE* out) { return write_wav(out, r, channels, analogue, first, last); });
        break;
    }
    case export_format::sr:
        if (!write_sigrok_session(o.output.c_str(), r, channels, count, first, last, message, sizeof message)) {
            char info[600];
            std::snprintf(info, sizeof info, "%s: %s", o.output.c_str(), message);
            error_handler(7, "write_sigrok_session", info);
        }
        break;
    }
    return EXIT_SUCCESS_STATUS;
}
