#include "services/decode_rows_cairo.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

constexpr double TEXT_SIZE = 11.0;
constexpr double CAPTION_SIZE = 10.0;
constexpr int32_t CAPTION = 13;  // the caption's band at the top of a row
constexpr int32_t MARGIN = 4;    // above the first row

// The boxes' colours, one a row, in turn: the window's blue, green and red, and a dark grey.
const double COLOURS[][3] = {{0, 0, 1}, {0, 0.55, 0}, {0.8, 0, 0}, {0.3, 0.3, 0.3}};

}  // namespace

std::vector<decode_row> decode_rows(const decode_result& result) {
    struct keyed {
        size_t instance;
        int order;
        decode_row row;
    };
    std::vector<keyed> found;
    std::map<std::string, size_t> index;  // "instance|row" -> its row
    for (const decoded_annotation& a : result.annotations) {
        const std::string row = a.row.empty() ? a.class_name : a.row;
        const std::string key = a.instance + "|" + row;
        auto known = index.find(key);
        if (known == index.end()) {
            const auto at = std::find(result.instances.begin(), result.instances.end(), a.instance);
            known = index.emplace(key, found.size()).first;
            found.push_back({static_cast<size_t>(at - result.instances.begin()), a.row_order,
                             {a.instance + ": " + (a.row_description.empty() ? row : a.row_description), {}}});
        }
        found[known->second].row.items.push_back(&a);
    }
    std::stable_sort(found.begin(), found.end(), [](const keyed& x, const keyed& y) {
        return x.instance != y.instance ? x.instance < y.instance : x.order < y.order;
    });
    std::vector<decode_row> rows;
    for (keyed& k : found) rows.push_back(std::move(k.row));
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
    cairo_set_line_width(cr, 1.0);
    const double span = static_cast<double>(range.end) - range.start + 1;
    const double scale = (x_right - x_left) / span;
    for (size_t r = 0; r < rows.size(); ++r) {
        const double y = top + MARGIN + static_cast<double>(r) * DECODE_ROW_HEIGHT;
        const double* colour = COLOURS[r % (sizeof COLOURS / sizeof COLOURS[0])];
        // The caption, whole, over the row's boxes.
        cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, CAPTION_SIZE);
        cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
        cairo_move_to(cr, 2, y + CAPTION - 3);
        cairo_show_text(cr, rows[r].label.c_str());
        cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, TEXT_SIZE);
        const double box_top = y + CAPTION;
        const double box_height = DECODE_ROW_HEIGHT - CAPTION - 2;
        for (const decoded_annotation* a : rows[r].items) {
            if (a->end < static_cast<uint64_t>(range.start) || a->start > static_cast<uint64_t>(range.end)) continue;
            double x0 = x_left + (static_cast<double>(a->start) - range.start) * scale;
            double x1 = x_left + (static_cast<double>(a->end) - range.start) * scale;
            x0 = std::max<double>(x0, x_left);
            x1 = std::min<double>(x1, x_right);
            if (x1 - x0 < 1) x1 = x0 + 1;
            const double left = std::floor(x0) + 0.5, right = std::floor(x1) + 0.5;
            cairo_set_source_rgb(cr, 0.5 + colour[0] / 2, 0.5 + colour[1] / 2, 0.5 + colour[2] / 2);
            cairo_rectangle(cr, left, box_top + 0.5, std::max(right - left, 1.0), box_height - 1);
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
            cairo_rectangle(cr, left + 1, box_top, right - left - 2, box_height);
            cairo_clip(cr);
            cairo_set_source_rgb(cr, 0, 0, 0);
            cairo_move_to(cr, left + 3, box_top + 13);
            cairo_show_text(cr, text->c_str());
            cairo_restore(cr);
        }
    }
    cairo_restore(cr);
}
