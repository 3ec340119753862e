#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture/dso_structure.h"
#include "display/paint.h"
#include "display/view_range.h"
#include "tests/support/recording_canvas.h"

namespace {

class Paint : public ::testing::Test {
protected:
    void SetUp() override {
        clear_channels();
        set_capture_defaults();
        set_display_defaults();
        reset_view_range();
    }
    void TearDown() override { SetUp(); }
};

using calls = std::vector<canvas_call>;

std::vector<std::string> described(const calls& v) {
    std::vector<std::string> s;
    for (const canvas_call& c : v) s.push_back(describe(c));
    return s;
}

// The lines of a call list as "x,y>x2,y2" for each move followed by a line.
std::vector<std::string> strokes(const calls& v) {
    std::vector<std::string> s;
    for (std::size_t k = 0; k + 1 < v.size(); ++k)
        if (v[k].kind == canvas_call::move && v[k + 1].kind == canvas_call::line)
            s.push_back(std::to_string(v[k].x) + "," + std::to_string(v[k].y) + ">" + std::to_string(v[k + 1].x) +
                        "," + std::to_string(v[k + 1].y));
    return s;
}

// The logic renderer as plainly as it can be written: lane by lane, every column scanned
// per lane. The renderer under test scans each column once for all lanes and must draw the
// very same calls.
void reference_logic_traces(canvas& s, const uint8_t* bytes, const uint8_t* words, int32_t count,
                            const plot_area& a, sample_range r) {
    r = limit_range(r.start, r.end, count - 1);
    auto sample = [&](int32_t i) -> uint32_t {
        return bytes ? bytes[i] : static_cast<uint32_t>(words[2 * i] | (words[2 * i + 1] << 8));
    };
    const int n = bytes ? 8 : 16;
    const float A = static_cast<float>(static_cast<double>(a.y_bottom - a.y_top) / (n + 2));
    const float B = static_cast<float>(2.0 * A / (n + 1));
    const float G = static_cast<float>(static_cast<double>(A) + B);
    const float u = static_cast<float>(static_cast<double>(a.x_right - a.x_left) / (r.end - r.start));
    for (int l = 0; l < n; ++l) {
        const int32_t y_hi = static_cast<int32_t>(a.y_top + static_cast<double>(B) + l * static_cast<double>(G));
        const int32_t y_lo = static_cast<int32_t>(y_hi + static_cast<double>(A));
        uint32_t state = (sample(r.start) >> l) & 1;
        s.move_to(a.x_left, state ? y_hi : y_lo);
        if (u >= 1) {
            for (int32_t i = r.start; i < r.end; ++i) {
                const float x = static_cast<float>(a.x_left + (i - r.start) * static_cast<double>(u));
                const uint32_t bit = (sample(i) >> l) & 1;
                if (bit != state) s.line_to(static_cast<int32_t>(x), bit ? y_hi : y_lo);
                s.line_to(static_cast<int32_t>(x + static_cast<double>(u)), bit ? y_hi : y_lo);
                state = bit;
            }
            continue;
        }
        for (int32_t x = a.x_left; x < a.x_right; ++x) {
            const int32_t k = x - a.x_left;
            const int32_t first = r.start + static_cast<int32_t>(k / static_cast<double>(u));
            const float stop = static_cast<float>(r.start + (k + 1) / static_cast<double>(u));
            bool one = false, zero = false;
            if (first < stop)
                for (int32_t i = first; i < stop && i < count && !(one && zero); ++i) ((sample(i) >> l) & 1 ? one : zero) = true;
            if (one && zero) {
                s.move_to(x, y_lo);
                s.line_to(x, y_hi);
            }
            if (zero) {
                s.move_to(x, y_lo);
                s.line_to(x, y_lo - 1);
            }
            if (one) {
                s.move_to(x, y_hi);
                s.line_to(x, y_hi + 1);
            }
        }
    }
}

// Min/max columns as plainly as they can be written, sample by sample.
void reference_min_max_columns(canvas& s, const uint8_t* samples, int32_t count, const plot_area& a,
                               sample_range r) {
    const int32_t h = a.y_bottom - a.y_top;
    const float d = static_cast<float>(static_cast<double>(r.end - r.start) / (a.x_right - a.x_left));
    const float scale = static_cast<float>(h / 256.0);
    auto y = [&](int v) { return a.y_top + h / 2 + static_cast<int32_t>(static_cast<double>(scale) * (128 - v)); };
    float g = static_cast<float>(r.start);
    for (int32_t x = a.x_left; x <= a.x_right; ++x) {
        const double next = static_cast<double>(g) + d;
        int32_t i = static_cast<int32_t>(g);
        uint8_t lo = samples[i < count ? i : count - 1], hi = lo;
        for (; i < next && i < count; ++i) {
            if (samples[i] < lo) lo = samples[i];
            if (samples[i] > hi) hi = samples[i];
        }
        g = static_cast<float>(next);
        s.move_to(x, y(lo));
        s.line_to(x, y(hi) - 1);
    }
}

TEST_F(Paint, AreasOfA640By400ClientInEachMode) {
    plot_area a[2];
    ASSERT_EQ(plot_layout(MODE_DUAL, 0, 0, 640, 400, a), 2);
    EXPECT_EQ(std::vector<int32_t>({a[0].x_left, a[0].y_top, a[0].x_right, a[0].y_bottom}),
              std::vector<int32_t>({75, 20, 620, 190}));
    EXPECT_EQ(std::vector<int32_t>({a[1].x_left, a[1].y_top, a[1].x_right, a[1].y_bottom}),
              std::vector<int32_t>({75, 210, 620, 380}));
    ASSERT_EQ(plot_layout(MODE_SINGLE, 0, 0, 640, 400, a), 1);
    EXPECT_EQ(std::vector<int32_t>({a[0].x_left, a[0].y_top, a[0].x_right, a[0].y_bottom}),
              std::vector<int32_t>({75, 20, 620, 380}));
    ASSERT_EQ(plot_layout(MODE_LOGIC16, 0, 0, 640, 400, a), 1);
    EXPECT_EQ(std::vector<int32_t>({a[0].x_left, a[0].y_top, a[0].x_right, a[0].y_bottom}),
              std::vector<int32_t>({75, 20, 620, 355}));
    ASSERT_EQ(plot_layout(MODE_MIXED, 0, 0, 640, 400, a), 2);
    EXPECT_EQ(std::vector<int32_t>({a[0].x_left, a[0].y_top, a[0].x_right, a[0].y_bottom}),
              std::vector<int32_t>({75, 20, 620, 177}));
    EXPECT_EQ(std::vector<int32_t>({a[1].x_left, a[1].y_top, a[1].x_right, a[1].y_bottom}),
              std::vector<int32_t>({75, 198, 620, 355}));
    EXPECT_EQ(plot_layout(4, 0, 0, 640, 400, a), 0);
    EXPECT_EQ(plot_layout(-1, 0, 0, 640, 400, a), 0);
}

TEST_F(Paint, PensInOrderAndTheAxesOfEachMode) {
    // Where each mode's x axes run and which y axes follow, for a 640 x 400 client.
    struct {
        int8_t mode;
        std::vector<std::string> axis_lines;
    } cases[] = {
        {MODE_DUAL, {"75,105>620,105", "75,295>620,295", "75,20>75,190", "75,210>75,380"}},
        {MODE_SINGLE, {"75,200>620,200", "75,20>75,380"}},
        {MODE_LOGIC16, {"75,355>620,355", "75,20>75,355"}},
        {MODE_MIXED, {"75,98>620,98", "75,355>620,355", "75,20>75,177", "75,198>75,355"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        dso_structure.capture_mode = c.mode;
        reset_view_range();
        recording_canvas rc;
        paint_client(rc, 0, 0, 640, 400);
        std::vector<std::string> frame;
        for (const canvas_call& k : rc.calls)
            if (k.kind == canvas_call::pen || k.kind == canvas_call::background || k.kind == canvas_call::restore)
                frame.push_back(describe(k));
        EXPECT_EQ(frame, std::vector<std::string>({"P FFFFFF", "B 0,0,640,400", "P FF0000", "P 00FF00", "P 0000FF", "R"}));
        // Each axis starts with its alignment and its line.
        const calls red = rc.drawn_in(COLOUR_RED);
        std::vector<std::string> axis_lines;
        for (std::size_t k = 0; k + 2 < red.size(); ++k)
            if (red[k].kind == canvas_call::align)
                axis_lines.push_back(strokes({red[k + 1], red[k + 2]}).at(0));
        EXPECT_EQ(axis_lines, c.axis_lines);
    }
}

TEST_F(Paint, AModeOutsideTheFourPaintsTheBackgroundOnly) {
    for (int8_t mode : {int8_t(4), int8_t(-1), int8_t(127)}) {
        dso_structure.capture_mode = mode;
        recording_canvas rc;
        paint_client(rc, 0, 0, 640, 400);
        EXPECT_EQ(rc.described(),
                  std::vector<std::string>({"P FFFFFF", "B 0,0,640,400", "P FF0000", "P 00FF00", "P 0000FF", "R"}));
    }
}

TEST_F(Paint, LaneRowsOfTheLogicAreas) {
    // Sample 0 has every input high, sample 1 every input low; view [0, 2] draws each lane
    // as high run, falling edge, low run.
    std::memset(dso_structure.sample_area, 0, SAMPLE_AREA_SIZE);
    dso_structure.sample_area[0] = dso_structure.sample_area[1] = 0xFF;
    ASSERT_EQ(set_view_range(0, 2), 1);
    auto lane = [](int32_t hi, int32_t lo) {
        return std::vector<std::string>({"M 75," + std::to_string(hi), "L 347," + std::to_string(hi),
                                         "L 347," + std::to_string(lo), "L 620," + std::to_string(lo)});
    };
    auto lane_calls = [](const std::vector<std::string>& all, std::size_t from, int l) {
        return std::vector<std::string>(all.begin() + from + 4 * l, all.begin() + from + 4 * l + 4);
    };

    dso_structure.capture_mode = MODE_LOGIC16;
    recording_canvas rc;
    paint_client(rc, 0, 0, 640, 400);
    std::vector<std::string> blue = described(rc.drawn_in(COLOUR_BLUE));
    ASSERT_EQ(blue.size(), 16u * 4);
    EXPECT_EQ(lane_calls(blue, 0, 0), lane(22, 40));
    EXPECT_EQ(lane_calls(blue, 0, 1), lane(42, 60));
    EXPECT_EQ(lane_calls(blue, 0, 15), lane(334, 352));

    dso_structure.capture_mode = MODE_MIXED;
    dso_structure.channel_a[1] = 0;
    rc.clear();
    paint_client(rc, 0, 0, 640, 400);
    blue = described(rc.drawn_in(COLOUR_BLUE));
    ASSERT_EQ(blue.size(), 4u + 8 * 4);  // the analogue polyline of three samples first
    EXPECT_EQ(lane_calls(blue, 4, 0), lane(201, 216));
    EXPECT_EQ(lane_calls(blue, 4, 7), lane(335, 350));
}

TEST_F(Paint, PolylineUpToTenSamplesPerColumnMinMaxBeyond) {
    const plot_area area = {75, 20, 675, 190};  // W = 600
    recording_canvas rc;
    draw_analogue_trace(rc, dso_structure.channel_a, FIFO_SIZE, area, {1000, 7000});
    ASSERT_EQ(rc.calls.size(), 1u + 6001);
    EXPECT_EQ(describe(rc.calls[0]), "M 75,105");
    EXPECT_EQ(describe(rc.calls[1]), "L 75,105");
    EXPECT_EQ(describe(rc.calls[11]), "L 76,105");
    EXPECT_EQ(describe(rc.calls.back()), "L 675,105");

    rc.clear();
    draw_analogue_trace(rc, dso_structure.channel_a, FIFO_SIZE, area, {1000, 7001});
    ASSERT_EQ(rc.calls.size(), 2u * 601);
    for (int32_t k = 0; k <= 600; ++k) {
        EXPECT_EQ(describe(rc.calls[2 * k]), "M " + std::to_string(75 + k) + ",105");
        EXPECT_EQ(describe(rc.calls[2 * k + 1]), "L " + std::to_string(75 + k) + ",104");
    }
}

TEST_F(Paint, NoMinMaxColumnIsLeftEmpty) {
    const plot_area area = {75, 20, 675, 276};  // H = 256: one pixel row per sample value
    std::vector<uint8_t> samples(FIFO_SIZE, 0x80);
    recording_canvas rc;
    draw_analogue_trace(rc, samples.data(), FIFO_SIZE, area, {0, 60000});
    std::vector<std::string> s = strokes(rc.calls);
    ASSERT_EQ(s.size(), 601u);
    EXPECT_EQ(s[0], "75,148>75,147");  // one pixel on the middle line
    EXPECT_EQ(s[600], "675,148>675,147");

    for (int32_t i = 0; i < FIFO_SIZE; ++i) samples[i] = i % 2 ? 101 : 100;  // rows 175 and 176
    rc.clear();
    draw_analogue_trace(rc, samples.data(), FIFO_SIZE, area, {0, 60000});
    s = strokes(rc.calls);
    ASSERT_EQ(s.size(), 601u);
    for (const std::string& stroke : s) EXPECT_EQ(stroke.substr(stroke.find(',')), ",176>" + stroke.substr(0, stroke.find(',')) + ",174");
}

TEST_F(Paint, ColumnsCarriedPastTheEndOfTheSamplesShowTheLastSample) {
    // Single Channel over the whole record, 130 columns: the single-precision column start
    // of the last column lands past the last sample.
    dso_structure.capture_mode = MODE_SINGLE;
    reset_view_range();
    dso_structure.sample_area[SAMPLE_AREA_SIZE - 1] = 0;
    dso_structure.reserved_2 = 0xFFFF;  // what lies behind the samples
    recording_canvas rc;
    paint_client(rc, 0, 0, 225, 400);  // x_left 75, x_right 205
    std::vector<std::string> s = strokes(rc.drawn_in(COLOUR_BLUE));
    ASSERT_EQ(s.size(), 131u);
    EXPECT_EQ(s.back(), "205,380>205,379");  // y(0): the bottom of the area, one pixel

    // Exactly sized samples: any read past them is an address error under the sanitiser.
    std::vector<uint8_t> samples(dso_structure.sample_area, dso_structure.sample_area + SAMPLE_AREA_SIZE);
    rc.clear();
    draw_analogue_trace(rc, samples.data(), SAMPLE_AREA_SIZE, {75, 20, 205, 380}, {0, 0xBFFFF});
    EXPECT_EQ(strokes(rc.calls).back(), "205,380>205,379");

    // Dual Channel from 262144 to the end over 2961 columns: the last two columns start
    // past the end of channel A; they show its last sample, not channel B's first.
    std::vector<uint8_t> a(FIFO_SIZE, 0x80);
    a[FIFO_SIZE - 1] = 0;
    dso_structure.channel_b[0] = 255;
    rc.clear();
    draw_analogue_trace(rc, a.data(), FIFO_SIZE, {0, 0, 2961, 256}, {262144, 0x5FFFF});
    s = strokes(rc.calls);
    ASSERT_EQ(s.size(), 2962u);
    EXPECT_EQ(s[2959], "2959,256>2959,127");  // holds samples 128 and the last one, 0
    EXPECT_EQ(s[2960], "2960,256>2960,255");
    EXPECT_EQ(s[2961], "2961,256>2961,255");
    std::memcpy(dso_structure.channel_a, a.data(), FIFO_SIZE);
    rc.clear();
    draw_analogue_trace(rc, dso_structure.channel_a, FIFO_SIZE, {0, 0, 2961, 256}, {262144, 0x5FFFF});
    EXPECT_EQ(strokes(rc.calls)[2961], "2961,256>2961,255");
}

TEST_F(Paint, MinMaxColumnsOfEveryWidthFindTheirExtremes) {
    // Columns of 10 to 80 samples over noise with rare extremes, against the plain scan.
    std::mt19937 random(7);
    std::vector<uint8_t> samples(FIFO_SIZE);
    for (uint8_t& v : samples) v = static_cast<uint8_t>(100 + random() % 50 + (random() % 97 == 0 ? 100 : 0));
    for (int32_t w = 100; w <= 800; w += 7) {
        const plot_area area = {0, 0, w, 511};
        for (int32_t start : {0, 13, 393215 - 80 * 800}) {
            const sample_range range = {start, start + w * (10 + w % 71) + w % 5};
            recording_canvas fast, plain;
            draw_analogue_trace(fast, samples.data(), FIFO_SIZE, area, range);
            reference_min_max_columns(plain, samples.data(), FIFO_SIZE, area, limit_range(range.start, range.end, FIFO_SIZE - 1));
            ASSERT_TRUE(fast.calls == plain.calls) << w << " " << start;
        }
    }
}

TEST_F(Paint, LogicStepsUpToOneSamplePerColumnMarksBeyond) {
    const plot_area area = {0, 0, 100, 100};  // 8 lanes: lane 0 has y_hi 2, y_lo 12
    std::vector<uint8_t> bytes(FIFO_SIZE, 0x01);  // lane 0 steady high, the others low
    recording_canvas rc;
    draw_logic_traces(rc, bytes.data(), nullptr, FIFO_SIZE, area, {500, 600});
    std::vector<std::string> all = rc.described();
    ASSERT_EQ(all.size(), 8u * 101);
    EXPECT_EQ(all[0], "M 0,2");
    EXPECT_EQ(all[1], "L 1,2");
    EXPECT_EQ(all[100], "L 100,2");

    rc.clear();
    draw_logic_traces(rc, bytes.data(), nullptr, FIFO_SIZE, area, {500, 601});
    all = rc.described();
    ASSERT_EQ(all.size(), 8u * 201);
    EXPECT_EQ(all[0], "M 0,2");
    for (int32_t x = 0; x < 100; ++x) {  // an unbroken line, one pixel per column
        EXPECT_EQ(all[1 + 2 * x], "M " + std::to_string(x) + ",2");
        EXPECT_EQ(all[2 + 2 * x], "L " + std::to_string(x) + ",3");
    }
    EXPECT_EQ(all[202], "M 0,24");  // lane 1 steady low: from its low line up by one pixel
    EXPECT_EQ(all[203], "L 0,23");

    // A column holding both levels: the transition stroke, then both one-pixel marks.
    for (int32_t i = 0; i < FIFO_SIZE; ++i) bytes[i] = static_cast<uint8_t>(i & 1);
    rc.clear();
    draw_logic_traces(rc, bytes.data(), nullptr, FIFO_SIZE, area, {500, 800});
    all = rc.described();
    EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 7),
              std::vector<std::string>({"M 0,12", "M 0,12", "L 0,2", "M 0,12", "L 0,11", "M 0,2", "L 0,3"}));
}

TEST_F(Paint, OnePassColumnMarksDrawTheCallsOfThePlainRenderer) {
    std::mt19937 random(4);
    std::vector<uint8_t> data(SAMPLE_AREA_SIZE);
    const struct {
        plot_area area;
        sample_range range;
    } views[] = {
        {{75, 20, 620, 355}, {0, 393215}},
        {{75, 20, 620, 355}, {1000, 1000 + 3 * 545 + 7}},
        {{75, 20, 620, 355}, {17, 17 + 545}},  // steps
        {{0, 0, 1920, 955}, {0, 393215}},
        {{0, 0, 1920, 955}, {393215 - 9001, 393215}},
        {{0, 0, 1920, 955}, {700000, 800000}},  // beyond the samples
        {{10, 5, 13, 40}, {0, 393215}},
        {{0, 0, 9000, 300}, {0, 393215}},  // wider than one pass takes
        {{0, 0, 9000, 300}, {100, 100 + 2 * 9000 + 3}},
    };
    for (int pattern = 0; pattern < 3; ++pattern) {
        for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) {
            switch (pattern) {
            case 0: data[n] = static_cast<uint8_t>(random()); break;                        // noise
            case 1: data[n] = static_cast<uint8_t>(n % 2 ? (n >> 9) : (n >> 1)); break;     // counter
            default: data[n] = static_cast<uint8_t>((n / 7001) % 2 ? 0x5A : 0xA5); break;  // rare edges
            }
        }
        for (const auto& view : views) {
            if (view.area.x_right > 8192 && pattern != 0) continue;  // the slow plain renderer: noise will do
            SCOPED_TRACE(testing::Message() << "pattern " << pattern << " width " << view.area.x_right - view.area.x_left
                                            << " range " << view.range.start << ".." << view.range.end);
            for (bool eight : {false, true}) {
                const int32_t count = eight ? FIFO_SIZE : SAMPLE_AREA_SIZE / 2;
                const uint8_t* bytes = eight ? data.data() : nullptr;
                const uint8_t* words = eight ? nullptr : data.data();
                recording_canvas fast, plain;
                draw_logic_traces(fast, bytes, words, count, view.area, view.range);
                reference_logic_traces(plain, bytes, words, count, view.area, view.range);
                ASSERT_EQ(fast.calls.size(), plain.calls.size());
                ASSERT_TRUE(fast.calls == plain.calls);
            }
        }
    }
}

