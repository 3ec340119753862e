// A canvas for tests: records every drawing call with its arguments, in order, and answers
// the width of "a" with a settable value.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "display/canvas.h"

struct canvas_call {
    enum kind_type { pen, background, restore, move, line, align, width, text } kind;
    explicit canvas_call(kind_type k) : kind(k) {}
    int32_t x = 0, y = 0, x2 = 0, y2 = 0;  // point, or background rectangle
    uint32_t colour = 0;
    text_alignment alignment = text_alignment::centre_top;
    std::string label;

    bool operator==(const canvas_call& o) const {
        return kind == o.kind && x == o.x && y == o.y && x2 == o.x2 && y2 == o.y2 && colour == o.colour &&
               alignment == o.alignment && label == o.label;
    }
};

// Short text of a call, for readable comparisons: "M 75,20", "L 75,190", "P FF0000", "T 75,200 0".
inline std::string describe(const canvas_call& c) {
    char s[96];
    switch (c.kind) {
    case canvas_call::pen: std::snprintf(s, sizeof s, "P %06X", static_cast<unsigned>(c.colour)); break;
    case canvas_call::background: std::snprintf(s, sizeof s, "B %d,%d,%d,%d", c.x, c.y, c.x2, c.y2); break;
    case canvas_call::restore: std::snprintf(s, sizeof s, "R"); break;
    case canvas_call::move: std::snprintf(s, sizeof s, "M %d,%d", c.x, c.y); break;
    case canvas_call::line: std::snprintf(s, sizeof s, "L %d,%d", c.x, c.y); break;
    case canvas_call::align:
        std::snprintf(s, sizeof s, "A %s", c.alignment == text_alignment::centre_top ? "centre" : "right");
        break;
    case canvas_call::width: std::snprintf(s, sizeof s, "W"); break;
    case canvas_call::text: std::snprintf(s, sizeof s, "T %d,%d %s", c.x, c.y, c.label.c_str()); break;
    }
    return s;
}

inline void PrintTo(const canvas_call& c, std::ostream* os) { *os << describe(c); }

class recording_canvas : public canvas {
public:
    int32_t char_width = 7;
    std::vector<canvas_call> calls;

    void select_new_pen(uint32_t colour) override {
        canvas_call c{canvas_call::pen};
        c.colour = colour;
        calls.push_back(c);
    }
    void fill_background(int32_t left, int32_t top, int32_t right, int32_t bottom) override {
        canvas_call c{canvas_call::background};
        c.x = left;
        c.y = top;
        c.x2 = right;
        c.y2 = bottom;
        calls.push_back(c);
    }
    void restore_initial_pen() override { calls.push_back(canvas_call{canvas_call::restore}); }
    void move_to(int32_t x, int32_t y) override { point(canvas_call::move, x, y); }
    void line_to(int32_t x, int32_t y) override { point(canvas_call::line, x, y); }
    void set_text_alignment(text_alignment alignment) override {
        canvas_call c{canvas_call::align};
        c.alignment = alignment;
        calls.push_back(c);
    }
    int32_t char_width_a() override {
        calls.push_back(canvas_call{canvas_call::width});
        return char_width;
    }
    void text_out(int32_t x, int32_t y, const char* text, int32_t length) override {
        canvas_call c{canvas_call::text};
        c.x = x;
        c.y = y;
        c.label.assign(text, static_cast<std::size_t>(length));
        calls.push_back(c);
    }

    std::vector<std::string> described() const {
        std::vector<std::string> v;
        for (const canvas_call& c : calls) v.push_back(describe(c));
        return v;
    }
    std::vector<std::string> labels() const {
        std::vector<std::string> v;
        for (const canvas_call& c : calls)
            if (c.kind == canvas_call::text) v.push_back(c.label);
        return v;
    }
    // The calls drawn with the pen of one colour (between its selection and the next).
    std::vector<canvas_call> drawn_in(uint32_t colour) const {
        std::vector<canvas_call> v;
        bool in = false;
        for (const canvas_call& c : calls) {
            if (c.kind == canvas_call::pen || c.kind == canvas_call::restore)
                in = c.kind == canvas_call::pen && c.colour == colour;
            else if (in)
                v.push_back(c);
        }
        return v;
    }
    void clear() { calls.clear(); }

private:
    void point(canvas_call::kind_type kind, int32_t x, int32_t y) {
        canvas_call c{kind};
        c.x = x;
        c.y = y;
        calls.push_back(c);
    }
};
