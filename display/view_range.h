// The view range (the samples shown, both ends included), zoom and pan, and the display
// preferences.
#pragma once
#include <cstdint>

extern int32_t view_start;
extern int32_t view_end;

constexpr int ZOOM_IN = 0;
constexpr int ZOOM_OUT = 1;
constexpr int PAN_RIGHT = 2;
constexpr int PAN_LEFT = 3;

struct display_preferences_flags {
    int32_t allow_zoom_while_panning;
    int32_t show_time_on_x_axis;
    int32_t show_pretrigger_position;
    int32_t show_trigger_level;
};
extern display_preferences_flags display_preferences;

// The start-up preferences: 1, 0, 1, 1.
void set_display_defaults();

// 0xBFFFF in Single Channel, 0x5FFFF in every other mode (of the record's capture_mode).
int32_t last_sample_index();
int32_t last_sample_index(int8_t capture_mode);

// Stores the range after clamping; returns 1, or 0 when it is empty or reversed (unchanged).
int set_view_range(int32_t start, int32_t end);
void get_view_range(int32_t& start, int32_t& end);
void reset_view_range();

// Applies ZOOM_IN, ZOOM_OUT, PAN_RIGHT or PAN_LEFT to the range; the caller repaints.
void zoom_pan_range(int command);

// A view of a capture apart from the window's: the range as it was set (before limit_range)
// and the preferences. The window's own is view_start, view_end and display_preferences.
struct record_view {
    int32_t start;
    int32_t end;
    display_preferences_flags preferences;
};
// The window's view as it stands.
record_view window_view();
// set_view_range, reset_view_range and zoom_pan_range on a view of a capture of that mode.
int set_view_range(record_view& view, int8_t capture_mode, int32_t start, int32_t end);
void reset_view_range(record_view& view, int8_t capture_mode);
void zoom_pan_range(record_view& view, int8_t capture_mode, int command);

// A stretch of samples to draw, both ends included.
struct sample_range {
    int32_t start;
    int32_t end;
};

// The range limited to the samples 0..last (last >= 1): each end is brought within 0..last,
// and a range left empty or reversed by that (for instance one left beyond a shorter mode
// after a change of capture_mode) becomes the two samples from its start, or the last two
// samples when its start lies at or beyond last. A valid range comes back unchanged.
sample_range limit_range(int32_t start, int32_t end, int32_t last);

// The stored view range as the paint shows it: limit_range over the current mode's
// samples. The stored range itself is left as it is.
sample_range range_to_paint();
sample_range range_to_paint(const record_view& view, int8_t capture_mode);
