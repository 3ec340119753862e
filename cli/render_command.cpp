// korvane-cli render FILE.dso -o OUT.png|OUT.svg|OUT.pdf: the window's paint of a capture
// as a picture, with the View Range, Preferences and View Mode settings as options.
#include "cli/render_command.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>

#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "app/error_handler.h"
#include "capture/dso_structure.h"
#include "capture/replacement_file.h"
#include "cli/cairo_canvas.h"
#include "cli/cli_common.h"
#include "display/paint.h"
#include "display/view_range.h"

namespace {

// A PNG picture is drawn in memory, 4 bytes a pixel, before it is encoded.
constexpr uint64_t PICTURE_MEMORY_CEILING = uint64_t{512} << 20;
constexpr uint64_t BYTES_PER_PIXEL = 4;

const struct {
    const char* extension;
    picture_format format;
} EXTENSIONS[] = {{".png", picture_format::png}, {".svg", picture_format::svg}, {".pdf", picture_format::pdf}};

bool ends_with_ignoring_case(const std::string& text, const char* end) {
    const size_t n = std::strlen(end);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[text.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != end[i]) return false;
    }
    return true;
}

// Reads an optionally signed decimal number from text at i, saturated to 32 bits; false
// when no digit follows.
bool read_number(const std::string& text, size_t& i, bool signed_number, int64_t& value) {
    bool negative = false;
    if (signed_number && i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const size_t start = i;
    value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value <= INT32_MAX) value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) value = INT32_MAX;
    if (negative) value = -value;
    return i > start;
}

std::string mebibytes(uint64_t bytes) { return std::to_string((bytes + (uint64_t{1} << 20) - 1) >> 20) + " MiB"; }

// The picture's bytes go to the replacement file in blocks: the vector surfaces hand over
// their text a few bytes at a time.
struct picture_output {
    replacement_file* file;
    bool failed;
    size_t used;
    unsigned char buffer[1 << 16];
};
picture_output output;

bool drain(picture_output& o) {
    if (o.used > 0 && !o.failed) o.failed = !write_replacement(*o.file, o.buffer, o.used);
    o.used = 0;
    return !o.failed;
}

cairo_status_t write_picture_bytes(void* closure, const unsigned char* data, unsigned int length) {
    picture_output& o = *static_cast<picture_output*>(closure);
    while (length > 0 && !o.failed) {
        if (o.used == sizeof o.buffer) drain(o);
        size_t n = sizeof o.buffer - o.used;
        if (n > length) n = length;
        std::memcpy(o.buffer + o.used, data, n);
        o.used += n;
        data += n;
        length -= static_cast<unsigned int>(n);
    }
    return o.failed ? CAIRO_STATUS_WRITE_ERROR : CAIRO_STATUS_SUCCESS;
}

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
    c->add_option("file", o.file, "The .dso capture file")->required()->type_name("FILE.dso");
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
        ->check(CLI::IsMember(MODE_OPTION_NAMES));
    c->add_flag("--time-axis", o.time_axis, "Times instead of sample numbers on the x axis");
    c->add_flag("--no-pretrigger-marker", o.no_pretrigger_marker, "Leave out the green pre-trigger marker");
    c->add_flag("--no-trigger-level", o.no_trigger_level, "Leave out the green trigger-level line");
    c->footer("Exit status: 0 written; 2 a bad command line; 5 a file that could not be read or written. The "
              "picture is written completely or not at all.\n");
    return c;
}

