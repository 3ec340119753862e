// The axes of the plot areas: the x axis with sample numbers or times, the analogue y axis
// labelled 128 down to -128, the logic y axis with one label per lane. Each sets the text
// alignment it needs and leaves it set; lines use the selected pen.
#pragma once
#include <cstdint>

#include "display/canvas.h"
#include "display/view_range.h"

// Rounds a value of 10 or more up to a number with one non-zero leading digit (11 -> 20,
// 100 -> 100, 101 -> 200); smaller values come back unchanged.
int64_t round_up_to_one_digit(int64_t value);

// Time unit of a duration scaled i times by 1000: "S", "mS", "uS", "nS", "pS", "fS", "aS";
// the last one for any larger i.
const char* time_unit(int i);

// The horizontal axis across x_left..x_right at row y with ticks and labels below it, over
// the range (with the record's capture_mode and sample_rate_index for time labels).
void draw_x_axis(canvas& surface, int32_t x_left, int32_t x_right, int32_t y, sample_range range);
// The same for a capture of that mode and rate index, with times when show_time is set.
void draw_x_axis(canvas& surface, int32_t x_left, int32_t x_right, int32_t y, sample_range range, int8_t capture_mode,
                 int8_t sample_rate_index, bool show_time);

void draw_analogue_y_axis(canvas& surface, int32_t x, int32_t y_top, int32_t y_bottom);

// lanes is 8 or 16; a lane count below 1 draws the axis line alone.
void draw_logic_y_axis(canvas& surface, int32_t x, int32_t y_top, int32_t y_bottom, int lanes);
