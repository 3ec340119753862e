#include "cli/export_command.h"

#include <cstdio>

#include "capture/capture_channels.h"
#include "capture/dso_structure.h"
#include "cli/output_options.h"
#include "cli/terminal.h"

namespace {

const std::vector<output_format> EXPORT_FORMATS = {output_format::csv, output_format::vcd, output_format::wav,
                                                   output_format::sr};

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
    c->add_option("--channels-config", o.channels_config, "Write the analogue channels of vcd and sr files in the "
                                                          "units this channel settings file gives them (as "
                                                          "korvane-cli serve keeps it), not in codes")
        ->type_name("FILE");
    c->footer("Exit status: 0 written; 1 nothing written: the capture cannot give that format (16 Bit Logic as wav, "
              "no sample rate) or its header is damaged; 2 a bad command line (an output that is the input among "
              "them); 5 a file that cannot be read or written. A file is written completely or not at all.\n");
    return c;
}

export_request export_request_from_options(const export_options& o) {
    export_request r;
    r.format = output_format::csv;
    refuse_input_as_output(o.file, o.output);
    r.format = output_format_for(o.output, o.format, EXPORT_FORMATS, o.output == "-" ? static_cast<int>(output_format::csv) : -1);
    r.channels = o.channels;
    r.range_text = o.range;
    std::string option, message;
    if (export_request_refusal(r, option, message)) throw CLI::ValidationError(option, message);
    return r;
}

int run_export_command(const export_options& o, const export_request& request) {
    channel_settings channels;
    if (!o.channels_config.empty())
        if (const int refused = read_channels_config(o.channels_config, channels)) return refused;
    return write_one_output(o.file, o.output, request.format, [&](output_content& content, std::string& message) {
        const int refused = prepare_export(o.file, dso_structure, request, content, message);
        if (refused == 0 && !o.channels_config.empty()) apply_channel_scales(channels, content);
        return refused;
    });
}
