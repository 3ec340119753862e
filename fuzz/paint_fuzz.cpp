// Paints any record image at any view range, preferences and client size, and runs the
// renderers over exactly sized copies of the samples so that a read past them is caught.
//
// Input, in this order: the record's first 14 bytes (pretrigger, trigger fields, rate,
// capture_mode); view_start and view_end, 4 bytes each, stored as they come; preferences
// (bits 0..3); client right and bottom, 2 bytes each, modulo 4001; the width of "a" (signed
// byte); zoom and pan (bits 6..7 the number of commands, bits 0..5 the commands, 2 bits
// each); a fill byte; sample bytes. With fill bit 0 clear the sample bytes are repeated over
// the whole sample area; with it set they are copied in once, over a cleared area, at an
// offset taken from the 3 bytes before them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "capture/dso_structure.h"
#include "display/axes.h"
#include "display/paint.h"
#include "display/view_range.h"

namespace {

struct counting_canvas : canvas {
    int32_t width = 7;
    uint64_t calls = 0;
    int64_t sum = 0;
    void select_new_pen(uint32_t) override { ++calls; }
    void fill_background(int32_t, int32_t, int32_t, int32_t) override { ++calls; }
    void restore_initial_pen() override { ++calls; }
    void move_to(int32_t x, int32_t y) override {
        ++calls;
        sum += static_cast<int64_t>(x) + y;
    }
    void line_to(int32_t x, int32_t y) override {
        ++calls;
        sum += static_cast<int64_t>(x) - y;
    }
    void set_text_alignment(text_alignment) override { ++calls; }
    int32_t char_width_a() override { return width; }
    void text_out(int32_t, int32_t, const char* text, int32_t length) override {
        ++calls;
        for (int32_t k = 0; k < length; ++k) sum += text[k];
    }
};

struct reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t bytes(int n) {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k) v |= static_cast<uint32_t>(byte()) << (8 * k);
        return v;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reader in{data, size};
    uint8_t header[14];
    for (uint8_t& b : header) b = in.byte();
    std::memcpy(&dso_structure, header, sizeof header);
    view_start = static_cast<int32_t>(in.bytes(4));
    view_end = static_cast<int32_t>(in.bytes(4));
    const uint8_t prefs = in.byte();
    display_preferences = {prefs & 1, (prefs >> 1) & 1, (prefs >> 2) & 1, (prefs >> 3) & 1};
    const int32_t right = static_cast<int32_t>(in.bytes(2) % 4001);
    const int32_t bottom = static_cast<int32_t>(in.bytes(2) % 4001);
    counting_canvas surface;
    surface.width = static_cast<int8_t>(in.byte());
    const uint8_t commands = in.byte();  // bits 6..7: how many, then 2 bits per command
    const uint8_t fill = in.byte();

    if (fill & 1) {
        std::memset(dso_structure.sample_area, ZERO_LEVEL, SAMPLE_AREA_SIZE);
        const uint32_t offset = in.bytes(3) % SAMPLE_AREA_SIZE;
        const size_t n = in.size - in.at < SAMPLE_AREA_SIZE - offset ? in.size - in.at : SAMPLE_AREA_SIZE - offset;
        std::memcpy(dso_structure.sample_area + offset, in.data + in.at, n);
    } else if (in.at < in.size) {
        size_t filled = in.size - in.at < SAMPLE_AREA_SIZE ? in.size - in.at : SAMPLE_AREA_SIZE;
        std::memcpy(dso_structure.sample_area, in.data + in.at, filled);
        while (filled < SAMPLE_AREA_SIZE) {
            const size_t n = filled < SAMPLE_AREA_SIZE - filled ? filled : SAMPLE_AREA_SIZE - filled;
            std::memcpy(dso_structure.sample_area + filled, dso_structure.sample_area, n);
            filled += n;
        }
    } else {
        std::memset(dso_structure.sample_area, ZERO_LEVEL, SAMPLE_AREA_SIZE);
    }
    dso_structure.reserved_2 = 0xA5A5;

    // The paint at the stored range, then after zoom and pan from it.
    paint_client(surface, 0, 0, right, bottom);
    for (int k = 0; k < (commands >> 6); ++k) {
        zoom_pan_range((commands >> (2 * k)) & 3);
        if (view_end < 0 || view_end > last_sample_index()) __builtin_trap();
    }
    paint_client(surface, 0, 0, right, bottom);

    // The renderers over exactly sized copies, at the raw range and the client's areas.
    plot_area areas[2];
    int8_t mode = dso_structure.capture_mode;
    if (plot_layout(mode, 0, 0, right, bottom, areas) == 0) plot_layout(MODE_DUAL, 0, 0, right, bottom, areas);
    const sample_range raw = {view_start, view_end};
    const int32_t count = mode == MODE_SINGLE || mode == MODE_LOGIC16 ? SAMPLE_AREA_SIZE : FIFO_SIZE;
    std::vector<uint8_t> copy(dso_structure.sample_area, dso_structure.sample_area + count);
    draw_analogue_trace(surface, copy.data(), count, areas[0], raw);
    draw_logic_traces(surface, copy.data(), nullptr, count, areas[1], raw);
    draw_logic_traces(surface, nullptr, copy.data(), count / 2, areas[0], raw);
    // A short sequence, far shorter than the range may be.
    const int32_t short_count = 2 + static_cast<int32_t>(header[0]);
    std::vector<uint8_t> few(copy.begin(), copy.begin() + short_count * 2);
    draw_analogue_trace(surface, few.data(), short_count * 2, areas[0], raw);
    draw_logic_traces(surface, nullptr, few.data(), short_count, areas[1], raw);
    draw_pretrigger_marker(surface, areas[0], raw);
    draw_x_axis(surface, areas[0].x_left, areas[0].x_right, areas[0].y_bottom, raw);
    draw_logic_y_axis(surface, areas[1].x_left, areas[1].y_top, areas[1].y_bottom, header[1] % 20);
    if (surface.calls == 0) __builtin_trap();
    return 0;
}
