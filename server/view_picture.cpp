#include "server/view_picture.h"

#include <cairo.h>
#include <png.h>
#include <zlib.h>

#include <vector>

#include "cli/render_command.h"

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

}  // namespace

bool render_view_png(int32_t width, int32_t height, std::string& out) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    bool ok = paint_on_surface(surface, width, height, true);
    if (ok) {
        cairo_surface_flush(surface);
        const unsigned char* pixels = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
        ok = info != nullptr;
        std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
        if (ok && setjmp(png_jmpbuf(png)) == 0) {
            out.clear();
            png_set_write_fn(png, &out, append_bytes, nullptr);
            png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                         PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            // Fast deflate without row filters: the picture is mostly runs of a few colours.
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
    }
    cairo_surface_destroy(surface);
    return ok;
}
