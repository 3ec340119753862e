#include "services/analysis_pictures_cairo.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "services/capture_names.h"
#include "services/exit_status.h"
#include "services/math_measurements.h"
#include "services/text_values.h"

namespace {

constexpr char FONT[] = "Liberation Sans";

cairo_surface_t* surface_for(picture_format format, int32_t w, int32_t h, cairo_write_func_t write, void* closure) {
    switch (format) {
    case picture_format::png: return cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    case picture_format::svg: {
        cairo_surface_t* s = cairo_svg_surface_create_for_stream(write, closure, w, h);
        cairo_svg_surface_set_document_unit(s, CAIRO_SVG_UNIT_PX);
        return s;
    }
    case picture_format::pdf: return cairo_pdf_surface_create_for_stream(write, closure, w, h);
    }
    return nullptr;
}

// Ends the picture: a PNG is encoded, a vector file finished. false when anything failed.
bool finish(picture_format format, cairo_surface_t* surface, cairo_t* cr, cairo_write_func_t write, void* closure) {
    bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    if (ok && format == picture_format::png)
        ok = cairo_surface_write_to_png_stream(surface, write, closure) == CAIRO_STATUS_SUCCESS;
    cairo_surface_finish(surface);
    ok = ok && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

void text_at(cairo_t* cr, double x, double y, const std::string& text, double align_x, double align_y) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    cairo_move_to(cr, x - e.x_advance * align_x, y + e.height * align_y);
    cairo_show_text(cr, text.c_str());
}

// Steps of 1, 2 or 5 times a power of ten that give about `wanted` divisions of span.
double nice_step(double span, int wanted) {
    const double raw = span / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

std::string short_hz(double hz) {
    static const struct {
        double scale;
        const char* prefix;
    } prefixes[] = {{1e9, "G"}, {1e6, "M"}, {1e3, "k"}, {1, ""}};
    for (const auto& p : prefixes)
        if (std::fabs(hz) >= p.scale || p.scale == 1) {
            char text[32];
            std::snprintf(text, sizeof text, "%g %sHz", hz / p.scale, p.prefix);
            return text;
        }
    return "0 Hz";
}

std::string value_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", std::fabs(v) < 1e-12 ? 0.0 : v);
    return text;
}

}  // namespace

