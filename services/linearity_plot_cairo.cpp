#include "services/linearity_plot_cairo.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <cmath>
#include <cstdio>

namespace {

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

struct series {
    std::string label;
    const code_density* density;
    double r, g, b;
};

// One panel: the values of each series against the code, a zero line and a scale either way.
void panel(cairo_t* cr, double left, double top, double width, double height, const char* title,
           const std::vector<series>& lines, bool inl) {
    double extent = 0.5;
    for (const series& s : lines)
        for (int c = s.density->first; c <= s.density->last; ++c)
            extent = std::fmax(extent, std::fabs(inl ? s.density->inl[c] : s.density->dnl[c]));
    extent = std::ceil(extent * 1.2 * 4) / 4;
    const auto x = [&](double code) { return left + width * code / 255.0; };
    const auto y = [&](double v) { return top + height / 2 - v / extent * height / 2; };
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, left, top, width, height);
    cairo_fill(cr);
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
    for (int c = 0; c <= 256; c += 32) {
        cairo_move_to(cr, x(c), top);
        cairo_line_to(cr, x(c), top + height);
    }
    for (const double v : {-extent, -extent / 2, extent / 2, extent}) {
        cairo_move_to(cr, left, y(v));
        cairo_line_to(cr, left + width, y(v));
    }
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
    cairo_move_to(cr, left, y(0));
    cairo_line_to(cr, left + width, y(0));
    cairo_stroke(cr);
    cairo_rectangle(cr, left, top, width, height);
    cairo_stroke(cr);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    char text[64];
    for (const double v : {-extent, 0.0, extent}) {
        std::snprintf(text, sizeof text, "%+.2f", v);
        cairo_move_to(cr, left - 44, y(v) + 4);
        cairo_show_text(cr, text);
    }
    for (int c = 0; c <= 256; c += 32) {
        std::snprintf(text, sizeof text, "%d", c > 255 ? 255 : c);
        cairo_move_to(cr, x(c > 255 ? 255 : c) - 8, top + height + 16);
        cairo_show_text(cr, text);
    }
    cairo_set_font_size(cr, 14);
    cairo_move_to(cr, left, top - 8);
    cairo_show_text(cr, title);
    cairo_set_line_width(cr, 1.2);
    double legend = left + width;
    for (auto s = lines.rbegin(); s != lines.rend(); ++s) {
        cairo_text_extents_t size;
        cairo_set_font_size(cr, 12);
        cairo_text_extents(cr, s->label.c_str(), &size);
        legend -= size.x_advance + 30;
        cairo_set_source_rgb(cr, s->r, s->g, s->b);
        cairo_rectangle(cr, legend, top - 16, 18, 8);
        cairo_fill(cr);
        cairo_move_to(cr, legend + 22, top - 8);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        cairo_show_text(cr, s->label.c_str());
    }
    for (const series& s : lines) {
        cairo_set_source_rgb(cr, s.r, s.g, s.b);
        const code_density& d = *s.density;
        for (int c = d.first; c <= d.last; ++c) {
            const double v = inl ? d.inl[c] : d.dnl[c];
            if (c == d.first) cairo_move_to(cr, x(c), y(v));
            else cairo_line_to(cr, x(c), y(v));
        }
        cairo_stroke(cr);
    }
}

}  // namespace

bool linearity_plot(const std::vector<const capture_linearity*>& results, const std::string& title,
                    const std::string& format, std::string& bytes) {
    static const double colours[][3] = {{0.80, 0.15, 0.15}, {0.0, 0.45, 0.70}, {0.20, 0.60, 0.20}, {0.55, 0.30, 0.70}};
    std::vector<series> lines;
    for (const capture_linearity* r : results) {
        const auto add = [&](const std::string& label, const code_density& d) {
            if (d.gap != linearity_gap::none) return;
            const double* c = colours[lines.size() % 4];
            lines.push_back({label, &d, c[0], c[1], c[2]});
        };
        const std::string name = std::string("channel ") + r->channel;
        if (r->interleaved) {
            add(name + ", even samples (converter A)", r->even);
            add(name + ", odd samples (converter B)", r->odd);
        } else {
            add(name, r->whole);
        }
    }
    const double width = 900, height = 640;
    bytes.clear();
    cairo_surface_t* surface = nullptr;
    if (format == "svg") surface = cairo_svg_surface_create_for_stream(append, &bytes, width, height);
    else if (format == "pdf") surface = cairo_pdf_surface_create_for_stream(append, &bytes, width, height);
    else surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height));
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.96, 0.96, 0.96);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 16);
    cairo_move_to(cr, 60, 26);
    cairo_show_text(cr, title.c_str());
    if (lines.empty()) {
        cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_move_to(cr, 60, 60);
        cairo_show_text(cr, "No converter could be tested: see korvane-cli linearity's text for why.");
    } else {
        panel(cr, 60, 70, 820, 220, "DNL (LSB) against the code", lines, false);
        panel(cr, 60, 380, 820, 220, "INL (LSB) against the code", lines, true);
    }
    cairo_destroy(cr);
    bool ok = true;
    if (format == "png" || (format != "svg" && format != "pdf"))
        ok = cairo_surface_write_to_png_stream(surface, append, &bytes) == CAIRO_STATUS_SUCCESS;
    cairo_surface_finish(surface);
    ok = ok && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok && !bytes.empty();
}