TEST_F(Paint, PretriggerMarkerOnlyInsideTheRange) {
    const plot_area area = {75, 20, 675, 190};
    const sample_range range = {1000, 1600};  // one pixel per sample
    struct {
        int32_t pretrigger;
        std::vector<std::string> marker;
    } cases[] = {
        {1000, {"75,20>75,190"}}, {1300, {"375,20>375,190"}}, {1600, {"675,20>675,190"}},
        {999, {}},                {1601, {}},                 {-1, {}},
    };
    for (const auto& c : cases) {
        dso_structure.pretrigger = c.pretrigger;
        recording_canvas rc;
        draw_pretrigger_marker(rc, area, range);
        EXPECT_EQ(strokes(rc.calls), c.marker) << c.pretrigger;
    }
    // 600 / 28 x 21 is 449.99999999999994 in double precision, dividing first: pixel 449
    // (multiplying first would give exactly 450).
    dso_structure.pretrigger = 1021;
    recording_canvas between;
    draw_pretrigger_marker(between, area, {1000, 1028});
    EXPECT_EQ(strokes(between.calls), std::vector<std::string>({"524,20>524,190"}));

    dso_structure.pretrigger = 1300;
    display_preferences.show_pretrigger_position = 0;
    recording_canvas rc;
    draw_pretrigger_marker(rc, area, range);
    EXPECT_TRUE(rc.calls.empty());
}