bool spectrum_picture(picture_format format, const spectrum_report& r, int32_t width, int32_t height, bool log_axis,
                      cairo_write_func_t write, void* closure) {
    const power_spectrum& s = r.spectrum;
    cairo_surface_t* surface = surface_for(format, width, height, write, closure);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, FONT, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);

    const double left = 64, right = width - (r.unit.empty() ? 20.0 : 64.0), top = 36, bottom = height - 44;
    const int32_t bins = static_cast<int32_t>(s.power.size());
    const double nyquist = (bins - 1) * s.bin_hz();
    const double f_low = log_axis ? s.bin_hz() : 0, f_high = nyquist;
    // Levels: from the noise's lowest tenth up to the highest bin, in 10 dB steps.
    std::vector<double> levels(static_cast<size_t>(bins));
    for (int32_t k = 0; k < bins; ++k) levels[static_cast<size_t>(k)] = s.level_db(k);
    std::vector<double> sorted(levels.begin() + 1, levels.end());
    const size_t tenth = sorted.size() / 10;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(tenth), sorted.end());
    const double lowest = sorted.empty() ? -100 : sorted[tenth];
    const double highest = *std::max_element(levels.begin(), levels.end());
    double db_top = std::ceil(std::max(highest, lowest + 20) / 10) * 10;
    double db_bottom = std::floor((std::max(lowest, -250.0) - 10) / 10) * 10;
    if (db_top - db_bottom < 40) db_bottom = db_top - 40;
    const auto x_of = [&](double hz) {
        if (log_axis) return left + (right - left) * std::log10(std::max(hz, f_low) / f_low) / std::log10(f_high / f_low);
        return left + (right - left) * (hz - f_low) / (f_high - f_low);
    };
    const auto y_of = [&](double dbv) {
        const double v = std::max(db_bottom, std::min(db_top, dbv));
        return top + (bottom - top) * (db_top - v) / (db_top - db_bottom);
    };

    // Grid and axes.
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
    const double db_step = nice_step(db_top - db_bottom, 8);
    for (double v = db_top; v >= db_bottom - 1e-9; v -= db_step) {
        cairo_move_to(cr, left, std::round(y_of(v)) + 0.5);
        cairo_line_to(cr, right, std::round(y_of(v)) + 0.5);
    }
    std::vector<double> ticks;
    if (log_axis) {
        for (double d = std::pow(10.0, std::ceil(std::log10(f_low))); d <= f_high; d *= 10) ticks.push_back(d);
    } else {
        const double step = nice_step(f_high - f_low, 8);
        for (double f = 0; f <= f_high + 1e-9; f += step) ticks.push_back(f);
    }
    for (double f : ticks) {
        cairo_move_to(cr, std::round(x_of(f)) + 0.5, top);
        cairo_line_to(cr, std::round(x_of(f)) + 0.5, bottom);
    }
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, left + 0.5, top + 0.5, right - left, bottom - top);
    cairo_stroke(cr);
    for (double v = db_top; v >= db_bottom - 1e-9; v -= db_step) {
        text_at(cr, left - 6, y_of(v), value_text(v), 1, 0.5);
        if (!r.unit.empty()) text_at(cr, right + 6, y_of(v), value_text(std::round((v + r.unit_offset_db) * 10) / 10), 0, 0.5);
    }
    for (double f : ticks) text_at(cr, x_of(f), bottom + 16, short_hz(f), 0.5, 0);
    text_at(cr, (left + right) / 2, height - 8.0, log_axis ? "frequency (logarithmic)" : "frequency", 0.5, 0);
    cairo_save(cr);
    cairo_translate(cr, 14, (top + bottom) / 2);
    cairo_rotate(cr, -M_PI / 2);
    text_at(cr, 0, 0, "dBFS", 0.5, 0.5);
    cairo_restore(cr);
    if (!r.unit.empty()) {
        cairo_save(cr);
        cairo_translate(cr, width - 12.0, (top + bottom) / 2);
        cairo_rotate(cr, -M_PI / 2);
        text_at(cr, 0, 0, "dB" + r.unit, 0.5, 0.5);
        cairo_restore(cr);
    }
    char title[200];
    std::snprintf(title, sizeof title, "%s%s, %s window, %d samples at %s%s", r.trace ? "Single Channel trace " : "channel ",
                  r.source.c_str(), window_name(s.window), s.samples, short_hz(s.rate_hz).c_str(),
                  s.records > 1 ? (", average of " + std::to_string(s.records)).c_str() : "");
    cairo_set_font_size(cr, 13);
    text_at(cr, left, 20, title, 0, 0);
    cairo_set_font_size(cr, 12);

    // The levels: the highest of each pixel column's bins, so that no peak is lost.
    cairo_save(cr);
    cairo_rectangle(cr, left, top, right - left, bottom - top);
    cairo_clip(cr);
    cairo_set_source_rgb(cr, 0.05, 0.3, 0.75);
    const int32_t first_bin = log_axis ? 1 : 0;
    int column = -1;
    double column_high = 0, column_low = 0;
    bool started = false;
    const auto draw_column = [&]() {
        if (column < 0) return;
        if (!started) cairo_move_to(cr, column + 0.5, y_of(column_high)), started = true;
        cairo_line_to(cr, column + 0.5, y_of(column_high));
        if (column_low < column_high) cairo_line_to(cr, column + 0.5, y_of(column_low)), cairo_line_to(cr, column + 0.5, y_of(column_high));
    };
    for (int32_t k = first_bin; k < bins; ++k) {
        const int c = static_cast<int>(std::floor(x_of(k * s.bin_hz())));
        const double v = levels[static_cast<size_t>(k)];
        if (c != column) {
            draw_column();
            column = c, column_high = v, column_low = v;
        } else {
            column_high = std::max(column_high, v), column_low = std::min(column_low, v);
        }
    }
    draw_column();
    cairo_stroke(cr);
    // The noise floor, dashed, and the peaks numbered.
    if (r.figures.found) {
        const double dashes[] = {6, 4};
        cairo_set_dash(cr, dashes, 2, 0);
        cairo_set_source_rgb(cr, 0.2, 0.6, 0.2);
        cairo_move_to(cr, left, std::round(y_of(r.figures.noise_floor_dbfs)) + 0.5);
        cairo_line_to(cr, right, std::round(y_of(r.figures.noise_floor_dbfs)) + 0.5);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
        text_at(cr, right - 4, y_of(r.figures.noise_floor_dbfs) - 4, "noise floor", 1, 0);
    }
    cairo_restore(cr);
    // The peaks, numbered (above the plot's top edge where they reach it).
    cairo_set_source_rgb(cr, 0.8, 0.1, 0.1);
    for (size_t i = 0; i < r.peaks.size(); ++i) {
        const double x = x_of(r.peaks[i].frequency_hz), y = std::max(top + 16, y_of(r.peaks[i].level_dbfs));
        cairo_move_to(cr, x, y - 3);
        cairo_line_to(cr, x - 5, y - 11);
        cairo_line_to(cr, x + 5, y - 11);
        cairo_close_path(cr);
        cairo_fill(cr);
        text_at(cr, x, y - 14, std::to_string(i + 1), 0.5, 0);
    }
    // The figures in a corner.
    if (r.figures.found) {
        const sine_figures& f = r.figures;
        char lines[4][96];
        std::snprintf(lines[0], sizeof lines[0], "fundamental %s, %.2f dBFS", frequency_words(f.fundamental.frequency_hz).c_str(),
                      f.fundamental.level_dbfs);
        std::snprintf(lines[1], sizeof lines[1], "THD %.2f dBc   SFDR %.2f dBc", f.thd_db, f.sfdr_db);
        std::snprintf(lines[2], sizeof lines[2], "SNR %.2f dB   SINAD %.2f dB", f.snr_db, f.sinad_db);
        std::snprintf(lines[3], sizeof lines[3], "ENOB %.2f bits", f.enob_bits);
        cairo_set_source_rgb(cr, 0, 0, 0);
        for (int i = 0; i < 4; ++i) text_at(cr, right - 8, top + 16 + 15.0 * i, lines[i], 1, 0);
    }
    return finish(format, surface, cr, write, closure);
}

