// Pulse figures of crafted signals (edges of a known slope among noise, a flat line, logic
// pulses at the record's ends) and the statistics of a run over a known sequence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/figures.h"
#include "analysis/pulse.h"
#include "analysis/statistics.h"

namespace {

// A trapezoid wave: base and top plateaus with a code of noise either way, linear ramps of ramp
// samples starting at a fraction of a sample, so that no crossing falls on a sample.
std::vector<uint8_t> trapezoid(int periods, double ramp, double plateau, int base, int top, bool noise) {
    std::vector<uint8_t> out;
    uint32_t seed = 12345;
    const double period = 2 * (ramp + plateau);
    const int count = static_cast<int>(periods * period);
    for (int k = 0; k < count; ++k) {
        const double t = std::fmod(k + 0.37, period);
        double v;
        if (t < plateau) v = base;
        else if (t < plateau + ramp) v = base + (top - base) * (t - plateau) / ramp;
        else if (t < 2 * plateau + ramp) v = top;
        else v = top - (top - base) * (t - 2 * plateau - ramp) / ramp;
        if (noise && (v == base || v == top)) {
            seed = seed * 1664525u + 1013904223u;
            v += static_cast<int>((seed >> 16) % 3) - 1;
        }
        out.push_back(static_cast<uint8_t>(std::lround(v)));
    }
    return out;
}

}  // namespace

TEST(Pulse, EdgesOfAKnownSlopeGiveTheirTimesWithinASample) {
    for (const double ramp : {3.0, 25.0, 140.0}) {
        const std::vector<uint8_t> wave = trapezoid(6, ramp, 300, 40, 220, true);
        analogue_pulse_figures p;
        measure_pulse(wave.data(), static_cast<int32_t>(wave.size()), 1, p);
        SCOPED_TRACE(ramp);
        EXPECT_TRUE(p.histogram_mode);
        EXPECT_NEAR(p.top.value, 220, 1);
        EXPECT_NEAR(p.base.value, 40, 1);
        EXPECT_NEAR(p.rise_time.value, 0.8 * ramp, 1.0);
        EXPECT_NEAR(p.fall_time.value, 0.8 * ramp, 1.0);
        EXPECT_EQ(p.rises, 6);
        EXPECT_GE(p.falls, 5);
        EXPECT_NEAR(p.positive_width.value, 300 + ramp, 1.0);
        EXPECT_NEAR(p.negative_width.value, 300 + ramp, 1.0);
        EXPECT_NEAR(p.rise_slew.value, 0.8 * p.amplitude.value / p.rise_time.value, 1e-9);
        EXPECT_LT(p.fall_slew.value, 0);
        EXPECT_LT(p.overshoot.value, 2.0);  // the noise above the top: a code of 180
    }
    // A step within one sample is a fraction of a sample, not zero and not one.
    const std::vector<uint8_t> steps = trapezoid(4, 0.01, 100, 20, 120, false);
    analogue_pulse_figures p;
    measure_pulse(steps.data(), static_cast<int32_t>(steps.size()), 1, p);
    EXPECT_NEAR(p.rise_time.value, 0.8, 1e-9);
}

TEST(Pulse, WhatCannotBeHadIsSaidSoNeverANumber) {
    std::vector<uint8_t> flat(5000, 128);
    for (size_t k = 0; k < flat.size(); k += 7) flat[k] = 135;  // noise within 15 codes
    analogue_pulse_figures p;
    measure_pulse(flat.data(), static_cast<int32_t>(flat.size()), 1, p);
    for (const pulse_value* v : {&p.top, &p.base, &p.amplitude, &p.overshoot, &p.rise_time, &p.fall_time,
                                 &p.positive_width, &p.negative_width, &p.rise_slew, &p.fall_slew})
        EXPECT_EQ(v->gap, pulse_gap::flat);

    // One rise and nothing after: levels and the rise, but no fall and no whole pulse.
    std::vector<uint8_t> step(4000, 30);
    for (size_t k = 2000; k < step.size(); ++k) step[k] = 200;
    measure_pulse(step.data(), static_cast<int32_t>(step.size()), 1, p);
    EXPECT_TRUE(p.top.known());
    EXPECT_EQ(p.rises, 1);
    EXPECT_EQ(p.fall_time.gap, pulse_gap::no_falling);
    EXPECT_EQ(p.fall_slew.gap, pulse_gap::no_falling);
    EXPECT_EQ(p.positive_width.gap, pulse_gap::no_high_pulse);
    EXPECT_EQ(p.negative_width.gap, pulse_gap::no_low_pulse);

    // A second channel read with a stride (the even samples) sees its own samples only.
    std::vector<uint8_t> interleaved(8000);
    for (size_t k = 0; k < interleaved.size(); ++k) interleaved[k] = k % 2 ? 255 : step[k / 2];
    analogue_pulse_figures even;
    measure_pulse(interleaved.data(), 4000, 2, even);
    EXPECT_EQ(even.rises, 1);
    EXPECT_EQ(even.top.value, 200);
}

