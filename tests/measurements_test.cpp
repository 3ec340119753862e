// Levels, edges, periods and duty cycles of synthetic signals and of simulator captures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "analysis/measurements.h"
#include "hardware/capture_sequence.h"
#include "simulator/simulated_device.h"
#include "support/recording_bus.h"
#include "support/recording_services.h"

namespace {

uint8_t signal[12000];

uint32_t next_random(uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 16;
}

void expect_periodic(const periodic_figures& f, int rising, int falling, double period, double duty) {
    EXPECT_EQ(f.rising_edges, rising);
    EXPECT_EQ(f.falling_edges, falling);
    EXPECT_EQ(f.whole_periods, rising >= 2 ? rising - 1 : 0);
    EXPECT_DOUBLE_EQ(f.period_samples, period);
    EXPECT_DOUBLE_EQ(f.duty_cycle, duty);
}

TEST(Measurements, SquareWaveGivesItsLevelsPeriodAndDuty) {
    // High for the first 10 of every 40 samples: it starts high, so the first edge falls.
    for (int i = 0; i < 1000; ++i) signal[i] = i % 40 < 10 ? 190 : 60;
    analogue_figures a;
    measure_analogue(signal, 1000, a);
    EXPECT_EQ(a.min, 60);
    EXPECT_EQ(a.max, 190);
    EXPECT_DOUBLE_EQ(a.mean, (250 * 190 + 750 * 60) / 1000.0);
    EXPECT_DOUBLE_EQ(a.rms, std::sqrt((250 * 190.0 * 190 + 750 * 60.0 * 60) / 1000));
    EXPECT_DOUBLE_EQ(a.rms_relative, std::sqrt((250 * 62.0 * 62 + 750 * 68.0 * 68) / 1000));
    expect_periodic(a.periodic, 24, 25, 40, 0.25);
}

TEST(Measurements, NoisySineMakesOneEdgePerCrossing) {
    // 2000 samples a period, +-100 codes, noise of +-2 and every other sample 4 codes higher
    // (the second converter in Single Channel mode).
    uint32_t seed = 7;
    for (int i = 0; i < 10500; ++i)
        signal[i] = static_cast<uint8_t>(std::lround(128 + 100 * std::sin(i * 6.283185307179586 / 2000)) +
                                         static_cast<int>(next_random(seed) % 5) - 2 + (i & 1) * 4);
    analogue_figures a;
    measure_analogue(signal, 10500, a);
    EXPECT_EQ(a.periodic.rising_edges, 5);
    EXPECT_EQ(a.periodic.falling_edges, 5);
    EXPECT_NEAR(a.periodic.period_samples, 2000, 2000 * 0.005);
    EXPECT_NEAR(a.periodic.duty_cycle, 0.5, 0.5 * 0.005);
}

TEST(Measurements, FlatLineNoiseAndOneStepAreNoPeriodicSignal) {
    analogue_figures a;
    std::memset(signal, 0x80, 100);
    measure_analogue(signal, 100, a);
    EXPECT_EQ(a.min, 0x80);
    EXPECT_EQ(a.max, 0x80);
    EXPECT_DOUBLE_EQ(a.rms_relative, 0);
    expect_periodic(a.periodic, 0, 0, 0, 0);

    uint32_t seed = 3;
    for (int i = 0; i < 5000; ++i) signal[i] = static_cast<uint8_t>(120 + next_random(seed) % 16);  // 15 codes
    measure_analogue(signal, 5000, a);
    EXPECT_EQ(a.max - a.min, 15);
    expect_periodic(a.periodic, 0, 0, 0, 0);

    for (int i = 0; i < 100; ++i) signal[i] = i < 50 ? 60 : 190;
    measure_analogue(signal, 100, a);
    expect_periodic(a.periodic, 1, 0, 0, 0);
}

// Events at the 16-sample steps and 1024-sample blocks of the scans, and at the first and
// last samples, in both paths. The buffers end with the last sample, so that a sanitised
// build sees any read beyond it.
TEST(Measurements, EdgesAtScanBoundariesAndAtBothEnds) {
    std::vector<uint8_t> codes(3000), bytes_in(3000), words(6000);
    for (bool portable : {false, true}) {
        set_measurements_portable(portable);
        // Analogue: middle 125, trigger levels 141 and 109, each reached exactly and only
        // once in its block. The edge is the last crossing of the middle before a level:
        // back across the 1024 boundary for the rise, to a glitch after the 2048 boundary
        // for the fall.
        for (int i = 0; i < 3000; ++i) {
            codes[i] = i == 0 ? 60 : i < 1040 ? 130 : i == 1040 ? 141 : i < 2048 ? 135 : i < 2100 ? 120 : i == 2100 ? 109
                     : i < 2999 ? 115 : 190;
            if (i == 1023) codes[i] = 120;
            if (i == 2060) codes[i] = 130;
        }
        analogue_figures a;
        measure_analogue(codes.data(), 3000, a);
        expect_periodic(a.periodic, 2, 1, 2999 - 1024, (2061.0 - 1024) / (2999 - 1024));

        // Logic input 0 rises at 1, 1023, 2047, 2999 and falls at 16, 1024, 2048, as bytes
        // and as the high byte of words (input 8).
        for (int i = 0; i < 3000; ++i) {
            const bool high = (i >= 1 && i < 16) || i == 1023 || i == 2047 || i == 2999;
            bytes_in[i] = high ? 0x81 : 0x80;
            words[2 * i] = 0;
            words[2 * i + 1] = bytes_in[i];
        }
        logic_figures bytes[8], inputs[16];
        measure_logic(bytes_in.data(), 3000, 8, bytes);
        measure_logic(words.data(), 3000, 16, inputs);
        for (const logic_figures& f : {bytes[0], inputs[8]}) {
            EXPECT_EQ(f.transitions, 7) << portable;
            expect_periodic(f.periodic, 4, 3, 2998 / 3.0, 17 / 2998.0);
        }
        EXPECT_EQ(bytes[7].transitions, 0);
        EXPECT_EQ(inputs[15].transitions, 0);
    }
    set_measurements_portable(false);
}

auto figures(const periodic_figures& f) {
    return std::make_tuple(f.rising_edges, f.falling_edges, f.whole_periods, f.period_samples, f.duty_cycle);
}

// The record measured by the SSE2 code and by the portable code gives the same figures.
capture_measurements measure_both_ways() {
    capture_measurements fast, portable;
    measure_capture(dso_structure, fast);
    set_measurements_portable(true);
    measure_capture(dso_structure, portable);
    set_measurements_portable(false);
    EXPECT_EQ(fast.analogue_channels, portable.analogue_channels);
    for (int c = 0; c < fast.analogue_channels; ++c) {
        const analogue_figures &f = fast.analogue[c], &p = portable.analogue[c];
        EXPECT_EQ(std::make_tuple(f.min, f.max, f.mean, f.rms, f.rms_relative, figures(f.periodic)),
                  std::make_tuple(p.min, p.max, p.mean, p.rms, p.rms_relative, figures(p.periodic)));
    }
    EXPECT_EQ(fast.logic_inputs, portable.logic_inputs);
    for (int b = 0; b < fast.logic_inputs; ++b)
        EXPECT_EQ(std::make_tuple(fast.logic[b].transitions, figures(fast.logic[b].periodic)),
                  std::make_tuple(portable.logic[b].transitions, figures(portable.logic[b].periodic)));
    return fast;
}

TEST(Measurements, BothPathsAgreeOnNoiseInEveryMode) {
    uint32_t seed = 11;
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) {
        // Mostly small steps with a jump now and then: long quiet stretches and busy ones.
        const uint32_t r = next_random(seed);
        dso_structure.sample_area[n] = static_cast<uint8_t>(r % 97 == 0 ? r : dso_structure.sample_area[n - (n > 0)] + (r & 1));
    }
    for (int8_t mode : {MODE_DUAL, MODE_SINGLE, MODE_LOGIC16, MODE_MIXED}) {
        dso_structure.capture_mode = mode;
        const capture_measurements m = measure_both_ways();
        EXPECT_GT(m.analogue_channels ? m.analogue[0].periodic.rising_edges : m.logic[0].transitions, 100);
    }
    dso_structure.capture_mode = 4;
    const capture_measurements none = measure_both_ways();
    EXPECT_EQ(none.samples, 0);
    EXPECT_EQ(none.analogue_channels + none.logic_inputs, 0);
}

