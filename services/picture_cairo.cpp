#include "services/picture_cairo.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>

#include <unistd.h>

#include "display/paint.h"
#include "services/canvas_cairo.h"
#include "services/capture_names.h"
#include "services/decode_rows_cairo.h"
#include "services/exit_status.h"
#include "services/text_values.h"

namespace {

// A PNG picture is drawn in memory, 4 bytes a pixel, before it is encoded.
constexpr uint64_t PICTURE_MEMORY_CEILING = uint64_t{512} << 20;
constexpr uint64_t BYTES_PER_PIXEL = 4;

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

std::string mebibytes(uint64_t bytes) { return std::to_string((bytes + (uint64_t{1} << 20) - 1) >> 20) + " MiB"; }

// The memory a PNG picture may take while it is drawn: half the machine's, at most the ceiling.
uint64_t picture_memory_limit() {
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return PICTURE_MEMORY_CEILING;
    const uint64_t half = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size) / 2;
    return half < PICTURE_MEMORY_CEILING ? half : PICTURE_MEMORY_CEILING;
}

}  // namespace

std::string picture_size_refusal(const std::string& text, output_format format, int32_t& width, int32_t& height) {
    size_t i = 0;
    int64_t w = 0, h = 0;
    if (!read_size(text, i, w) || i == text.size() || (text[i] != 'x' && text[i] != 'X') || !read_size(text, ++i, h) ||
        i != text.size())
        return "'" + text + "' is not a size; give WIDTHxHEIGHT in pixels, such as 800x600";
    if (w < MIN_PICTURE_WIDTH || h < MIN_PICTURE_HEIGHT)
        return text + " is smaller than the window can be; at least " + std::to_string(MIN_PICTURE_WIDTH) + "x" +
               std::to_string(MIN_PICTURE_HEIGHT);
    if (w > MAX_PICTURE_SIDE || h > MAX_PICTURE_SIDE)
        return text + " is larger than a picture can be; at most " + std::to_string(MAX_PICTURE_SIDE) + " pixels a side";
    const uint64_t bytes = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * BYTES_PER_PIXEL;
    if (format == output_format::png && bytes > picture_memory_limit())
        return "a PNG picture of " + text + " takes " + mebibytes(bytes) + " of memory while it is drawn, more than the " +
               mebibytes(picture_memory_limit()) + " allowed here; choose a smaller size, or SVG or PDF";
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return "";
}

int prepare_picture(const std::string& name, const dso_record& record, const picture_request& r,
                    picture_subject& subject, std::string& message) {
    const std::string damage = header_damage(record);
    if (!damage.empty()) {
        message = input_name(name) + ": not a capture this program wrote, or a damaged one: " + damage;
        return EXIT_WARNING;
    }
    // As the window: Open shows the whole capture of the file's mode, View Mode then reads the
    // samples under another mode and keeps the range, and View Range applies its rules.
    subject = picture_subject();
    subject.record = &record;
    subject.view.preferences = r.preferences;
    reset_view_range(subject.view, record.capture_mode);
    if (r.mode >= 0 && r.mode != record.capture_mode) {
        auto viewed = std::make_shared<dso_record>(record);
        viewed->capture_mode = r.mode;
        subject.viewed = viewed;
        subject.record = viewed.get();
    }
    const int8_t mode = subject.record->capture_mode;
    if (r.has_range && set_view_range(subject.view, mode, r.first, r.last) == 0) {
        message = "--range: " + range_shows_nothing(r.range_text, last_sample_index(mode));
        return EXIT_USAGE;
    }
    // A step of the window's zoom and pan keys from there.
    if (r.step >= 0) zoom_pan_range(subject.view, mode, r.step);
    subject.width = r.width;
    subject.height = r.height;
    return EXIT_SUCCESS_STATUS;
}

bool paint_on_surface(cairo_surface_t* surface, const picture_subject& subject, bool pixels) {
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return false;
    cairo_t* cr = cairo_create(surface);
    {
        cairo_canvas surface_canvas(cr, subject.width, subject.height, pixels ? slanted_lines::pixels : slanted_lines::vector);
        paint_record(surface_canvas, *subject.record, subject.view, 0, 0, subject.width, subject.height);
        surface_canvas.flush();
    }
    const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    return ok;
}

bool render_picture(picture_format format, const picture_subject& subject, cairo_write_func_t write, void* closure,
                    const decode_result* decoded) {
    const int32_t width = subject.width, height = subject.height;
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
    bool ok = paint_on_surface(surface, subject, format == picture_format::png);
    if (ok && !rows.empty()) {
        plot_area areas[2];
        const int8_t mode = subject.record->capture_mode;
        const int count = plot_layout(mode, 0, 0, width, height, areas);
        cairo_t* cr = cairo_create(surface);
        if (count > 0)
            draw_decode_rows(cr, rows, height, width, areas[0].x_left, areas[0].x_right, range_to_paint(subject.view, mode));
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
