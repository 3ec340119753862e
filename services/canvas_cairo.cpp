#include "services/canvas_cairo.h"

#include <cmath>
#include <cstddef>

namespace {

// A bold sans-serif of the size of the window's default font (the System font, which Wine
// draws in Liberation Sans Bold): 7 pixels for "a", digits 9 pixels high.
constexpr char TEXT_FONT_FAMILY[] = "Liberation Sans";
constexpr double TEXT_FONT_SIZE = 13.0;
constexpr std::size_t LABEL_SIZE = 128;

// a / b rounded up, b > 0.
int64_t ceil_div(__int128 a, int64_t b) { return static_cast<int64_t>(a >= 0 ? (a + b - 1) / b : -((-a) / b)); }

int64_t min64(int64_t a, int64_t b) { return a < b ? a : b; }
int64_t max64(int64_t a, int64_t b) { return a > b ? a : b; }
int64_t abs64(int64_t a) { return a < 0 ? -a : a; }

}  // namespace

cairo_canvas::cairo_canvas(cairo_t* cr, int32_t width, int32_t height, slanted_lines slanted)
    : cr_(cr), width_(width), height_(height), slanted_(slanted) {
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr_, 1.0);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    cairo_select_font_face(cr_, TEXT_FONT_FAMILY, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr_, TEXT_FONT_SIZE);
    // Whole-pixel advances, so that every format places the labels alike; smooth glyphs.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr_, options);
    cairo_font_options_destroy(options);
}

void cairo_canvas::set_colour(uint32_t colour) {
    cairo_set_source_rgb(cr_, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                         ((colour >> 16) & 0xFF) / 255.0);
}

void cairo_canvas::flush() {
    if (pending_.width > 0) {
        emit(pending_);
        pending_.width = 0;
    }
    if (!path_open_) return;
    set_colour(pen_colour_);
    cairo_stroke(cr_);
    path_open_ = false;
}

void cairo_canvas::select_new_pen(uint32_t colour) {
    flush();
    pen_colour_ = colour;
}

void cairo_canvas::restore_initial_pen() {
    flush();
    pen_colour_ = 0;
}

void cairo_canvas::fill_background(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    flush();
    if (right <= left || bottom <= top) return;
    cairo_rectangle(cr_, left, top, static_cast<double>(right) - left, static_cast<double>(bottom) - top);
    set_colour(COLOUR_WHITE);
    cairo_fill(cr_);
    // The outline in the current pen, on the edge pixels of the rectangle.
    const int64_t w = static_cast<int64_t>(right) - left, h = static_cast<int64_t>(bottom) - top;
    add_run(left, top, w, 1);
    add_run(left, bottom - 1, w, 1);
    add_run(left, top, 1, h);
    add_run(right - 1, top, 1, h);
}

void cairo_canvas::move_to(int32_t x, int32_t y) {
    x_ = x;
    y_ = y;
}

void cairo_canvas::line_to(int32_t x, int32_t y) {
    const int64_t x0 = x_, y0 = y_;
    if (y == y0) {
        if (x > x0) add_run(x0, y, x - x0, 1);  // x0 .. x - 1
        if (x < x0) add_run(x + 1, y, x0 - x, 1);  // x + 1 .. x0
    } else if (x == x0) {
        if (y > y0) add_run(x, y0, 1, y - y0);
        if (y < y0) add_run(x, y + 1, 1, y0 - y);
    } else if (slanted_ == slanted_lines::pixels) {
        slanted_pixels(x_, y_, x, y);
    } else {
        slanted_vector(x_, y_, x, y);
    }
    x_ = x;
    y_ = y;
}

void cairo_canvas::add_run(int64_t x, int64_t y, int64_t width, int64_t height) {
    // Only what lies on the surface: cairo's coordinates are far narrower than the paint's.
    if (x < 0) {
        width += x;
        x = 0;
    }
    if (y < 0) {
        height += y;
        y = 0;
    }
    width = min64(width, width_ - x);
    height = min64(height, height_ - y);
    if (width <= 0 || height <= 0) return;
    const pixel_run run{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(width),
                        static_cast<int32_t>(height)};
    // Join the run to the pending one when both lie on one column, or on one row, and touch
    // or overlap: the same pixels in one stroke.
    pixel_run& p = pending_;
    if (p.width > 0) {
        if (p.width == 1 && run.width == 1 && p.x == run.x && run.y <= p.y + p.height && p.y <= run.y + run.height) {
            const int32_t top = p.y < run.y ? p.y : run.y;
            const int32_t end = p.y + p.height > run.y + run.height ? p.y + p.height : run.y + run.height;
            p.y = top;
            p.height = end - top;
            return;
        }
        if (p.height == 1 && run.height == 1 && p.y == run.y && run.x <= p.x + p.width && p.x <= run.x + run.width) {
            const int32_t left = p.x < run.x ? p.x : run.x;
            const int32_t end = p.x + p.width > run.x + run.width ? p.x + p.width : run.x + run.width;
            p.x = left;
            p.width = end - left;
            return;
        }
        emit(p);
    }
    p = run;
}

