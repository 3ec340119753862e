// korvane-cli render FILE.dso -o OUT.png|OUT.svg|OUT.pdf: the window's paint of a capture
// as a picture, with the View Range, Preferences and View Mode settings as options.
#include "cli/render_command.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>

#include <cstdio>

#include <unistd.h>

#include "app/error_handler.h"
#include "capture/dso_structure.h"
#include "cli/cairo_canvas.h"
#include "cli/decode_rows.h"
#include "cli/cli_common.h"
#include "cli/outputs.h"
#include "display/paint.h"
#include "display/view_range.h"

namespace {

// A PNG picture is drawn in memory, 4 bytes a pixel, before it is encoded.
constexpr uint64_t PICTURE_MEMORY_CEILING = uint64_t{512} << 20;
constexpr uint64_t BYTES_PER_PIXEL = 4;

const std::vector<output_format> PICTURE_FORMATS = {output_format::png, output_format::svg, output_format::pdf};

// Reads an unsigned decimal number from text at i, saturated to 32 bits; false when no
// digit follows.
bool read_size(const std::string& text, size_t& i, int64_t& value) {
    const size_t start = i;
    value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value <= INT32_MAX) value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) value = INT32_MAX;
    return i > start;
}

int32_t saturated(int64_t v) { return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

std::string mebibytes(uint64_t bytes) { return std::to_string((bytes + (uint64_t{1} << 20) - 1) >> 20) + " MiB"; }

// The memory a PNG picture may take while it is drawn: half the machine's, at most the ceiling.
uint64_t picture_memory_limit() {
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return PICTURE_MEMORY_CEILING;
    const uint64_t half = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size) / 2;
    return half < PICTURE_MEMORY_CEILING ? half : PICTURE_MEMORY_CEILING;
}

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
    c->footer("Exit status: 0 written; 1 nothing written: the capture's header is damaged; 2 a bad command line "
              "(an output that is the input among them); 5 a file that could not be read or written. The picture is "
              "written completely or not at all.\n");
    return c;
}

void parse_picture_size(const std::string& text, output_format format, int32_t& width, int32_t& height) {
    size_t i = 0;
    int64_t w = 0, h = 0;
    if (!read_size(text, i, w) || i == text.size() || (text[i] != 'x' && text[i] != 'X') || !read_size(text, ++i, h) ||
        i != text.size())
        throw CLI::ValidationError("--size", "'" + text + "' is not a size; give WIDTHxHEIGHT in pixels, such as "
                                                          "800x600");
    if (w < MIN_PICTURE_WIDTH || h < MIN_PICTURE_HEIGHT)
        throw CLI::ValidationError("--size", text + " is smaller than the window can be; at least " +
                                                 std::to_string(MIN_PICTURE_WIDTH) + "x" +
                                                 std::to_string(MIN_PICTURE_HEIGHT));
    if (w > MAX_PICTURE_SIDE || h > MAX_PICTURE_SIDE)
        throw CLI::ValidationError("--size", text + " is larger than a picture can be; at most " +
                                                 std::to_string(MAX_PICTURE_SIDE) + " pixels a side");
    const uint64_t bytes = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * BYTES_PER_PIXEL;
    if (format == output_format::png && bytes > picture_memory_limit())
        throw CLI::ValidationError("--size", "a PNG picture of " + text + " takes " + mebibytes(bytes) +
                                                 " of memory while it is drawn, more than the " +
                                                 mebibytes(picture_memory_limit()) +
                                                 " allowed here; choose a smaller size, or SVG or PDF");
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
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

bool paint_on_surface(cairo_surface_t* surface, int32_t width, int32_t height, bool pixels) {
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return false;
    cairo_t* cr = cairo_create(surface);
    {
        cairo_canvas surface_canvas(cr, width, height, pixels ? slanted_lines::pixels : slanted_lines::vector);
        paint_client(surface_canvas, 0, 0, width, height);
        surface_canvas.flush();
    }
    const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    return ok;
}

bool render_picture(picture_format format, int32_t width, int32_t height, cairo_write_func_t write, void* closure,
                    const decode_result* decoded) {
    // Decoded rows go below the window's picture, which stays as it is.
    const std::vector<decode_row> rows = decoded != nullptr ? decode_rows(*decoded) : std::vector<decode_row>();
    const int32_t total = height + decode_rows_height(rows.size());
    cairo_surface_t* surface = nullptr;
    switch (format) {
    case picture_format::png: surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, total); break;
    case picture_format::svg:
        surface = cairo_svg_surface_create_for_stream(write, closure, width, total);
        cairo_svg_surface_set_document_unit(surface, CAIRO_SVG_UNIT_PX);  // a pixel a unit, as the window
        break;
    case picture_format::pdf: surface = cairo_pdf_surface_create_for_stream(write, closure, width, total); break;
    }
    bool ok = paint_on_surface(surface, width, height, format == picture_format::png);
    if (ok && !rows.empty()) {
        plot_area areas[2];
        const int count = plot_layout(dso_structure.capture_mode, 0, 0, width, height, areas);
        cairo_t* cr = cairo_create(surface);
        if (count > 0) draw_decode_rows(cr, rows, height, width, areas[0].x_left, areas[0].x_right, range_to_paint());
        ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(cr);
    }
    if (ok && format == picture_format::png)
        ok = cairo_surface_write_to_png_stream(surface, write, closure) == CAIRO_STATUS_SUCCESS;
    cairo_surface_finish(surface);  // a vector file writes its end here
    ok = ok && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

int prepare_render(const std::string& name, const render_options& o, const render_settings& s,
                   output_content& content, std::string& message) {
    const std::string damage = header_damage(dso_structure);
    if (!damage.empty()) {
        message = input_name(name) + ": not a capture this program wrote, or a damaged one: " + damage;
        return EXIT_WARNING;
    }
    // As the window: Open shows the whole capture of the file's mode, View Mode then reads the
    // samples under another mode and keeps the range, and View Range applies its rules.
    set_display_defaults();
    display_preferences.show_time_on_x_axis = o.time_axis ? 1 : 0;
    display_preferences.show_pretrigger_position = o.no_pretrigger_marker ? 0 : 1;
    display_preferences.show_trigger_level = o.no_trigger_level ? 0 : 1;
    display_preferences.allow_zoom_while_panning = s.zoom_while_panning ? 1 : 0;
    reset_view_range();
    if (s.mode >= 0) dso_structure.capture_mode = s.mode;
    if (s.has_range && set_view_range(s.first, s.last) == 0) {
        message = "--range: " + range_shows_nothing(o.range, last_sample_index());
        return EXIT_USAGE;
    }
    // A step of the window's zoom and pan keys from there.
    if (s.step >= 0) zoom_pan_range(s.step);
    content.width = s.width;
    content.height = s.height;
    if (!o.annotations.empty() && o.decode.empty()) {
        message = "-A: selects annotations of --decode, and there is none";
        return EXIT_USAGE;
    }
    if (!o.decode.empty()) {
        auto decoded = std::make_shared<decode_result>();
        const int32_t last = samples_in_mode(dso_structure.capture_mode) - 1;
        if (const int refused = decode_capture(dso_structure, 0, last, o.decode, o.annotations, *decoded, message)) {
            message = "--decode: " + message;
            return refused;
        }
        content.decoded = decoded;
    }
    return EXIT_SUCCESS_STATUS;
}

int run_render_command(const render_options& o, const render_settings& s) {
    return write_one_output(o.file, o.output, s.format, [&](output_content& content, std::string& message) {
        return prepare_render(o.file, o, s, content, message);
    });
}
