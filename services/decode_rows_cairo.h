// Decoded annotations as rows under the window's picture: one row for each decoder's
// annotation row that has annotations, grouped by decoder in the order of the stacks, each
// under a caption that names it whole, with a box over the samples of each annotation and its
// text cut to the box, following the view range as the lanes do.
#pragma once
#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

#include "services/protocol_decode_srd.h"
#include "display/view_range.h"

struct decode_row {
    std::string label;  // "uart: RX"
    std::vector<const decoded_annotation*> items;
};

constexpr int32_t DECODE_ROW_HEIGHT = 34;  // its caption, then its boxes

// The rows of the annotations: decoder by decoder as the stacks give them, and each decoder's
// rows in the order it declares them (its classes without a row after them).
std::vector<decode_row> decode_rows(const decode_result& result);

// The height the rows take below the window's picture (0 for none).
int32_t decode_rows_height(size_t rows);

// Draws the rows from top over the picture's width; the samples of range stand between
// x_left and x_right, as in the plot areas above.
void draw_decode_rows(cairo_t* cr, const std::vector<decode_row>& rows, int32_t top, int32_t width, int32_t x_left,
                      int32_t x_right, sample_range range);
