// The canvas over a GDI device context. Lines are drawn with MoveToEx and LineTo only,
// batches included (the canvas draws those one line after another).
#pragma once
#include <windows.h>

#include "display/canvas.h"

class gdi_canvas : public canvas {
public:
    explicit gdi_canvas(HDC dc) : dc_(dc) {}
    void select_new_pen(uint32_t colour) override;
    void fill_background(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
    void restore_initial_pen() override;
    void move_to(int32_t x, int32_t y) override { MoveToEx(dc_, x, y, nullptr); }
    void line_to(int32_t x, int32_t y) override { LineTo(dc_, x, y); }
    void set_text_alignment(text_alignment alignment) override;
    int32_t char_width_a() override;
    void text_out(int32_t x, int32_t y, const char* text, int32_t length) override {
        TextOutA(dc_, x, y, text, length);
    }

private:
    HDC dc_;
    HGDIOBJ initial_pen_ = nullptr;
    HPEN current_pen_ = nullptr;  // the pen this canvas created and selected last
};
