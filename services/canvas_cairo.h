// The canvas over a cairo context, for pictures of the window's paint (PNG, SVG, PDF).
// Lines are solid pens of one pixel, without antialiasing, on the pixels a GDI line covers:
// start point included, end point excluded. Text is a bold sans-serif in the cell of the
// window's default font: black on an opaque white cell, as a device context draws it.
#pragma once
#include <cairo.h>

#include <cstdint>

#include "display/canvas.h"

// How a slanted line reaches the surface: as the pixels of GDI's line rule (a raster
// picture), or as a true line between the centres of its end pixels (a vector picture).
// Horizontal and vertical lines are the same pixels either way.
enum class slanted_lines { pixels, vector };

// The cell of the window's default font: its height, and the baseline below its top.
constexpr int32_t TEXT_CELL_HEIGHT = 16;
constexpr int32_t TEXT_BASELINE = 13;

class cairo_canvas : public canvas {
public:
    // Draws on cr, whose surface is width x height pixels (one unit a pixel).
    cairo_canvas(cairo_t* cr, int32_t width, int32_t height, slanted_lines slanted);
    cairo_canvas(const cairo_canvas&) = delete;
    cairo_canvas& operator=(const cairo_canvas&) = delete;

    void select_new_pen(uint32_t colour) override;
    void fill_background(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
    void restore_initial_pen() override;
    void move_to(int32_t x, int32_t y) override;
    void line_to(int32_t x, int32_t y) override;
    void set_text_alignment(text_alignment alignment) override;
    int32_t char_width_a() override;
    void text_out(int32_t x, int32_t y, const char* text, int32_t length) override;

    // Strokes the lines still collected for the current pen. The paint's lines of one pen
    // are collected into one path, and touching runs of pixels on one row or column into
    // one stroke; call this before the surface is finished.
    void flush();

private:
    // A run of pixels on one row (height 1) or one column (width 1).
    struct pixel_run {
        int32_t x, y, width, height;
    };
    void add_run(int64_t x, int64_t y, int64_t width, int64_t height);
    void emit(const pixel_run& run);
    void slanted_pixels(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    void slanted_vector(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    void set_colour(uint32_t colour);

    cairo_t* cr_;
    int32_t width_, height_;
    slanted_lines slanted_;
    uint32_t pen_colour_ = 0;  // the initial pen of a device context is black
    int32_t x_ = 0, y_ = 0;    // the current position
    pixel_run pending_{0, 0, 0, 0};  // not yet in the path; width 0 when there is none
    bool path_open_ = false;         // the path holds lines not yet stroked
    text_alignment alignment_ = text_alignment::centre_top;
};
