#include "server/view_picture.h"

#include <cairo.h>
#include <png.h>
#include <zlib.h>

#include <vector>

#include "capture/dso_structure.h"
#include "services/decode_rows_cairo.h"
#include "display/paint.h"
#include "display/view_range.h"

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

// An RGB24 surface as a PNG, quickly: light deflate without row filters, for pictures that
// are mostly runs of a few colours.
bool encode_fast_png(cairo_surface_t* surface, std::string& out) {
    cairo_surface_flush(surface);
    const int32_t width = cairo_image_surface_get_width(surface);
    const int32_t height = cairo_image_surface_get_height(surface);
    const unsigned char* pixels = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr;
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        out.clear();
        png_set_write_fn(png, &out, append_bytes, nullptr);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 1);
        png_set_filter(png, 0, PNG_FILTER_NONE);
        png_write_info(png, info);
        for (int32_t y = 0; y < height; ++y) {
            const uint32_t* line = reinterpret_cast<const uint32_t*>(pixels + static_cast<size_t>(y) * stride);
            for (int32_t x = 0; x < width; ++x) {
                row[3 * x] = static_cast<unsigned char>(line[x] >> 16);
                row[3 * x + 1] = static_cast<unsigned char>(line[x] >> 8);
                row[3 * x + 2] = static_cast<unsigned char>(line[x]);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, info);
    } else {
        ok = false;
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return ok;
}

}  // namespace

bool render_view_png(const picture_subject& subject, std::string& out) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, subject.width, subject.height);
    const bool ok = paint_on_surface(surface, subject, true) && encode_fast_png(surface, out);
    cairo_surface_destroy(surface);
    return ok;
}

bool render_rows_png(const decode_result& decoded, const picture_subject& subject, std::string& out) {
    const std::vector<decode_row> rows = decode_rows(decoded);
    const int32_t width = subject.width;
    const int8_t mode = subject.record->capture_mode;
    plot_area areas[2];
    if (rows.empty() || plot_layout(mode, 0, 0, width, subject.height, areas) == 0) return false;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, decode_rows_height(rows.size()));
    bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    if (ok) {
        cairo_t* cr = cairo_create(surface);
        draw_decode_rows(cr, rows, 0, width, areas[0].x_left, areas[0].x_right, range_to_paint(subject.view, mode));
        ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS && encode_fast_png(surface, out);
        cairo_destroy(cr);
    }
    cairo_surface_destroy(surface);
    return ok;
}
