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

// One PolyPolyline per batch: each two-point line leaves out its end pixel, as LineTo does.
void gdi_canvas::draw_segments(const line_segment* segments, int32_t count) {
    constexpr int32_t CHUNK = 512;
    POINT points[2 * CHUNK];
    DWORD counts[CHUNK];
    for (int32_t done = 0; done < count;) {
        int32_t n = count - done < CHUNK ? count - done : CHUNK;
        for (int32_t i = 0; i < n; ++i) {
            const line_segment& s = segments[done + i];
            points[2 * i] = {s.x0, s.y0};
            points[2 * i + 1] = {s.x1, s.y1};
            counts[i] = 2;
        }
        PolyPolyline(dc_, points, counts, static_cast<DWORD>(n));
        done += n;
    }
    if (count > 0) MoveToEx(dc_, segments[count - 1].x1, segments[count - 1].y1, nullptr);
}

void gdi_canvas::draw_column_marks(int32_t x_left, int32_t y_hi, int32_t y_lo, const uint8_t* marks,
                                   int32_t columns) {
    constexpr int32_t CHUNK = 510;  // up to three lines a column
    line_segment lines[CHUNK + 3];
    int32_t n = 0;
    for (int32_t k = 0; k < columns; ++k) {
        const int32_t x = x_left + k;
        const bool one = (marks[k] & MARK_ONE) != 0, zero = (marks[k] & MARK_ZERO) != 0;
        if (one && zero) lines[n++] = {x, y_lo, x, y_hi};
        if (zero) lines[n++] = {x, y_lo, x, y_lo - 1};
        if (one) lines[n++] = {x, y_hi, x, y_hi + 1};
        if (n >= CHUNK) {
            draw_segments(lines, n);
            n = 0;
        }
    }
    draw_segments(lines, n);
}
