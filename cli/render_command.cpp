// korvane-cli render FILE.dso -o OUT.png|OUT.svg|OUT.pdf: the window's paint of a capture
// as a picture, with the View Range, Preferences and View Mode settings as options.
#include "cli/render_command.h"

#include <cstdio>

#include "capture/dso_structure.h"
#include "cli/output_options.h"
#include "cli/spectrum_command.h"
#include "services/analysis_pictures_cairo.h"
#include "cli/terminal.h"
#include "display/view_range.h"

namespace {

const std::vector<output_format> PICTURE_FORMATS = {output_format::png, output_format::svg, output_format::pdf};

int32_t saturated(int64_t v) { return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

}  // namespace

CLI::App* add_render_command(CLI::App& app, render_options& o) {
    CLI::App* c = app.add_subcommand("render", "Draw a capture as the window shows it, into a picture: PNG, or SVG "
                                               "and PDF as vector files");
    c->add_option("file", o.file, "The .dso capture file, or - for standard input")->required()->type_name("FILE.dso");
    c->add_option("-o,--output", o.output, "The picture to write; its name ends in .png, .svg or .pdf")
        ->required()
        ->type_name("OUT");
    c->add_option("--size", o.size, "The window's client area the picture shows, at least 300x400")
        ->type_name("WIDTHxHEIGHT")
        ->capture_default_str();
    c->add_option("--range", o.range, "The samples shown, first and last, as the View Range dialog takes them "
                                      "(the last is brought within the capture); default: the whole capture")
        ->type_name("FIRST:LAST");
    c->add_option("--mode", o.mode, "View the samples under another mode, as View Mode does: the file is not "
                                    "changed, and the range stays the file's unless --range is given")
        ->check(CLI::IsMember(MODE_OPTION_NAMES, CLI::ignore_case));
    c->add_flag("--time-axis", o.time_axis, "Times instead of sample numbers on the x axis");
    c->add_flag("--no-pretrigger-marker", o.no_pretrigger_marker, "Leave out the green pre-trigger marker");
    c->add_flag("--no-trigger-level", o.no_trigger_level, "Leave out the green trigger-level line");
    c->add_option("--decode", o.decode, "Decode the logic inputs (a decoder as decode -P takes it) and draw the "
                                        "annotations as rows under the picture; may be given more than once")
        ->type_name("STACK");
    c->add_option("-A,--protocol-decoder-annotations", o.annotations,
                  "With --decode: draw only these annotations, as decode -A takes them (uart=rx-data,spi)")
        ->type_name("DECODER[=CLASS[:CLASS]]");
    c->add_option("--xy", o.xy, "Draw the XY figure of two analogue channels instead, square: X,Y of A, B and M (A "
                                "across, B up for A,B), each in its unit with --channels-config, else in codes")
        ->type_name("X,Y")
        ->expected(0, 1)
        ->default_str("A,B");
    c->add_option("--math", o.math, "With --xy: the math channel M's expression (A+B, A-B, B-A, A*B, -A, -B, (A+B)/2)")
        ->type_name("EXPR");
    c->add_option("--channels-config", o.channels_config, "With --xy: the channels' scales from this channel settings "
                                                          "file")
        ->type_name("FILE");
    c->footer("Exit status: 0 written; 1 nothing written: the capture's header is damaged; 2 a bad command line "
              "(an output that is the input among them); 5 a file that could not be read or written. The picture is "
              "written completely or not at all.\n");
    return c;
}

void parse_picture_size(const std::string& text, output_format format, int32_t& width, int32_t& height) {
    const std::string refusal = picture_size_refusal(text, format, width, height);
    if (!refusal.empty()) throw CLI::ValidationError("--size", refusal);
}

render_settings render_settings_from_options(const render_options& o) {
    render_settings s{};
    refuse_input_as_output(o.file, o.output);
    s.format = output_format_for(o.output, "", PICTURE_FORMATS, -1);
    parse_picture_size(o.size, s.format, s.width, s.height);
    s.has_range = !o.range.empty();
    if (s.has_range) {
        int64_t first = 0, last = 0;
        if (!parse_sample_range(o.range, first, last)) throw CLI::ValidationError("--range", range_not_a_range(o.range));
        s.first = saturated(first);
        s.last = saturated(last);
    }
    s.mode = o.mode.empty() ? int8_t{-1} : mode_from_option_name(o.mode);
    return s;
}

int prepare_render(const std::string& name, const dso_record& record, const render_options& o,
                   const render_settings& s, output_content& content, std::string& message) {
    picture_request request;
    request.format = s.format;
    request.width = s.width;
    request.height = s.height;
    request.has_range = s.has_range;
    request.first = s.first;
    request.last = s.last;
    request.range_text = o.range;
    request.mode = s.mode;
    request.step = s.step;
    request.preferences.show_time_on_x_axis = o.time_axis ? 1 : 0;
    request.preferences.show_pretrigger_position = o.no_pretrigger_marker ? 0 : 1;
    request.preferences.show_trigger_level = o.no_trigger_level ? 0 : 1;
    request.preferences.allow_zoom_while_panning = s.zoom_while_panning ? 1 : 0;
    if (const int refused = prepare_picture(name, record, request, content.picture, message)) return refused;
    if (!o.annotations.empty() && o.decode.empty()) {
        message = "-A: selects annotations of --decode, and there is none";
        return EXIT_USAGE;
    }
    if (!o.decode.empty()) {
        auto decoded = std::make_shared<decode_result>();
        const int32_t last = samples_in_mode(record.capture_mode) - 1;
        if (const int refused = decode_capture(record, 0, last, o.decode, o.annotations, *decoded, message)) {
            message = "--decode: " + message;
            return refused;
        }
        content.decoded = decoded;
    }
    return EXIT_SUCCESS_STATUS;
}

namespace {

// render --xy: the figure of two channels over the range, as large as the size's shorter side.
int run_xy(const render_options& o, const render_settings& s) {
    xy_request request;
    std::string message;
    if (!parse_xy(o.xy, o.math, request, message)) {
        print_message("render: --xy: %s", message.c_str());
        return EXIT_USAGE;
    }
    if (!o.decode.empty() || !o.mode.empty()) {
        print_message("render: --xy draws the channels alone; --decode and --mode belong to the window's picture");
        return EXIT_USAGE;
    }
    channel_settings channels;
    if (!o.channels_config.empty())
        if (const int refused = read_channels_config(o.channels_config, channels)) return refused;
    struct stat input;
    load_capture(o.file, input);
    const dso_record& r = dso_structure;
    int32_t first = 0, last = 0;
    if (!samples_of_range(o.range, r.capture_mode, first, last, message)) {
        print_message("%s", message.c_str());
        return EXIT_USAGE;
    }
    const picture_format format = s.format == output_format::svg   ? picture_format::svg
                                  : s.format == output_format::pdf ? picture_format::pdf
                                                                   : picture_format::png;
    const int side = s.width < s.height ? s.width : s.height;
    const channel_settings* scales = o.channels_config.empty() ? nullptr : &channels;
    // A small picture drawn to nowhere first: a capture without those channels, a damaged
    // header or a math the mode cannot give is refused before the output is touched.
    const int refused = xy_picture(format, o.file, r, request, scales, first, first + 15 > last ? last : first + 15, 300,
                                   [](void*, const unsigned char*, unsigned int) { return CAIRO_STATUS_SUCCESS; },
                                   nullptr, message);
    if (refused != 0) {
        print_message("%s", message.c_str());
        return refused;
    }
    return write_drawn_output(o.output, s.format, &input, [&](cairo_write_func_t write, void* closure) {
        std::string ignored;
        return xy_picture(format, o.file, r, request, scales, first, last, side, write, closure, ignored) == 0;
    });
}

}  // namespace

int run_render_command(const render_options& o, const render_settings& s) {
    if (!o.xy.empty()) return run_xy(o, s);
    return write_one_output(o.file, o.output, s.format, [&](output_content& content, std::string& message) {
        return prepare_render(o.file, dso_structure, o, s, content, message);
    });
}