bool parse_xy(const std::string& text, const std::string& math, xy_request& out, std::string& message) {
    std::string t;
    for (char c : text)
        if (c != ' ') t += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (t.size() != 3 || t[1] != ',' || std::string("ABM").find(t[0]) == std::string::npos ||
        std::string("ABM").find(t[2]) == std::string::npos || t[0] == t[2]) {
        message = "'" + text + "' is not a pair of channels; give X,Y of A, B and M: A,B (the default), B,A, M,A, A,M...";
        return false;
    }
    out.x = t[0];
    out.y = t[2];
    out.math = math;
    if ((out.x == 'M' || out.y == 'M') && math.empty()) {
        message = "M is the math channel: give its expression with --math";
        return false;
    }
    return true;
}

int xy_picture(picture_format format, const std::string& name, const dso_record& r, const xy_request& q,
               const channel_settings* channels, int32_t first, int32_t last, int32_t side, cairo_write_func_t write,
               void* closure, std::string& message) {
    const std::string damage = header_damage(r);
    if (!damage.empty()) {
        message = input_name(name) + ": not a capture this program wrote, or a damaged one: " + damage;
        return EXIT_WARNING;
    }
    const int8_t mode = r.capture_mode;
    const char* title = capture_mode_title(mode);
    const int32_t n = last - first + 1;
    // Each axis: its values and the span a full-scale signal takes.
    struct axis {
        char name;
        std::vector<double> v;
        double full = 128;
        std::string unit;
    } axes[2] = {{q.x, {}, 128, ""}, {q.y, {}, 128, ""}};
    for (axis& a : axes) {
        a.v.resize(static_cast<size_t>(n));
        if (a.name == 'M') {
            math_source m;
            if (const int refused = math_source_of(r, q.math, channels, m, message)) {
                if (refused != EXIT_USAGE) message = input_name(name) + ": " + message;
                return refused;
            }
            compute_math(r, m.op, m.a, m.b, first, last, a.v.data());
            a.full = m.full_scale;
            a.unit = m.unit;
        } else {
            const bool present = mode == MODE_DUAL || (mode == MODE_MIXED && a.name == 'B');
            if (!present) {
                message = input_name(name) + ": XY draws two channels; a " +
                          (title != nullptr ? title : "capture of an unknown mode") + " capture " +
                          (mode == MODE_SINGLE ? std::string("has one trace")
                                               : std::string("has no channel ") + a.name);
                return EXIT_WARNING;
            }
            const char id[2] = {a.name, '\0'};
            const analogue_channel_settings* s = channels != nullptr ? channels->analogue_named(id) : nullptr;
            const bool scaled = s != nullptr && s->scaled();
            const uint8_t* codes = (a.name == 'A' ? r.channel_a : r.channel_b) + first;
            const double zero = scaled ? s->zero_code : ZERO_LEVEL, k = scaled ? s->per_code() : 1;
            for (int32_t i = 0; i < n; ++i) a.v[static_cast<size_t>(i)] = (codes[i] - zero) * k;
            a.full = 128 * k;
            if (scaled) a.unit = s->unit;
        }
    }
    cairo_surface_t* surface = surface_for(format, side, side, write, closure);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, FONT, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    const double margin_left = 64, margin_bottom = 44, margin = 28;
    const double plot = side - margin_left - margin;  // square
    const double x0 = margin_left, y0 = margin;
    const auto px = [&](double v) { return x0 + plot * (v + axes[0].full) / (2 * axes[0].full); };
    const auto py = [&](double v) { return y0 + plot * (axes[1].full - v) / (2 * axes[1].full); };
    (void)margin_bottom;
    // Grid: eight divisions each way, the zero lines darker.
    cairo_set_line_width(cr, 1);
    for (int i = 0; i <= 8; ++i) {
        cairo_set_source_rgb(cr, i == 4 ? 0.6 : 0.85, i == 4 ? 0.6 : 0.85, i == 4 ? 0.6 : 0.85);
        const double at = std::round(x0 + plot * i / 8) + 0.5, at_y = std::round(y0 + plot * i / 8) + 0.5;
        cairo_move_to(cr, at, y0);
        cairo_line_to(cr, at, y0 + plot);
        cairo_move_to(cr, x0, at_y);
        cairo_line_to(cr, x0 + plot, at_y);
        cairo_stroke(cr);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, x0 + 0.5, y0 + 0.5, plot, plot);
    cairo_stroke(cr);
    for (int i = 0; i <= 8; i += 2) {
        const double vx = -axes[0].full + 2 * axes[0].full * i / 8, vy = -axes[1].full + 2 * axes[1].full * i / 8;
        text_at(cr, x0 + plot * i / 8, y0 + plot + 16, value_text(vx), 0.5, 0);
        text_at(cr, x0 - 6, y0 + plot - plot * i / 8, value_text(vy), 1, 0.5);
    }
    const auto label = [](const axis& a) {
        return std::string(1, a.name) + " (" + (a.unit.empty() ? "codes about 0x80" : a.unit) + ")";
    };
    text_at(cr, x0 + plot / 2, side - 8.0, label(axes[0]), 0.5, 0);
    cairo_save(cr);
    cairo_translate(cr, 14, y0 + plot / 2);
    cairo_rotate(cr, -M_PI / 2);
    text_at(cr, 0, 0, label(axes[1]), 0.5, 0.5);
    cairo_restore(cr);
    // The figure: each sample a point, each pair of neighbours joined, as a persistence
    // display draws them.
    cairo_save(cr);
    cairo_rectangle(cr, x0, y0, plot, plot);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, 0.05, 0.3, 0.75, 0.6);
    cairo_set_line_width(cr, 1);
    double last_x = -1, last_y = -1;
    for (int32_t i = 0; i < n; ++i) {
        const double x = std::round(px(axes[0].v[static_cast<size_t>(i)])), y = std::round(py(axes[1].v[static_cast<size_t>(i)]));
        if (i > 0 && x == last_x && y == last_y) continue;  // the same pixel: one stroke for all
        if (i == 0) cairo_move_to(cr, x + 0.5, y + 0.5);
        else cairo_line_to(cr, x + 0.5, y + 0.5);
        last_x = x, last_y = y;
    }
    cairo_stroke(cr);
    cairo_restore(cr);
    return finish(format, surface, cr, write, closure) ? EXIT_SUCCESS_STATUS : EXIT_FILE;
}
