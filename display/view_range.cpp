#include "display/view_range.h"

#include <cstdint>

#include "capture/dso_structure.h"

int32_t view_start = 0;
int32_t view_end = 0x5FFFF;

display_preferences_flags display_preferences = {1, 0, 1, 1};

void set_display_defaults() { display_preferences = {1, 0, 1, 1}; }

int32_t last_sample_index(int8_t capture_mode) { return capture_mode == MODE_SINGLE ? 0xBFFFF : 0x5FFFF; }
int32_t last_sample_index() { return last_sample_index(dso_structure.capture_mode); }

record_view window_view() { return {view_start, view_end, display_preferences}; }

int set_view_range(record_view& view, int8_t capture_mode, int32_t start, int32_t end) {
    if (start < 0) start = 0;
    if (end < 0) end = 0;
    const int32_t last = last_sample_index(capture_mode);
    if (end > last) end = last;
    if (start >= end) return 0;
    view.end = end;
    view.start = start;
    return 1;
}

int set_view_range(int32_t start, int32_t end) {
    record_view view = window_view();
    if (set_view_range(view, dso_structure.capture_mode, start, end) == 0) return 0;
    view_start = view.start;
    view_end = view.end;
    return 1;
}

void get_view_range(int32_t& start, int32_t& end) {
    start = view_start;
    end = view_end;
}

void reset_view_range(record_view& view, int8_t capture_mode) {
    view.start = 0;
    view.end = last_sample_index(capture_mode);
}

void reset_view_range() {
    view_start = 0;
    view_end = last_sample_index();
}

namespace {

int32_t saturate(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

void zoom_pan_range(record_view& view, int8_t capture_mode, int command) {
    if (command != ZOOM_IN && command != ZOOM_OUT && command != PAN_RIGHT && command != PAN_LEFT) return;
    // Worked in 64 bits: a range left reversed or beyond the mode's samples by a change of
    // capture_mode must not overflow; ranges kept valid never come near the limits.
    int64_t start = view.start;
    int64_t end = view.end;
    const int64_t last = last_sample_index(capture_mode);
    const int64_t old_span = end - start;
    int64_t step = static_cast<int64_t>(static_cast<double>(old_span) * 0.2);
    if (step == 0) step = 1;

    switch (command) {
    case ZOOM_IN:
        start += step;
        end -= step;
        break;
    case ZOOM_OUT:
        start -= step;
        end += step;
        break;
    case PAN_RIGHT:
        start += step;
        end += step;
        break;
    default:  // PAN_LEFT
        start -= step;
        end -= step;
        break;
    }

    if (start < 0) start = 0;
    if (end < 0) end = 0;
    if (end > last) end = last;

    if (start >= end) {
        if (start != 0) --start;
        if (end != last) ++end;
    }

    if (view.preferences.allow_zoom_while_panning == 0 && end - start < old_span) {
        if (command == PAN_RIGHT) start = end - old_span;
        if (command == PAN_LEFT) end = old_span;
    }

    // For a range that was valid these change nothing; one left beyond the mode's samples
    // (or reversed) by a change of capture_mode has its ends kept within them all the same.
    if (start < 0) start = 0;
    if (end < 0) end = 0;
    if (end > last) end = last;

    view.start = saturate(start);
    view.end = saturate(end);
}

void zoom_pan_range(int command) {
    record_view view = window_view();
    zoom_pan_range(view, dso_structure.capture_mode, command);
    view_start = view.start;
    view_end = view.end;
}

sample_range limit_range(int32_t start, int32_t end, int32_t last) {
    if (start < 0) start = 0;
    if (start > last) start = last;
    if (end < 0) end = 0;
    if (end > last) end = last;
    if (start >= end) {
        if (start >= last) {
            start = last - 1;
            end = last;
        } else {
            end = start + 1;
        }
    }
    return {start, end};
}

sample_range range_to_paint(const record_view& view, int8_t capture_mode) {
    return limit_range(view.start, view.end, last_sample_index(capture_mode));
}

sample_range range_to_paint() { return range_to_paint(window_view(), dso_structure.capture_mode); }
