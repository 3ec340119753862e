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
    virtual void set_text_alignment(text_alignment alignment) = 0;
    // Width in pixels of the character "a" in the current font.
    virtual int32_t char_width_a() = 0;
    // Text in the default font and colours, placed by the current alignment.
    virtual void text_out(int32_t x, int32_t y, const char* text, int32_t length) = 0;
};