TEST_F(Paint, TriggerLevelPositionAndTheAreasThatShowIt) {
    dso_structure.trigger_source = 9;  // drawn wherever asked
    const plot_area area = {75, 20, 675, 190};
    for (auto c : {std::pair<uint16_t, std::string>{255, "75,20>675,20"}, {0, "75,189>675,189"},
                   {127, "75,105>675,105"}, {0xFFFF, "75,-43330>675,-43330"}}) {
        dso_structure.trigger_value = c.first;
        recording_canvas rc;
        draw_trigger_level(rc, area, 1);
        EXPECT_EQ(strokes(rc.calls), std::vector<std::string>({c.second})) << c.first;
    }

    // Which areas of a 640 x 400 client get the line, for each source; at value 255 it
    // lies on the top of its area.
    dso_structure.trigger_value = 255;
    display_preferences.show_pretrigger_position = 0;
    struct {
        int8_t mode, source;
        std::vector<std::string> lines;
    } cases[] = {
        {MODE_DUAL, 0, {}},
        {MODE_DUAL, 1, {"75,20>620,20"}},
        {MODE_DUAL, 2, {"75,210>620,210"}},
        {MODE_DUAL, 3, {}},
        {MODE_DUAL, 9, {"75,20>620,20", "75,210>620,210"}},
        {MODE_SINGLE, 1, {"75,20>620,20"}},
        {MODE_SINGLE, 2, {}},
        {MODE_SINGLE, -5, {"75,20>620,20"}},
        {MODE_LOGIC16, 1, {}},
        {MODE_LOGIC16, 2, {}},
        {MODE_LOGIC16, 9, {}},
        {MODE_MIXED, 1, {}},
        {MODE_MIXED, 2, {"75,20>620,20"}},
        {MODE_MIXED, 9, {"75,20>620,20"}},
    };
    for (const auto& c : cases) {
        dso_structure.capture_mode = c.mode;
        dso_structure.trigger_source = c.source;
        recording_canvas rc;
        paint_client(rc, 0, 0, 640, 400);
        EXPECT_EQ(strokes(rc.drawn_in(COLOUR_GREEN)), c.lines) << int(c.mode) << " source " << int(c.source);
    }
    display_preferences.show_trigger_level = 0;
    dso_structure.capture_mode = MODE_DUAL;
    recording_canvas rc;
    paint_client(rc, 0, 0, 640, 400);
    EXPECT_TRUE(rc.drawn_in(COLOUR_GREEN).empty());
}

