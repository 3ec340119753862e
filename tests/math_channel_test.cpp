// The math channel: each operation on a crafted record, the expressions read and refused,
// the modes that have math, and M's levels and edges.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "analysis/math_channel.h"

namespace {

std::unique_ptr<dso_record> crafted(int8_t mode) {
    auto r = std::make_unique<dso_record>();
    r->capture_mode = mode;
    const uint8_t a[] = {0x80, 0xFF, 0x00, 0x90, 0x70};
    const uint8_t b[] = {0x80, 0x00, 0xFF, 0x88, 0x90};
    for (int i = 0; i < 5; ++i) r->channel_a[i] = a[i], r->channel_b[i] = b[i];
    return r;
}

TEST(MathChannel, EachOperationOnValuesAboutTheZeroCode) {
    const auto r = crafted(MODE_DUAL);
    // A: 0, 127, -128, 16, -16; B: 0, -128, 127, 8, 16.
    const struct {
        const char* text;
        std::vector<double> want;
    } cases[] = {{"A+B", {0, -1, -1, 24, 0}},          {"A-B", {0, 255, -255, 8, -32}},
                 {"B-A", {0, -255, 255, -8, 32}},       {"A*B", {0, -16256, -16256, 128, -256}},
                 {"-A", {0, -127, 128, -16, 16}},       {"-B", {0, 128, -127, -8, -16}},
                 {"( a + b ) / 2", {0, -0.5, -0.5, 12, 0}}};
    for (const auto& c : cases) {
        math_op op;
        std::string message;
        ASSERT_TRUE(parse_math(c.text, op, message)) << c.text << ": " << message;
        std::vector<double> out(5);
        compute_math(*r, op, {}, {}, 0, 4, out.data());
        EXPECT_EQ(out, c.want) << c.text;
    }
    // Scales: (code - zero) * per_code of each channel; a range starts where it says.
    math_op op;
    std::string message;
    ASSERT_TRUE(parse_math("A-B", op, message));
    double out[2];
    compute_math(*r, op, {0x90, 0.5}, {0x80, 2}, 3, 4, out);
    EXPECT_DOUBLE_EQ(out[0], 0 * 0.5 - 8 * 2);
    EXPECT_DOUBLE_EQ(out[1], -32 * 0.5 - 16 * 2);
}

TEST(MathChannel, RefusesWhatItCannotReadOrTheModeCannotGive) {
    math_op op;
    std::string message;
    for (const char* text : {"", "A", "A/B", "A+B/2", "C-A", "A--B"}) {
        EXPECT_FALSE(parse_math(text, op, message)) << text;
        EXPECT_NE(message.find("(A+B)/2"), std::string::npos) << message;  // names the forms
    }
    ASSERT_TRUE(parse_math("A-B", op, message));
    EXPECT_TRUE(math_available(*crafted(MODE_DUAL), op, message));
    EXPECT_FALSE(math_available(*crafted(MODE_MIXED), op, message));  // Mixed Mode has no A
    EXPECT_FALSE(math_available(*crafted(MODE_SINGLE), op, message));
    EXPECT_FALSE(math_available(*crafted(MODE_LOGIC16), op, message));
    ASSERT_TRUE(parse_math("-B", op, message));
    EXPECT_TRUE(math_available(*crafted(MODE_MIXED), op, message));
}

TEST(MathChannel, MeasuresLevelsAndPeriodsAsAChannel) {
    // A square wave of period 100 samples, 30 high, between -200 and +200: beyond one
    // channel's range, as A-B can be.
    std::vector<double> v(1000);
    for (size_t i = 0; i < v.size(); ++i) v[i] = i % 100 < 30 ? 200 : -200;
    math_figures f;
    measure_math(v.data(), 1000, 128, f);
    EXPECT_EQ(f.min, -200);
    EXPECT_EQ(f.max, 200);
    EXPECT_NEAR(f.mean, -200 * 0.4, 1e-9);
    EXPECT_NEAR(f.rms, 200, 1e-9);
    EXPECT_EQ(f.periodic.rising_edges, 9);  // the first high sets the state
    EXPECT_EQ(f.periodic.whole_periods, 8);
    EXPECT_DOUBLE_EQ(f.periodic.period_samples, 100);
    EXPECT_DOUBLE_EQ(f.periodic.duty_cycle, 0.3);
    // A span below 16 codes of a channel is no periodic signal.
    for (double& x : v) x /= 40;
    measure_math(v.data(), 1000, 128, f);
    EXPECT_EQ(f.periodic.whole_periods, 0);
    EXPECT_EQ(f.periodic.rising_edges, 0);
}

}  // namespace
