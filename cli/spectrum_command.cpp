#include "cli/spectrum_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/dso_structure.h"
#include "cli/output_options.h"
#include "cli/terminal.h"
#include "diagnostics/offset_correct.h"
#include "services/analysis_pictures_cairo.h"
#include "services/spectrum_report.h"

namespace {

const std::vector<output_format> SPECTRUM_FORMATS = {output_format::csv, output_format::png, output_format::svg,
                                                     output_format::pdf};

cairo_status_t to_output(void* closure, const unsigned char* data, unsigned int length) {
    return write_output_bytes(*static_cast<output_file*>(closure), data, length) ? CAIRO_STATUS_SUCCESS
                                                                                  : CAIRO_STATUS_WRITE_ERROR;
}

picture_format picture_of(output_format f) {
    return f == output_format::svg ? picture_format::svg : f == output_format::pdf ? picture_format::pdf : picture_format::png;
}

}  // namespace

int write_drawn_output(const std::string& output, output_format format, const struct stat* input,
                       const std::function<bool(cairo_write_func_t, void*)>& draw) {
    std::vector<output_request> outputs = {{output, format, {}}};
    if (const int refused = check_outputs(outputs, input)) return refused;
    file_failure failure;
    output_file out;
    if (!open_output(outputs[0].plan, out, false, failure)) report_file_failure(failure, format_of(format).routine);
    if (!draw(to_output, &out)) {
        failure = out.failure;
        if (failure.code == 0) failure = {7, 0, output + ": the picture could not be drawn"};
        abandon_output(out);
        report_file_failure(failure, format_of(format).routine);
    }
    if (!commit_output(out, failure)) report_file_failure(failure, format_of(format).routine);
    return EXIT_SUCCESS_STATUS;
}

CLI::App* add_spectrum_command(CLI::App& app, spectrum_options& o) {
    CLI::App* c = app.add_subcommand("spectrum", "The spectrum of an analogue channel, the math channel or the Single "
                                                 "Channel trace: the converter figures of a sine (THD, SNR, SINAD, ENOB, "
                                                 "SFDR), the largest peaks, and the levels as CSV or a plot");
    c->add_option("file", o.files, "The .dso capture file, or - for standard input; several captures (of one mode, "
                                   "rate and length) give the power average of their spectra")
        ->required()
        ->type_name("FILE.dso");
    c->add_option("--channel", o.channel, "A, B or M (the math channel); default: A, or B in Mixed Mode, or M with "
                                          "--math. In Single Channel, A is the trace of both converters in turn")
        ->type_name("A|B|M");
    c->add_option("--math", o.math, "The math channel's expression: A+B, A-B, B-A, A*B, -A, -B, (A+B)/2")->type_name("EXPR");
    c->add_option("--window", o.window, "rectangular, hann, hamming, blackman, blackman-harris or flat-top; the "
                                        "figures of a sine that is not on a bin need a low-leakage one")
        ->capture_default_str();
    c->add_option("--range", o.range, "The samples transformed, first and last; default: the whole capture")
        ->type_name("FIRST:LAST");
    c->add_option("--peaks", o.peaks, "How many of the largest peaks to list (0..100)")->capture_default_str();
    c->add_flag("--json", o.json, "Print the figures and the peaks as one JSON object");
    c->add_flag("--levels", o.levels, "With --json: every bin's level too, as one array");
    c->add_option("-o,--output", o.output, "Write the levels: .csv (frequency and level of every bin), or a plot "
                                           "(.png, .svg, .pdf)")
        ->type_name("OUT");
    c->add_option("--size", o.size, "The plot's size in pixels")->type_name("WIDTHxHEIGHT")->capture_default_str();
    c->add_flag("--log-frequency", o.log_frequency, "A logarithmic frequency axis on the plot");
    c->add_flag("--offset-correct", o.offset_correct, "First apply Tools, Offset Correct to a Single Channel capture (the "
                                                     "file is not changed): the converters' offset spur at fs/2 falls");
    c->add_option("--channels-config", o.channels_config, "Levels also in dB of the channels' units (dBV) that this "
                                                          "channel settings file gives them, and the math in those units")
        ->type_name("FILE");
    c->footer("Exit status: 0 shown; 1 nothing shown: a damaged header, a capture without the channel asked for; 2 a "
              "bad command line; 5 a file that could not be read or written.\n");
    return c;
}

int run_spectrum_command(const spectrum_options& o) {
    spectrum_request request;
    std::string field, message;
    if (!spectrum_request_from_text(o.channel, o.math, o.window, o.range, o.peaks, request, field, message)) {
        print_message("spectrum: --%s: %s", field.c_str(), message.c_str());
        return EXIT_USAGE;
    }
    output_format format = output_format::csv;
    int32_t width = 0, height = 0;
    if (!o.output.empty()) {
        format = output_format_for(o.output, "", SPECTRUM_FORMATS, -1);
        if (format != output_format::csv) {
            const std::string refusal = picture_size_refusal(o.size, format, width, height);
            if (!refusal.empty()) {
                print_message("spectrum: --size: %s", refusal.c_str());
                return EXIT_USAGE;
            }
        }
        for (const std::string& f : o.files) refuse_input_as_output(f, o.output);
    }
    if (o.levels && !o.json) {
        print_message("spectrum: --levels: adds the levels to --json; for a file of them use -o spectrum.csv");
        return EXIT_USAGE;
    }
    channel_settings channels;
    if (!o.channels_config.empty())
        if (const int refused = read_channels_config(o.channels_config, channels)) return refused;
    const channel_settings* scales = o.channels_config.empty() ? nullptr : &channels;

    std::vector<spectrum_report> reports(o.files.size());
    struct stat input {};
    for (size_t i = 0; i < o.files.size(); ++i) {
        load_capture(o.files[i], input);
        if (o.offset_correct && offset_correct() != 0) {
            print_message("%s: --offset-correct corrects a Single Channel capture; this one is %s",
                          input_name(o.files[i]).c_str(),
                          capture_mode_title(dso_structure.capture_mode) ? capture_mode_title(dso_structure.capture_mode)
                                                                         : "of an unknown mode");
            return EXIT_USAGE;
        }
        if (const int refused = spectrum_report_of(o.files[i], dso_structure, request, scales, reports[i], message)) {
            print_message("%s", message.c_str());
            return refused;
        }
    }
    spectrum_report report;
    if (reports.size() == 1) {
        report = std::move(reports[0]);
    } else if (!average_reports(reports, request.peaks, report, message)) {
        print_message("spectrum: %s", message.c_str());
        return EXIT_USAGE;
    }
    const std::string name = o.files.size() == 1 ? input_name(o.files[0]) : std::to_string(o.files.size()) + " captures";
    if (!o.output.empty()) {
        // The one input that may not be overwritten: the last read (each is checked above by name).
        const int written = write_drawn_output(o.output, format, &input, [&](cairo_write_func_t write, void* closure) {
            if (format != output_format::csv)
                return spectrum_picture(picture_of(format), report, width, height, o.log_frequency, write, closure);
            const std::string csv = spectrum_csv(report);
            return write(closure, reinterpret_cast<const unsigned char*>(csv.data()),
                         static_cast<unsigned int>(csv.size())) == CAIRO_STATUS_SUCCESS;
        });
        if (written != 0) return written;
    }
    const std::string text = o.json ? spectrum_json_text(report, name, o.levels, 2) + "\n" : spectrum_text(report, name);
    if (o.output != "-") std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        print_report_line(7, "spectrum", std::string("standard output: ") + std::strerror(errno));
        return EXIT_FILE;
    }
    return EXIT_SUCCESS_STATUS;
}