TEST_F(Paint, ARangeBeyondTheModeIsPaintedLimitedAndLeftStored) {
    dso_structure.capture_mode = MODE_SINGLE;
    ASSERT_EQ(set_view_range(600000, 700000), 1);
    dso_structure.pretrigger = 393215;
    for (int8_t mode : {MODE_DUAL, MODE_LOGIC16, MODE_MIXED}) {
        dso_structure.capture_mode = mode;
        recording_canvas beyond, limited;
        paint_client(beyond, 0, 0, 640, 400);
        EXPECT_EQ(view_start, 600000);
        EXPECT_EQ(view_end, 700000);
        view_start = 393214;
        view_end = 393215;
        paint_client(limited, 0, 0, 640, 400);
        view_start = 600000;
        view_end = 700000;
        EXPECT_TRUE(beyond.calls == limited.calls) << int(mode);
        EXPECT_EQ(strokes(beyond.drawn_in(COLOUR_GREEN)).at(0), "620,20>620," + std::to_string(mode == MODE_DUAL ? 190 : mode == MODE_LOGIC16 ? 355 : 177));
    }
}

TEST_F(Paint, APaintWaitsWhileTheCaptureThreadLaysOutADownload) {
    struct probing_canvas : recording_canvas {
        std::atomic<bool> probe_got_guard{false};
        std::thread probe;
        void select_new_pen(uint32_t colour) override {
            if (calls.empty())
                probe = std::thread([this] {
                    record_buffers_guard guard;
                    probe_got_guard = true;
                });
            recording_canvas::select_new_pen(colour);
        }
        void restore_initial_pen() override {
            // Give the probe every chance to take the guard if the paint were not holding it.
            for (int k = 0; k < 50 && !probe_got_guard; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            EXPECT_FALSE(probe_got_guard);
            recording_canvas::restore_initial_pen();
        }
    } rc;
    paint_client(rc, 0, 0, 640, 400);
    rc.probe.join();
    EXPECT_TRUE(rc.probe_got_guard);
}

}  // namespace