TEST(Pulse, LogicPulsesAreWholeOnesOnlyForEachInput) {
    // 16-bit words: input 0 high for 3, low for 5, high for 9 (runs at both ends not counted);
    // input 9 toggles every sample; input 15 never changes.
    std::vector<uint8_t> words;
    const int bit0[] = {0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0};
    for (size_t k = 0; k < sizeof bit0 / sizeof bit0[0]; ++k) {
        const unsigned w = static_cast<unsigned>(bit0[k]) | (k % 2 ? 1u << 9 : 0) | 1u << 15;
        words.push_back(static_cast<uint8_t>(w & 0xFF));
        words.push_back(static_cast<uint8_t>(w >> 8));
    }
    logic_pulse_figures out[16];
    measure_logic_pulses(words.data(), static_cast<int32_t>(words.size() / 2), 16, out);
    EXPECT_EQ(out[0].high_pulses, 2);
    EXPECT_EQ(out[0].shortest_high.value, 3);
    EXPECT_EQ(out[0].longest_high.value, 9);
    EXPECT_EQ(out[0].low_pulses, 1);
    EXPECT_EQ(out[0].shortest_low.value, 5);
    EXPECT_EQ(out[0].longest_low.value, 5);
    EXPECT_EQ(out[9].shortest_high.value, 1);
    EXPECT_EQ(out[9].longest_low.value, 1);
    EXPECT_EQ(out[15].shortest_high.gap, pulse_gap::no_high_pulse);
    EXPECT_EQ(out[15].longest_low.gap, pulse_gap::no_low_pulse);
}

TEST(Statistics, KnownSequenceGivesItsMomentsAndOnlyKnownValuesCount) {
    capture_figures capture;
    capture.capture_mode = MODE_DUAL;
    capture.count = 2;
    capture.figures[0] = {"A", &analogue_figure_names[5], 0, true};
    capture.figures[1] = {"A", &analogue_figure_names[16], 0, false};
    run_statistics s;
    // Large values with a small spread: a sum of squares would lose them.
    const double values[] = {1e9 + 4, 1e9 + 7, 1e9 + 13, 1e9 + 16};
    for (const double v : values) {
        capture.figures[0].value = v;
        s.add(capture);
    }
    EXPECT_EQ(s.captures, 4);
    EXPECT_EQ(s.figures[0].count, 4);
    EXPECT_DOUBLE_EQ(s.figures[0].mean, 1e9 + 10);
    EXPECT_DOUBLE_EQ(s.figures[0].min, 1e9 + 4);
    EXPECT_DOUBLE_EQ(s.figures[0].max, 1e9 + 16);
    EXPECT_NEAR(s.figures[0].std_dev(), std::sqrt(30.0), 1e-6);  // (36 + 9 + 9 + 36) / 3
    EXPECT_EQ(s.figures[1].count, 0);
    // A capture of another mode starts afresh; so does a reset.
    capture.capture_mode = MODE_MIXED;
    s.add(capture);
    EXPECT_EQ(s.captures, 1);
    EXPECT_EQ(s.figures[0].count, 1);
    EXPECT_EQ(s.figures[0].std_dev(), 0);
    s.reset();
    EXPECT_EQ(s.captures, 0);
    EXPECT_EQ(s.count, 0);
}

TEST(Figures, EveryModeListsItsChannelsInTheOrderItsIndexGives) {
    auto record = std::make_unique<dso_record>();
    std::memset(record.get(), 0x80, sizeof(dso_record));
    for (const int8_t mode : {MODE_DUAL, MODE_SINGLE, MODE_LOGIC16, MODE_MIXED}) {
        record->capture_mode = mode;
        record->sample_rate_index = 0;
        auto figures = std::make_unique<capture_figures>();
        measure_figures(*record, *figures);
        for (int i = 0; i < figures->count; ++i) {
            bool has_channel = false;
            ASSERT_EQ(figure_index(mode, figures->figures[i].channel, figures->figures[i].figure->name, has_channel), i);
        }
        bool has_channel = true;
        EXPECT_EQ(figure_index(mode, "D16", "edges", has_channel), -1);
        EXPECT_FALSE(has_channel);
    }
    bool has_channel = false;
    EXPECT_EQ(figure_index(MODE_MIXED, "A", "frequency", has_channel), -1);
    EXPECT_EQ(figure_index(MODE_MIXED, "D7", "edges", has_channel), ANALOGUE_FIGURES + 7 * LOGIC_FIGURES);
    EXPECT_EQ(figure_index(MODE_MIXED, "B", "nothing", has_channel), -1);
    EXPECT_TRUE(has_channel);
}
