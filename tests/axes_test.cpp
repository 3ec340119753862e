#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/dso_structure.h"
#include "display/axes.h"
#include "display/view_range.h"
#include "tests/support/recording_canvas.h"

namespace {

class Axes : public ::testing::Test {
protected:
    void SetUp() override {
        set_capture_defaults();
        set_display_defaults();
    }
    void TearDown() override { SetUp(); }

    // The x axis of W = 600 from x 0 at row 100, with a character width of 7.
    recording_canvas x_axis(sample_range range, int32_t width = 600) {
        recording_canvas rc;
        draw_x_axis(rc, 0, width, 100, range);
        return rc;
    }
};

struct tick {
    int32_t x, length;
};

// Ticks in drawing order: a move to (x, 100) and a line down to (x, 100 + length).
std::vector<tick> ticks(const recording_canvas& rc) {
    std::vector<tick> v;
    for (std::size_t k = 0; k + 1 < rc.calls.size(); ++k) {
        const canvas_call& m = rc.calls[k];
        const canvas_call& l = rc.calls[k + 1];
        if (m.kind == canvas_call::move && l.kind == canvas_call::line && m.x == l.x && m.y == 100)
            v.push_back({m.x, l.y - 100});
    }
    return v;
}

std::vector<int32_t> tick_xs(const recording_canvas& rc, int32_t length) {
    std::vector<int32_t> v;
    for (const tick& t : ticks(rc))
        if (t.length == length) v.push_back(t.x);
    return v;
}

TEST(RoundUpToOneDigit, RoundsUpToOneSignificantDigit) {
    const int64_t cases[][2] = {{10, 10},       {11, 20},       {95, 100},         {100, 100},
                                {101, 200},     {150, 200},     {999, 1000},       {32767, 40000},
                                {786, 800},     {999, 1000},    {7, 7},            {0, 0},
                                {2147483647, 3000000000},       {INT64_MAX, INT64_MAX}};
    for (const auto& c : cases) EXPECT_EQ(round_up_to_one_digit(c[0]), c[1]) << c[0];
}

TEST_F(Axes, SampleNumbersOverTheWholeCapture) {
    recording_canvas rc = x_axis({0, 393215});
    EXPECT_EQ(describe(rc.calls[0]), "A centre");
    EXPECT_EQ(describe(rc.calls[1]), "M 0,100");
    EXPECT_EQ(describe(rc.calls[2]), "L 600,100");
    EXPECT_EQ(rc.labels(), std::vector<std::string>({"0", "40000", "80000", "120000", "160000", "200000", "240000",
                                                     "280000", "320000", "360000"}));
    std::vector<int32_t> major = tick_xs(rc, 10);
    ASSERT_EQ(major.size(), 10u);
    EXPECT_EQ(major[1], 61);
    EXPECT_EQ(major[2], 122);
    EXPECT_EQ(major[9], 549);
    // Labels sit centred under their ticks.
    for (const canvas_call& c : rc.calls) {
        if (c.kind == canvas_call::text) {
            EXPECT_EQ(c.y, 110);
        }
    }
    std::vector<int32_t> minor = tick_xs(rc, 5);
    ASSERT_EQ(minor.size(), 99u);  // every 4,000 samples, 0 to 392,000
    EXPECT_EQ(minor[1], 6);
    EXPECT_EQ(minor[10], 61);  // minor ticks also fall on the major ones
}

TEST_F(Axes, SampleNumbersOverAShortSpan) {
    recording_canvas rc = x_axis({1000, 1020});
    EXPECT_EQ(rc.labels(), std::vector<std::string>({"1000", "1010", "1020"}));
    EXPECT_EQ(tick_xs(rc, 10), std::vector<int32_t>({0, 300, 600}));
    std::vector<int32_t> minor = tick_xs(rc, 5);
    ASSERT_EQ(minor.size(), 21u);  // every sample
    EXPECT_EQ(minor[1], 30);
}

TEST_F(Axes, TheWidthEstimateCountsDigitsAboveTen) {
    // W = 63 with labels 7 pixels a character: 100 counts as 2 digits, 3 labels fit and the
    // step is 40; 110 counts as 3 digits, 2 labels fit and the step is 60.
    EXPECT_EQ(x_axis({0, 100}, 63).labels(), std::vector<std::string>({"0", "40", "80"}));
    EXPECT_EQ(x_axis({0, 110}, 63).labels(), std::vector<std::string>({"0", "60"}));
}

TEST_F(Axes, TimeLabels) {
    display_preferences.show_time_on_x_axis = 1;
    // 50 MHz: the whole capture lasts about 7.86 ms, shown in microseconds.
    recording_canvas rc = x_axis({0, 393215});
    std::vector<std::string> labels = rc.labels();
    ASSERT_EQ(labels.size(), 10u);
    EXPECT_EQ(labels[0], "0 uS");
    EXPECT_EQ(labels[1], "800 uS");
    EXPECT_EQ(labels[9], "7200 uS");
    EXPECT_EQ(tick_xs(rc, 10)[1], 61);  // 800 of 7864 across 600 pixels
    EXPECT_EQ(tick_xs(rc, 5).size(), 99u);

    // 25 MHz over 250,000 samples: 10 ms in exact arithmetic, just under it with the
    // single-precision microsecond, so still microseconds, the last one 9999.
    dso_structure.sample_rate_index = 1;
    labels = x_axis({0, 250000}).labels();
    EXPECT_EQ(labels.front(), "0 uS");
    EXPECT_EQ(labels.back(), "9000 uS");
    EXPECT_EQ(labels.size(), 10u);
    EXPECT_EQ(labels[1], "1000 uS");

    // Single Channel at 100 MHz: one sample lasts just under 10 ns, scaled a fourth time.
    dso_structure.capture_mode = MODE_SINGLE;
    dso_structure.sample_rate_index = 0;
    // Sample 5 begins at 49999.9999 ps, so its time truncates to 49999.
    labels = x_axis({5, 6}).labels();
    EXPECT_EQ(labels, std::vector<std::string>({"50000 pS", "52000 pS", "54000 pS", "56000 pS", "58000 pS"}));

    // 3.125 MHz: the whole capture lasts about 126 ms, shown in milliseconds; 7 characters a
    // label fit 12 labels, so the step is 125 / 12 = 10, rounded up to 10.
    dso_structure.capture_mode = MODE_DUAL;
    dso_structure.sample_rate_index = 4;
    labels = x_axis({0, 393215}).labels();
    ASSERT_EQ(labels.size(), 13u);
    EXPECT_EQ(labels[1], "10 mS");
    EXPECT_EQ(labels.back(), "120 mS");

    // Single Channel at 100 MHz over 100 samples: about 1 us, shown in nanoseconds; the last
    // time is 999 (just under 1000 with the 32-bit 1e-6), the step 999 / 12 = 83 rounded up.
    dso_structure.capture_mode = MODE_SINGLE;
    dso_structure.sample_rate_index = 0;
    labels = x_axis({0, 100}).labels();
    ASSERT_EQ(labels.size(), 12u);
    EXPECT_EQ(labels[1], "90 nS");
    EXPECT_EQ(labels.back(), "990 nS");

    // A negative rate index leaves the base rate; a huge one saturates the values.
    dso_structure.capture_mode = MODE_DUAL;
    dso_structure.sample_rate_index = -1;
    EXPECT_EQ(x_axis({0, 393215}).labels().back(), "7200 uS");
    dso_structure.sample_rate_index = 127;
    EXPECT_EQ(x_axis({1, 393215}).labels(), std::vector<std::string>({}));
    EXPECT_EQ(x_axis({0, 393215}).labels().front(), "0 S");
}

TEST_F(Axes, TimeUnits) {
    const char* expected[] = {"S", "mS", "uS", "nS", "pS", "fS", "aS", "aS"};
    for (int i = 0; i < 8; ++i) EXPECT_STREQ(time_unit(i), expected[i]);
    EXPECT_STREQ(time_unit(1000), "aS");
    EXPECT_STREQ(time_unit(-3), "S");
}

TEST_F(Axes, NoLabelRoomNoValuesNoWidth) {
    // Narrower than one label: the step spans the axis, nothing divides by zero.
    EXPECT_EQ(x_axis({0, 393215}, 20).labels(), std::vector<std::string>({"0"}));
    EXPECT_EQ(x_axis({0, 1000}, 20).labels(), std::vector<std::string>({"0", "1000"}));
    // No values between the ends (a one-point range): every tick at the left end.
    recording_canvas rc = x_axis({500, 500});
    EXPECT_EQ(rc.labels(), std::vector<std::string>({"500"}));
    for (const tick& t : ticks(rc)) EXPECT_EQ(t.x, 0);
    display_preferences.show_time_on_x_axis = 1;
    EXPECT_EQ(x_axis({0, 0}).labels(), std::vector<std::string>({"0 aS"}));
    // A width of no characters still gives labels.
    display_preferences.show_time_on_x_axis = 0;
    recording_canvas zero;
    zero.char_width = 0;
    draw_x_axis(zero, 0, 600, 100, {1000, 1020});
    EXPECT_EQ(zero.labels(), std::vector<std::string>({"1000", "1010", "1020"}));
}

TEST_F(Axes, AnalogueYAxisNineLabelsDownToTheBottom) {
    recording_canvas rc;
    draw_analogue_y_axis(rc, 75, 20, 190);
    std::vector<std::string> d = rc.described();
    ASSERT_EQ(d.size(), 3u + 9 * 3);
    EXPECT_EQ(d[0], "A right");
    EXPECT_EQ(d[1], "M 75,20");
    EXPECT_EQ(d[2], "L 75,190");
    EXPECT_EQ(std::vector<std::string>(d.begin() + 3, d.begin() + 9),
              std::vector<std::string>({"M 75,20", "L 65,20", "T 65,12 128", "M 75,41", "L 65,41", "T 65,33 96"}));
    EXPECT_EQ(d[3 + 4 * 3 + 2], "T 65,97 0");  // 20 + 85: the middle line
    EXPECT_EQ(d.back(), "T 65,182 -128");
    // An area of no height is labelled once per value at most.
    rc.clear();
    draw_analogue_y_axis(rc, 75, 20, 20);
    EXPECT_EQ(rc.labels().size(), 9u);
    rc.clear();
    draw_analogue_y_axis(rc, 75, 20, 19);
    EXPECT_TRUE(rc.labels().empty());
}

TEST_F(Axes, LogicYAxisOneLabelPerLane) {
    recording_canvas rc;
    draw_logic_y_axis(rc, 75, 20, 355, 16);
    std::vector<std::string> labels = rc.labels();
    ASSERT_EQ(labels.size(), 16u);
    EXPECT_EQ(labels[0], "LSB 0");
    EXPECT_EQ(labels[1], "1");
    EXPECT_EQ(labels[14], "14");
    EXPECT_EQ(labels[15], "MSB 15");
    std::vector<std::string> d = rc.described();
    EXPECT_EQ(std::vector<std::string>(d.begin(), d.begin() + 6),
              std::vector<std::string>({"A right", "M 75,20", "L 75,355", "M 75,31", "L 65,31", "T 65,23 LSB 0"}));
    EXPECT_EQ(d.back(), "T 65,335 MSB 15");  // the middle of lane 15, 334..352

    rc.clear();
    draw_logic_y_axis(rc, 75, 198, 355, 8);
    EXPECT_EQ(rc.labels(), std::vector<std::string>({"LSB 0", "1", "2", "3", "4", "5", "6", "MSB 7"}));
    rc.clear();
    draw_logic_y_axis(rc, 75, 198, 198, 8);
    EXPECT_TRUE(rc.labels().empty());
    rc.clear();
    draw_logic_y_axis(rc, 75, 198, 355, 0);
    EXPECT_EQ(rc.described(), std::vector<std::string>({"A right", "M 75,198", "L 75,355"}));
}

}  // namespace