render_settings render_settings_from_options(const render_options& o) {
    render_settings s{};
    bool known = false;
    for (const auto& e : EXTENSIONS) {
        if (ends_with_ignoring_case(o.output, e.extension)) {
            s.format = e.format;
            known = true;
        }
    }
    if (!known)
        throw CLI::ValidationError("--output", "cannot tell the picture's format from the name '" + o.output +
                                                   "'; end it in .png, .svg or .pdf");

    size_t i = 0;
    int64_t width = 0, height = 0;
    if (!read_number(o.size, i, false, width) || i == o.size.size() || (o.size[i] != 'x' && o.size[i] != 'X') ||
        !read_number(o.size, ++i, false, height) || i != o.size.size())
        throw CLI::ValidationError("--size", "'" + o.size + "' is not a size; give WIDTHxHEIGHT in pixels, such as "
                                                            "800x600");
    if (width < MIN_PICTURE_WIDTH || height < MIN_PICTURE_HEIGHT)
        throw CLI::ValidationError("--size", o.size + " is smaller than the window can be; at least " +
                                                 std::to_string(MIN_PICTURE_WIDTH) + "x" +
                                                 std::to_string(MIN_PICTURE_HEIGHT));
    if (width > MAX_PICTURE_SIDE || height > MAX_PICTURE_SIDE)
        throw CLI::ValidationError("--size", o.size + " is larger than a picture can be; at most " +
                                                 std::to_string(MAX_PICTURE_SIDE) + " pixels a side");
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * BYTES_PER_PIXEL;
    if (s.format == picture_format::png && bytes > picture_memory_limit())
        throw CLI::ValidationError("--size", "a PNG picture of " + o.size + " takes " + mebibytes(bytes) +
                                                 " of memory while it is drawn, more than the " +
                                                 mebibytes(picture_memory_limit()) +
                                                 " allowed here; choose a smaller size, or SVG or PDF");
    s.width = static_cast<int32_t>(width);
    s.height = static_cast<int32_t>(height);

    s.has_range = !o.range.empty();
    if (s.has_range) {
        int64_t first = 0, last = 0;
        i = 0;
        if (!read_number(o.range, i, true, first) || i == o.range.size() || o.range[i] != ':' ||
            !read_number(o.range, ++i, true, last) || i != o.range.size())
            throw CLI::ValidationError("--range", "'" + o.range + "' is not a range; give FIRST:LAST in samples, "
                                                                  "such as 1000:5000");
        s.first = static_cast<int32_t>(first);
        s.last = static_cast<int32_t>(last);
    }
    s.mode = o.mode.empty() ? int8_t{-1} : mode_from_option_name(o.mode);
    return s;
}

bool render_picture(picture_format format, int32_t width, int32_t height, cairo_write_func_t write, void* closure) {
    cairo_surface_t* surface = nullptr;
    switch (format) {
    case picture_format::png: surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height); break;
    case picture_format::svg:
        surface = cairo_svg_surface_create_for_stream(write, closure, width, height);
        cairo_svg_surface_set_document_unit(surface, CAIRO_SVG_UNIT_PX);  // a pixel a unit, as the window
        break;
    case picture_format::pdf: surface = cairo_pdf_surface_create_for_stream(write, closure, width, height); break;
    }
    bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    if (ok) {
        cairo_t* cr = cairo_create(surface);
        {
            cairo_canvas surface_canvas(cr, width, height,
                                        format == picture_format::png ? slanted_lines::pixels : slanted_lines::vector);
            paint_client(surface_canvas, 0, 0, width, height);
            surface_canvas.flush();
        }
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

int run_render_command(const render_options& o, const render_settings& s) {
    load_capture(o.file);
    // As the window: Open shows the whole capture of the file's mode, View Mode then reads the
    // samples under another mode and keeps the range, and View Range applies its rules.
    reset_view_range();
    if (s.mode >= 0) dso_structure.capture_mode = s.mode;
    if (s.has_range && set_view_range(s.first, s.last) == 0) {
        const char* title = mode_title(dso_structure.capture_mode);
        print_message("--range: '%s' shows no samples: the first must lie below the last once both are brought "
                      "within 0..%d%s%s",
                      o.range.c_str(), last_sample_index(), title ? ", the samples of " : "", title ? title : "");
        return EXIT_USAGE;
    }
    set_display_defaults();
    display_preferences.show_time_on_x_axis = o.time_axis ? 1 : 0;
    display_preferences.show_pretrigger_position = o.no_pretrigger_marker ? 0 : 1;
    display_preferences.show_trigger_level = o.no_trigger_level ? 0 : 1;

    const char* name = o.output.c_str();
    replacement_file file;
    if (!begin_replacement(file, name)) {
        error_handler(9, "render_picture", name);
        return 5;
    }
    output.file = &file;
    output.failed = false;
    output.used = 0;
    const bool drawn = render_picture(s.format, s.width, s.height, write_picture_bytes, &output);
    if (!drawn || !drain(output)) {
        abandon_replacement(file);
        error_handler(7, "render_picture", name);
        return 5;
    }
    if (!commit_replacement(file)) {
        error_handler(9, "render_picture", name);
        return 5;
    }
    return EXIT_SUCCESS_STATUS;
}
