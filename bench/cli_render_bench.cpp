// korvane-cli render of the worst capture, 16 Bit Logic noise (every input changing at about
// every other sample), at 1920x1080. The goals: the PNG, encoding included, at most 5 times
// BM_NullPaintAndBlankPng (the same paint into a canvas that draws nothing, and the PNG
// encoding of a blank picture of that size); the SVG at most 8 MB (counter "bytes").
#include <benchmark/benchmark.h>

#include <cairo.h>

#include <cstdint>

#include "capture/dso_structure.h"
#include "cli/render_command.h"
#include "display/paint.h"
#include "display/view_range.h"

namespace {

constexpr int32_t WIDTH = 1920;
constexpr int32_t HEIGHT = 1080;

#define NOT_INLINED __attribute__((noinline))

struct null_canvas : canvas {
    void select_new_pen(uint32_t) override {}
    void fill_background(int32_t, int32_t, int32_t, int32_t) override {}
    void restore_initial_pen() override {}
    NOT_INLINED void move_to(int32_t, int32_t) override { benchmark::ClobberMemory(); }
    NOT_INLINED void line_to(int32_t, int32_t) override { benchmark::ClobberMemory(); }
    NOT_INLINED void draw_segments(const line_segment*, int32_t) override { benchmark::ClobberMemory(); }
    NOT_INLINED void draw_column_marks(int32_t, int32_t, int32_t, const uint8_t*, int32_t) override {
        benchmark::ClobberMemory();
    }
    void set_text_alignment(text_alignment) override {}
    int32_t char_width_a() override { return 7; }
    void text_out(int32_t, int32_t, const char*, int32_t) override {}
};

void fill_logic_noise() {
    uint32_t seed = 0x6E6F6973u;
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) {
        seed = seed * 1664525u + 1013904223u;
        dso_structure.sample_area[n] = static_cast<uint8_t>(seed >> 24);
    }
    dso_structure.capture_mode = MODE_LOGIC16;
    dso_structure.trigger_source = TRIGGER_CHANNEL_A;
    dso_structure.pretrigger = 100000;
    reset_view_range();
    set_display_defaults();
}

// Counts the bytes of a picture and keeps none of them.
cairo_status_t count_bytes(void* closure, const unsigned char*, unsigned int length) {
    *static_cast<int64_t*>(closure) += length;
    return CAIRO_STATUS_SUCCESS;
}

void render(benchmark::State& state, picture_format format) {
    fill_logic_noise();
    picture_subject subject;
    subject.record = &dso_structure;
    subject.view = window_view();
    subject.width = WIDTH;
    subject.height = HEIGHT;
    int64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        if (!render_picture(format, subject, count_bytes, &bytes)) state.SkipWithError("render failed");
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_RenderLogicNoisePng(benchmark::State& state) { render(state, picture_format::png); }
BENCHMARK(BM_RenderLogicNoisePng)->Unit(benchmark::kMillisecond);

void BM_RenderLogicNoiseSvg(benchmark::State& state) { render(state, picture_format::svg); }
BENCHMARK(BM_RenderLogicNoiseSvg)->Unit(benchmark::kMillisecond);

void BM_RenderLogicNoisePdf(benchmark::State& state) { render(state, picture_format::pdf); }
BENCHMARK(BM_RenderLogicNoisePdf)->Unit(benchmark::kMillisecond);

// The floor: the paint itself, and the encoding of a PNG of that size.
void BM_NullPaintAndBlankPng(benchmark::State& state) {
    fill_logic_noise();
    null_canvas surface;
    cairo_surface_t* blank = cairo_image_surface_create(CAIRO_FORMAT_RGB24, WIDTH, HEIGHT);
    cairo_t* cr = cairo_create(blank);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
    int64_t bytes = 0;
    for (auto _ : state) {
        paint_client(surface, 0, 0, WIDTH, HEIGHT);
        bytes = 0;
        if (cairo_surface_write_to_png_stream(blank, count_bytes, &bytes) != CAIRO_STATUS_SUCCESS)
            state.SkipWithError("encoding failed");
    }
    cairo_surface_destroy(blank);
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_NullPaintAndBlankPng)->Unit(benchmark::kMillisecond);

void BM_NullPaint(benchmark::State& state) {
    fill_logic_noise();
    null_canvas surface;
    for (auto _ : state) paint_client(surface, 0, 0, WIDTH, HEIGHT);
}
BENCHMARK(BM_NullPaint)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
