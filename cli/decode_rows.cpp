#include "cli/decode_rows.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

constexpr double TEXT_SIZE = 11.0;
constexpr int32_t MARGIN = 6;  // above the first row

// The boxes' colours, one a row, in turn: the window's blue, green and red, and a dark grey.
const double COLOURS[][3] = {{0, 0, 1}, {0, 0.55, 0}, {0.8, 0, 0}, {0.3, 0.3, 0.3}};

}  // namespace

std::vector<decode_row> decode_rows(const decode_result& result) {
    std::vector<decode_row> rows;
    std::map<std::string, size_t> index;  // "instance|row" -> its row
    for (const decoded_annotation& a : result.annotations) {
        const std::string row = a.row.empty() ? a.class_name : a.row;
        const std::string key = a.instance + "|" + row;
        auto known = index.find(key);
        if (known == index.end()) {
            known = index.emplace(key, rows.size()).first;
            rows.push_back({a.instance + ": " + (a.row_description.empty() ? row : a.row_description), {}});
        }
        rows[known->second].items.push_back(&a);
    }
    return rows;
}

int32_t decode_rows_height(size_t rows) {
    return rows == 0 ? 0 : MARGIN + static_cast<int32_t>(rows) * DECODE_ROW_HEIGHT;
}

void draw_decode_rows(cairo_t* cr, const std::vector<decode_row>& rows, int32_t top, int32_t width, int32_t x_left,
                      int32_t x_right, sample_range range) {
    if (rows.empty()) return;
    cairo_save(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, 0, top, width, decode_rows_height(rows.size()));
    cairo_fill(cr);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, TEXT_SIZE);
    cairo_set_line_width(cr, 1.0);
    const double span = static_cast<double>(range.end) - range.start + 1;
    const double scale = (x_right - x_left) / span;
    for (size_t r = 0; r < rows.size(); ++r) {
        const double y = top + MARGIN + static_cast<double>(r) * DECODE_ROW_HEIGHT;
        const double* colour = COLOURS[r % (sizeof COLOURS / sizeof COLOURS[0])];
        // The label, cut to the margin left of the plot.
        cairo_save(cr);
        cairo_rectangle(cr, 0, y, x_left - 4, DECODE_ROW_HEIGHT);
        cairo_clip(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_move_to(cr, 2, y + 14);
        cairo_show_text(cr, rows[r].label.c_str());
        cairo_restore(cr);
        for (const decoded_annotation* a : rows[r].items) {
            if (a->end < static_cast<uint64_t>(range.start) || a->start > static_cast<uint64_t>(range.end)) continue;
            double x0 = x_left + (static_cast<double>(a->start) - range.start) * scale;
            double x1 = x_left + (static_cast<double>(a->end) - range.start) * scale;
            x0 = std::max<double>(x0, x_left);
            x1 = std::min<double>(x1, x_right);
            if (x1 - x0 < 1) x1 = x0 + 1;
            const double left = std::floor(x0) + 0.5, right = std::floor(x1) + 0.5;
            cairo_set_source_rgb(cr, 0.5 + colour[0] / 2, 0.5 + colour[1] / 2, 0.5 + colour[2] / 2);
            cairo_rectangle(cr, left, y + 2.5, std::max(right - left, 1.0), DECODE_ROW_HEIGHT - 5);
            cairo_fill_preserve(cr);
            cairo_set_source_rgb(cr, colour[0], colour[1], colour[2]);
            cairo_stroke(cr);
            // The longest text that fits; else the shortest, cut to the box.
            if (right - left < 6 || a->texts.empty()) continue;
            const std::string* text = &a->texts.back();
            for (const std::string& t : a->texts) {
                cairo_text_extents_t extents;
                cairo_text_extents(cr, t.c_str(), &extents);
                if (extents.x_advance <= right - left - 4) {
                    text = &t;
                    break;
                }
            }
            cairo_save(cr);
            cairo_rectangle(cr, left + 1, y + 2, right - left - 2, DECODE_ROW_HEIGHT - 4);
            cairo_clip(cr);
            cairo_set_source_rgb(cr, 0, 0, 0);
            cairo_move_to(cr, left + 3, y + 15);
            cairo_show_text(cr, text->c_str());
            cairo_restore(cr);
        }
    }
    cairo_restore(cr);
}
