// The canvas seam: the drawing operations the paint uses, in the order it uses them. The
// Windows program draws through a GDI device context; tests record the calls.
#pragma once
#include <cstdint>

// Colours as 0x00BBGGRR values.
constexpr uint32_t COLOUR_WHITE = 0xFFFFFF;
constexpr uint32_t COLOUR_BLUE = 0xFF0000;   // traces and lanes
constexpr uint32_t COLOUR_GREEN = 0x00FF00;  // pre-trigger marker, trigger level
constexpr uint32_t COLOUR_RED = 0x0000FF;    // axes, ticks

enum class text_alignment { centre_top, right_top };

// A line drawn as move_to (x0, y0) then line_to (x1, y1).
struct line_segment {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
};

// What a column of a logic lane saw: a 1, a 0, or both (a transition).
constexpr uint8_t MARK_ONE = 1;
constexpr uint8_t MARK_ZERO = 2;

struct canvas {
    virtual ~canvas() = default;
    // Creates a solid pen of one pixel in the colour and selects it. The first call of a
    // paint keeps the pen the surface held before (its initial pen); each later call deletes
    // the pen the previous call created, once it is no longer selected.
    virtual void select_new_pen(uint32_t colour) = 0;
    // Draws a rectangle over left..right-1, top..bottom-1 outlined with the current pen and
    // filled with a white solid brush that exists only for this call.
    virtual void fill_background(int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;
    // Selects the initial pen back and deletes the pen the last select_new_pen created.
    virtual void restore_initial_pen() = 0;
    virtual void move_to(int32_t x, int32_t y) = 0;
    // A line from the current position to (x, y) that includes its start and excludes its end.
    virtual void line_to(int32_t x, int32_t y) = 0;
    // Draws the segments in order, each exactly as its move_to and line_to would; the
    // current position is then the end of the last one. A surface may draw a whole batch in
    // one call of its own.
    virtual void draw_segments(const line_segment* segments, int32_t count) {
        for (int32_t i = 0; i < count; ++i) {
            move_to(segments[i].x0, segments[i].y0);
            line_to(segments[i].x1, segments[i].y1);
        }
    }
    // The column marks of one logic lane, column x_left + k taking marks[k]: a transition
    // is the stroke from y_lo up to y_hi, a 0 one pixel on y_lo, a 1 one pixel on y_hi, in
    // that order, each drawn as its move_to and line_to. A surface may draw them in batches.
    virtual void draw_column_marks(int32_t x_left, int32_t y_hi, int32_t y_lo, const uint8_t* marks,
                                   int32_t columns) {
        for (int32_t k = 0; k < columns; ++k) {
            const int32_t x = x_left + k;
            const bool one = (marks[k] & MARK_ONE) != 0, zero = (marks[k] & MARK_ZERO) != 0;
            if (one && zero) {
                move_to(x, y_lo);
                line_to(x, y_hi);
            }
            if (zero) {
                move_to(x, y_lo);
                line_to(x, y_lo - 1);
            }
            if (one) {
                move_to(x, y_hi);
                line_to(x, y_hi + 1);
            }
        }
    }
    virtual void set_text_alignment(text_alignment alignment) = 0;
    // Width in pixels of the character "a" in the current font.
    virtual int32_t char_width_a() = 0;
    // Text in the default font and colours, placed by the current alignment.
    virtual void text_out(int32_t x, int32_t y, const char* text, int32_t length) = 0;
};
