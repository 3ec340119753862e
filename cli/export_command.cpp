#include "cli/export_command.h"

#include <cstdio>

#include "capture/capture_channels.h"
#include "capture/dso_structure.h"
#include "cli/cli_common.h"

namespace {

const std::vector<output_format> EXPORT_FORMATS = {output_format::csv, output_format::vcd, output_format::wav,
                                                   output_format::sr};

// "A, B" or "B": the analogue channels of the record's mode, for messages.
std::string analogue_names() {
    capture_channel all[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(dso_structure, all);
    std::string names;
    for (int i = 0; i < count; ++i)
        if (all[i].kind == channel_kind::analogue) names += (names.empty() ? "" : ", ") + std::string(all[i].name);
    return names;
}

}  // namespace

CLI::App* add_export_command(CLI::App& app, export_options& o) {
    std::string formats;
    for (output_format f : EXPORT_FORMATS) formats += std::string("\n  ") + format_of(f).name + "  " + format_of(f).what;
    CLI::App* c = app.add_subcommand("export", "Write a capture in another format, chosen by the output name's "
                                               "extension or --format:" + formats);
    c->add_option("file", o.file, "The .dso capture file, or - for standard input")->required()->type_name("FILE.dso");
    c->add_option("-o,--output", o.output, "The file to write, or - for standard output (csv unless --format)")
        ->required()
        ->type_name("OUT");
    c->add_option("--format", o.format, "The format (csv, vcd, wav, sr), for standard output or a name without its "
                                        "extension");
    c->add_option("--channels", o.channels, "The channels to write (vcd, wav, sr), e.g. D0,D3,A: D0..D15 in "
                                            "logic16, D0..D7 and B in mixed, A and B in dual, A in single; a wav "
                                            "file holds them in the order given")
        ->type_name("LIST");
    c->add_option("--range", o.range, "Only samples FIRST to LAST, both included, by the View Range rules: a "
                                      "negative end counts as 0, a LAST past the end as the last sample, and "
                                      "FIRST must lie below LAST")
        ->type_name("FIRST:LAST");
    c->footer("Exit status: 0 written; 1 nothing written: the capture cannot give that format (16 Bit Logic as wav, "
              "no sample rate) or its header is damaged; 2 a bad command line (an output that is the input among "
              "them); 5 a file that cannot be read or written. A file is written completely or not at all.\n");
    return c;
}

export_request export_request_from_options(const export_options& o) {
    export_request r{output_format::csv, false, 0, 0};
    refuse_input_as_output(o.file, o.output);
    r.format = output_format_for(o.output, o.format, EXPORT_FORMATS, o.output == "-" ? static_cast<int>(output_format::csv) : -1);
    if (!o.channels.empty() && r.format == output_format::csv)
        throw CLI::ValidationError("--channels", "the CSV columns are those of the capture's mode; --channels "
                                                 "applies to vcd, wav and sr");
    if (!o.range.empty()) {
        if (!parse_sample_range(o.range, r.first, r.last)) throw CLI::ValidationError("--range", range_not_a_range(o.range));
        r.ranged = true;
    }
    return r;
}

int prepare_export(const std::string& name, const export_options& o, const export_request& request,
                   output_content& content, std::string& message) {
    const dso_record& r = dso_structure;
    const std::string damage = header_damage(r);
    if (!damage.empty()) {
        message = input_name(name) + ": not a capture this program wrote, or a damaged one: " + damage;
        return EXIT_WARNING;
    }
    const int8_t mode = r.capture_mode;
    const char* format = format_of(request.format).name;
    const int32_t samples = samples_in_mode(mode);

    whole_capture(content);
    if (request.ranged && !export_range(mode, request.first, request.last, content.first, content.last)) {
        message = "--range: " + range_shows_nothing(o.range, samples - 1);
        return EXIT_USAGE;
    }
    if (request.format != output_format::csv && sample_rate_hz(mode, r.sample_rate_index) == 0) {
        message = input_name(name) + ": the capture names no sample rate (rate index " +
                  std::to_string(r.sample_rate_index) + "); a " + format + " file needs one";
        return EXIT_WARNING;
    }
    char text[300];
    if (!o.channels.empty() && !select_channels(o.channels.c_str(), content.channels, content.count, text,
                                                sizeof text, request.format == output_format::wav)) {
        message = std::string("--channels: ") + text;
        return EXIT_USAGE;
    }
    if (request.format == output_format::wav) {
        int analogue = 0;
        for (int i = 0; i < content.count; ++i) analogue += content.channels[i].kind == channel_kind::analogue;
        if (analogue == 0 && o.channels.empty()) {
            message = std::string("a ") + capture_mode_title(mode) + " capture has no analogue channel for a wav file";
            return EXIT_WARNING;
        }
        // Without --channels a wav file takes every analogue channel; a list that names a
        // logic input is a mistake.
        if (analogue < content.count && !o.channels.empty()) {
            message = "--channels: a wav file holds analogue channels only (this capture has " + analogue_names() + ")";
            return EXIT_USAGE;
        }
    }
    return EXIT_SUCCESS_STATUS;
}

int run_export_command(const export_options& o, const export_request& request) {
    return write_one_output(o.file, o.output, request.format, [&](output_content& content, std::string& message) {
        return prepare_export(o.file, o, request, content, message);
    });
}