// Captures of the simulated signals: A 1 kHz, B 2.5 kHz, logic input k 50 kHz / 2^k, each
// with 50 % duty, within 0.5 %.
simulated_device device;

TEST(Measurements, SimulatedSignalsWithinHalfAPercent) {
    scoped_bus installed{device};
    recording_services services;
    port_address = LPT1_ADDRESS;
    device.set_instant(true);
    const struct {
        int8_t mode, rate;
        const char* channels;
        double channel_hz[2];
        int logic_inputs, periodic_inputs;  // inputs 0.. with whole periods at that rate
    } cases[] = {
        {MODE_DUAL, 0, "AB", {1000, 2500}, 0, 0},
        {MODE_SINGLE, 0, "A", {1000, 0}, 0, 0},
        {MODE_LOGIC16, 2, "", {0, 0}, 16, 10},  // the counter steps every 125 samples
        {MODE_MIXED, 0, "B", {2500, 0}, 8, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << int{c.mode});
        set_header(c.mode, TRIGGER_NONE, c.rate, 0, 0, 0);
        ASSERT_TRUE(run_capture());
        const double rate = sample_rate_hz(c.mode, c.rate);
        const capture_measurements m = measure_both_ways();
        EXPECT_EQ(m.samples, samples_in_mode(c.mode));
        ASSERT_EQ(m.analogue_channels, static_cast<int>(std::strlen(c.channels)));
        for (int k = 0; k < m.analogue_channels; ++k) {
            EXPECT_EQ(m.analogue_name[k], c.channels[k]);
            EXPECT_NEAR(rate / m.analogue[k].periodic.period_samples, c.channel_hz[k], c.channel_hz[k] * 0.005);
            EXPECT_NEAR(m.analogue[k].periodic.duty_cycle, 0.5, 0.5 * 0.005);
        }
        ASSERT_EQ(m.logic_inputs, c.logic_inputs);
        for (int k = 0; k < c.periodic_inputs; ++k) {
            const double hz = 50000.0 / (1 << k);
            EXPECT_NEAR(rate / m.logic[k].periodic.period_samples, hz, hz * 0.005) << "input " << k;
            EXPECT_NEAR(m.logic[k].periodic.duty_cycle, 0.5, 0.5 * 0.005) << "input " << k;
        }
        if (c.logic_inputs == 16) {
            EXPECT_EQ(m.logic[15].periodic.whole_periods, 0);  // 655 ms a period
        }
    }
}

}  // namespace
