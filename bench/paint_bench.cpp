// Full-view paints at 1920 pixels of plot width into a canvas that draws nothing, each
// beside a plain min/max pass over the same bytes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "capture/dso_structure.h"
#include "display/paint.h"
#include "display/view_range.h"

namespace {

// Out of line like any canvas the paint reaches through the interface, so that the floor
// benchmark below cannot have its calls folded away.
#define NOT_INLINED __attribute__((noinline))

struct null_canvas : canvas {
    int64_t lines = 0;
    void select_new_pen(uint32_t) override {}
    void fill_background(int32_t, int32_t, int32_t, int32_t) override {}
    void restore_initial_pen() override {}
    NOT_INLINED void move_to(int32_t, int32_t) override { benchmark::ClobberMemory(); }
    NOT_INLINED void line_to(int32_t, int32_t) override { ++lines; }
    // A batch is one call, as it is one PolyPolyline on a GDI surface.
    NOT_INLINED void draw_segments(const line_segment*, int32_t count) override {
        benchmark::ClobberMemory();
        lines += count;
    }
    NOT_INLINED void draw_column_marks(int32_t, int32_t, int32_t, const uint8_t*, int32_t) override {
        benchmark::ClobberMemory();
    }
    void set_text_alignment(text_alignment) override {}
    int32_t char_width_a() override { return 7; }
    void text_out(int32_t, int32_t, const char*, int32_t) override {}
};

// The same surface taking every line as its own move and line call, as one without batches.
struct line_by_line_canvas : null_canvas {
    void draw_segments(const line_segment* segments, int32_t count) override {
        canvas::draw_segments(segments, count);
    }
    void draw_column_marks(int32_t x_left, int32_t y_hi, int32_t y_lo, const uint8_t* marks,
                           int32_t columns) override {
        canvas::draw_column_marks(x_left, y_hi, y_lo, marks, columns);
    }
};

// A client of 2015 x 1000 gives plot areas 1920 pixels wide.
constexpr int32_t CLIENT_RIGHT = 2015;
constexpr int32_t CLIENT_BOTTOM = 1000;

void fill_analogue() {
    // A sine of about 3000 samples per period with a little noise on it.
    uint32_t noise = 12345;
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) {
        noise = noise * 1103515245u + 12345u;
        const double v = 128.0 + 100.0 * std::sin(n * (2.0 * 3.14159265358979 / 3000.0)) + ((noise >> 16) & 7);
        dso_structure.sample_area[n] = static_cast<uint8_t>(v);
    }
}

void fill_logic() {
    // Sixteen inputs counting: input b toggles every 2^b samples.
    for (int32_t k = 0; k < SAMPLE_AREA_SIZE / 2; ++k) {
        dso_structure.sample_area[2 * k] = static_cast<uint8_t>(k);
        dso_structure.sample_area[2 * k + 1] = static_cast<uint8_t>(k >> 8);
    }
}

void min_max_pass(benchmark::State& state) {
    for (auto _ : state) {
        const uint8_t* p = dso_structure.sample_area;
        uint8_t lo = 255, hi = 0;
        for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) {
            lo = p[n] < lo ? p[n] : lo;
            hi = p[n] > hi ? p[n] : hi;
        }
        benchmark::DoNotOptimize(lo);
        benchmark::DoNotOptimize(hi);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * SAMPLE_AREA_SIZE);
}

template <typename surface_type = null_canvas>
void paint_whole_view(benchmark::State& state) {
    reset_view_range();
    surface_type surface;
    for (auto _ : state) {
        paint_client(surface, 0, 0, CLIENT_RIGHT, CLIENT_BOTTOM);
        benchmark::ClobberMemory();
    }
    state.counters["lines"] = static_cast<double>(surface.lines) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * SAMPLE_AREA_SIZE);
}

void BM_SingleMinMaxPass(benchmark::State& state) {
    dso_structure.capture_mode = MODE_SINGLE;
    fill_analogue();
    min_max_pass(state);
}
BENCHMARK(BM_SingleMinMaxPass)->Unit(benchmark::kMicrosecond);

void BM_SinglePaint(benchmark::State& state) {
    dso_structure.capture_mode = MODE_SINGLE;
    fill_analogue();
    paint_whole_view(state);
}
BENCHMARK(BM_SinglePaint)->Unit(benchmark::kMicrosecond);

void BM_Logic16MinMaxPass(benchmark::State& state) {
    dso_structure.capture_mode = MODE_LOGIC16;
    fill_logic();
    min_max_pass(state);
}
BENCHMARK(BM_Logic16MinMaxPass)->Unit(benchmark::kMicrosecond);

void BM_Logic16Paint(benchmark::State& state) {
    dso_structure.capture_mode = MODE_LOGIC16;
    fill_logic();
    paint_whole_view(state);
}
BENCHMARK(BM_Logic16Paint)->Unit(benchmark::kMicrosecond);

// The same paint on a surface that takes each of its 67,780 lines as a move and a line call:
// what the drawing calls cost on their own, beyond the renderer.
void BM_Logic16PaintLineByLine(benchmark::State& state) {
    dso_structure.capture_mode = MODE_LOGIC16;
    fill_logic();
    paint_whole_view<line_by_line_canvas>(state);
}
BENCHMARK(BM_Logic16PaintLineByLine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
