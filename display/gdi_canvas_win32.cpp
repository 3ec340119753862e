#include "display/gdi_canvas_win32.h"

void gdi_canvas::select_new_pen(uint32_t colour) {
    HPEN pen = CreatePen(PS_SOLID, 1, static_cast<COLORREF>(colour));
    HGDIOBJ previous = SelectObject(dc_, pen);
    if (current_pen_ == nullptr)
        initial_pen_ = previous;
    else
        DeleteObject(current_pen_);
    current_pen_ = pen;
}

void gdi_canvas::fill_background(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(COLOUR_WHITE));
    HGDIOBJ previous = SelectObject(dc_, brush);
    Rectangle(dc_, left, top, right, bottom);
    SelectObject(dc_, previous);
    DeleteObject(brush);
}

void gdi_canvas::restore_initial_pen() {
    if (current_pen_ == nullptr) return;
    SelectObject(dc_, initial_pen_);
    DeleteObject(current_pen_);
    current_pen_ = nullptr;
}

void gdi_canvas::set_text_alignment(text_alignment alignment) {
    SetTextAlign(dc_, alignment == text_alignment::centre_top ? TA_CENTER | TA_TOP : TA_RIGHT | TA_TOP);
}

int32_t gdi_canvas::char_width_a() {
    INT width = 0;
    GetCharWidthA(dc_, 'a', 'a', &width);
    return width;
}