void cairo_canvas::emit(const pixel_run& run) {
    // A stroke one pixel wide along the middle of the run, with butt ends, covers exactly its
    // pixels.
    if (run.height == 1) {
        cairo_move_to(cr_, run.x, run.y + 0.5);
        cairo_rel_line_to(cr_, run.width, 0);
    } else {
        cairo_move_to(cr_, run.x + 0.5, run.y);
        cairo_rel_line_to(cr_, 0, run.height);
    }
    path_open_ = true;
}

void cairo_canvas::slanted_pixels(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    // Step along the longer axis, one pixel a step, the end pixel left out. The other
    // coordinate is the line's own rounded to the nearest pixel, a tie going to the smaller
    // coordinate, as GDI draws it.
    const bool x_major = abs64(static_cast<int64_t>(x1) - x0) >= abs64(static_cast<int64_t>(y1) - y0);
    const int64_t major0 = x_major ? x0 : y0, minor0 = x_major ? y0 : x0;
    const int64_t d_major = x_major ? static_cast<int64_t>(x1) - x0 : static_cast<int64_t>(y1) - y0;
    const int64_t d_minor = x_major ? static_cast<int64_t>(y1) - y0 : static_cast<int64_t>(x1) - x0;
    const int64_t steps = abs64(d_major);
    const int64_t direction = d_major > 0 ? 1 : -1;
    const int64_t size = x_major ? width_ : height_;

    // Only the steps whose pixels lie within the surface along the longer axis.
    int64_t first, end;
    if (direction > 0) {
        first = max64(0, -major0);
        end = min64(steps, size - major0);
    } else {
        first = max64(0, major0 - size + 1);
        end = min64(steps, major0 + 1);
    }

    auto minor_at = [&](int64_t k) {  // in 128 bits: k and d_minor may each come near 2^31
        const __int128 twice = static_cast<__int128>(2 * k) * d_minor - steps;
        return minor0 + ceil_div(twice, 2 * steps);
    };
    auto put = [&](int64_t k_first, int64_t k_last, int64_t minor) {  // steps k_first..k_last on one minor
        const int64_t a = major0 + direction * k_first, b = major0 + direction * k_last;
        const int64_t low = a < b ? a : b, length = abs64(b - a) + 1;
        if (x_major)
            add_run(low, minor, length, 1);
        else
            add_run(minor, low, 1, length);
    };
    if (first >= end) return;
    int64_t run_start = first, run_minor = minor_at(first);
    for (int64_t k = first + 1; k < end; ++k) {
        const int64_t m = minor_at(k);
        if (m == run_minor) continue;
        put(run_start, k - 1, run_minor);
        run_start = k;
        run_minor = m;
    }
    put(run_start, end - 1, run_minor);
}

void cairo_canvas::slanted_vector(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    // From the centre of the first pixel to the centre of the last, kept to the surface and a
    // pixel around it (Liang-Barsky).
    const double ax = x0 + 0.5, ay = y0 + 0.5, dx = static_cast<double>(x1) - x0, dy = static_cast<double>(y1) - y0;
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax + 1.0, width_ + 1.0 - ax, ay + 1.0, height_ + 1.0 - ay};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            if (t > t1) return;
            if (t > t0) t0 = t;
        } else {
            if (t < t0) return;
            if (t < t1) t1 = t;
        }
    }
    cairo_move_to(cr_, ax + t0 * dx, ay + t0 * dy);
    cairo_line_to(cr_, ax + t1 * dx, ay + t1 * dy);
    path_open_ = true;
}

void cairo_canvas::set_text_alignment(text_alignment alignment) { alignment_ = alignment; }

int32_t cairo_canvas::char_width_a() {
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, "a", &extents);
    return static_cast<int32_t>(std::lround(extents.x_advance));
}

void cairo_canvas::text_out(int32_t x, int32_t y, const char* text, int32_t length) {
    flush();
    char label[LABEL_SIZE];
    std::size_t n = 0;
    for (int32_t i = 0; i < length && n + 1 < sizeof label; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        label[n++] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';  // cairo takes UTF-8 only
    }
    label[n] = '\0';
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, label, &extents);
    const int32_t width = static_cast<int32_t>(std::lround(extents.x_advance));
    const int32_t left = alignment_ == text_alignment::centre_top ? x - width / 2 : x - width;
    // The opaque white cell, then the glyphs in black on the baseline.
    cairo_rectangle(cr_, left, y, width, TEXT_CELL_HEIGHT);
    set_colour(COLOUR_WHITE);
    cairo_fill(cr_);
    set_colour(0);
    cairo_move_to(cr_, left, static_cast<double>(y) + TEXT_BASELINE);
    cairo_show_text(cr_, label);
    cairo_new_path(cr_);
}
