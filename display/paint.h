// The whole paint of the main window's client area through a canvas: background, plot
// areas by mode, traces, trigger overlays and axes.
#pragma once
#include <cstdint>

#include "capture/dso_structure.h"
#include "display/canvas.h"
#include "display/view_range.h"

struct plot_area {
    int32_t x_left;
    int32_t y_top;
    int32_t x_right;
    int32_t y_bottom;
};

// Paints the client rectangle (left and top are 0) from the capture record over the view
// range with the display preferences.
void paint_client(canvas& surface, int32_t left, int32_t top, int32_t right, int32_t bottom);
// It shows the range as range_to_paint gives it, holds record_buffers_guard from start to
// end, and takes client coordinates within +-1,048,576.

// The same paint of any capture record with a view of its own (range and preferences), for
// a caller that keeps records apart from the window's (the record must not change meanwhile:
// no guard is taken). Several paints of different records may run at once.
void paint_record(canvas& surface, const dso_record& record, const record_view& view, int32_t left, int32_t top,
                  int32_t right, int32_t bottom);

// The plot areas of a capture_mode over the client rectangle, upper area first; returns
// their number (2 in MODE_DUAL and MODE_MIXED, 1 in MODE_SINGLE and MODE_LOGIC16, 0 for any
// other mode).
int plot_layout(int8_t mode, int32_t left, int32_t top, int32_t right, int32_t bottom, plot_area areas[2]);

// The renderers and overlays draw with the pen that is selected. The sample renderers read
// only samples 0..count-1 whatever the range holds: they limit it with limit_range first.

// One analogue trace of count 8-bit samples: a polyline when at most 10 samples fall on a
// pixel column, else one min/max stroke per column x_left..x_right. A column that begins at
// or past the end of the samples (single-precision accumulation can carry the last columns
// there) shows the last sample.
void draw_analogue_trace(canvas& surface, const uint8_t* samples, int32_t count, const plot_area& area,
                         sample_range range);

// Logic lanes, one per bit, bit 0 on top: 8 lanes from bytes, or (when bytes is null) 16
// lanes from count little-endian 16-bit words stored as byte pairs at words.
void draw_logic_traces(canvas& surface, const uint8_t* bytes, const uint8_t* words, int32_t count,
                       const plot_area& area, sample_range range);

// The vertical line at the record's pretrigger index, when show_pretrigger_position is set
// and the index lies in the range.
void draw_pretrigger_marker(canvas& surface, const plot_area& area, sample_range range);
void draw_pretrigger_marker(canvas& surface, const plot_area& area, sample_range range, const dso_record& record,
                            const display_preferences_flags& preferences);

// The horizontal line of the record's trigger_value, when show_trigger_level is set and the
// trigger source belongs to the area's channel (1 or 2).
void draw_trigger_level(canvas& surface, const plot_area& area, int channel);
void draw_trigger_level(canvas& surface, const plot_area& area, int channel, const dso_record& record,
                        const display_preferences_flags& preferences);
