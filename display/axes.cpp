#include "display/axes.h"

#include <cstdio>

#include "capture/dso_structure.h"
#include "display/pixel_math.h"

namespace {

const char* const TIME_UNITS[] = {"S", "mS", "uS", "nS", "pS", "fS", "aS"};
constexpr int TIME_UNIT_COUNT = static_cast<int>(sizeof TIME_UNITS / sizeof TIME_UNITS[0]);

// The label of a lane: "LSB 0" on top, "MSB n" on the last lane, the lane number between.
int lane_label(char* text, std::size_t size, int k, int lanes) {
    if (k == 0) return std::snprintf(text, size, "LSB 0");
    if (k == lanes - 1) return std::snprintf(text, size, "MSB %d", k);
    return std::snprintf(text, size, "%d", k);
}

}  // namespace

int64_t round_up_to_one_digit(int64_t value) {
    if (value < 10) return value;
    int64_t leading = value;
    int64_t power = 1;
    while (leading >= 10) {
        leading /= 10;
        power *= 10;
    }
    const int64_t result = leading * power;
    if (result >= value) return result;
    return result > INT64_MAX - power ? INT64_MAX : result + power;
}

const char* time_unit(int i) {
    if (i < 0) i = 0;
    return TIME_UNITS[i < TIME_UNIT_COUNT ? i : TIME_UNIT_COUNT - 1];
}

void draw_x_axis(canvas& surface, int32_t x_left, int32_t x_right, int32_t y, sample_range range) {
    draw_x_axis(surface, x_left, x_right, y, range, dso_structure.capture_mode, dso_structure.sample_rate_index,
                display_preferences.show_time_on_x_axis != 0);
}

void draw_x_axis(canvas& surface, int32_t x_left, int32_t x_right, int32_t y, sample_range range, int8_t capture_mode,
                 int8_t sample_rate_index, bool show_time) {
    x_left = limit_coordinate(x_left);
    x_right = limit_coordinate(x_right);
    y = limit_coordinate(y);
    surface.set_text_alignment(text_alignment::centre_top);
    surface.move_to(x_left, y);
    surface.line_to(x_right, y);

    // The axis values of the first and last sample: sample numbers, or times in the unit
    // that makes the span last 10 or more.
    int64_t first = range.start;
    int64_t last = range.end;
    const char* unit = "";
    if (show_time) {
        double rate = capture_mode == MODE_SINGLE ? 100.0 : 50.0;
        for (int k = 0; k < sample_rate_index; ++k) rate *= 0.5;
        double seconds = static_cast<double>(1e-6f) / rate;  // per sample
        double duration = static_cast<double>(static_cast<int64_t>(range.end) - range.start) * seconds;
        int scalings = 0;
        // A span of one sample needs four scalings at most; the unit table bounds the loop
        // for a span of none.
        while (duration < 10 && scalings < TIME_UNIT_COUNT - 1) {
            duration *= 1000;
            seconds *= 1000;
            ++scalings;
        }
        unit = time_unit(scalings);
        first = trunc_to_int32(range.start * seconds);
        last = trunc_to_int32(range.end * seconds);
    }

    // Labels that fit across the axis, from an estimate of their width.
    int digits = 1;
    if (last > 10) {
        for (int64_t copy = last; copy > 10; copy /= 10) ++digits;
    }
    const int chars = digits + (show_time ? 4 : 1);
    int32_t char_width = surface.char_width_a();
    if (char_width < 1) char_width = 1;
    const int64_t width = static_cast<int64_t>(x_right) - x_left;
    const int64_t values = last - first;
    int64_t labels = width / (static_cast<int64_t>(char_width) * chars);
    // Not even one label fits: the step then spans the whole axis.
    if (labels < 1) labels = 1;
    const int64_t raw = values / labels;
    const int64_t step = raw < 10 ? 10 : round_up_to_one_digit(raw);
    // Pixels per axis unit; an axis of no values puts every tick at its left end.
    const float scale = values > 0 ? single(static_cast<double>(width) / values) : 0.0f;

    int64_t g = first / step * step;
    if (g < first) g += step;
    for (; g <= last; g += step) {
        const int32_t x = x_left + trunc_to_pixel(static_cast<double>(g - first) * scale);
        surface.move_to(x, y);
        surface.line_to(x, y + 10);
        char text[48];
        const int length = show_time ? std::snprintf(text, sizeof text, "%d %s", static_cast<int>(g), unit)
                                     : std::snprintf(text, sizeof text, "%d", static_cast<int>(g));
        surface.text_out(x, y + 10, text, length);
    }

    const int64_t minor = step / 10;
    g = first / minor * minor;
    if (g < first) g += minor;
    for (; g <= last; g += minor) {
        const int32_t x = x_left + trunc_to_pixel(static_cast<double>(g - first) * scale);
        surface.move_to(x, y);
        surface.line_to(x, y + 5);
    }
}

void draw_analogue_y_axis(canvas& surface, int32_t x, int32_t y_top, int32_t y_bottom) {
    x = limit_coordinate(x);
    y_top = limit_coordinate(y_top);
    y_bottom = limit_coordinate(y_bottom);
    surface.set_text_alignment(text_alignment::right_top);
    surface.move_to(x, y_top);
    surface.line_to(x, y_bottom);
    const float spacing = single(static_cast<double>(y_bottom - y_top) * 0.125);
    float a = single(y_top);
    const float bottom = single(y_bottom);
    // Nine labels, 128 down to -128; the count also bounds an area of no height.
    for (int value = 128; a <= bottom && value >= -128; value -= 32) {
        const int32_t yy = trunc_to_pixel(a);
        surface.move_to(x, yy);
        surface.line_to(x - 10, yy);
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%d", value);
        surface.text_out(x - 10, yy - 8, text, length);
        a = single(static_cast<double>(a) + spacing);
    }
}

void draw_logic_y_axis(canvas& surface, int32_t x, int32_t y_top, int32_t y_bottom, int lanes) {
    x = limit_coordinate(x);
    y_top = limit_coordinate(y_top);
    y_bottom = limit_coordinate(y_bottom);
    surface.set_text_alignment(text_alignment::right_top);
    const int n = lanes < 1 ? 0 : lanes;
    const float lane_height = n > 0 ? single(static_cast<double>(y_bottom - y_top) / (n + 2)) : 0.0f;
    const float gap = n > 0 ? single(2.0 * lane_height / (n + 1)) : 0.0f;
    const float pitch = single(static_cast<double>(lane_height) + gap);
    const float offset = single(static_cast<double>(lane_height) * 0.5 + gap);  // middle of lane 0
    surface.move_to(x, y_top);
    surface.line_to(x, y_bottom);
    float a = single(static_cast<double>(y_top) + offset);
    const float bottom = single(y_bottom);
    // One label per lane; the count also bounds a position that no longer moves.
    for (int k = 0; a < bottom && k < n; ++k) {
        const int32_t yy = trunc_to_pixel(a);
        surface.move_to(x, yy);
        surface.line_to(x - 10, yy);
        char text[16];
        const int length = lane_label(text, sizeof text, k, n);
        surface.text_out(x - 10, yy - 8, text, length);
        a = single(static_cast<double>(a) + pitch);
    }
}
