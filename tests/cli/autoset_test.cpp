// Autoset's choice from a capture: the stronger channel, a rate that shows a few periods over
// the whole capture, the trigger at the middle of the signal; a flat capture gives nothing, and
// a signal too slow for the fast capture asks for the slow one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "analysis/autoset.h"

namespace {

// A Dual Channel record at the rate of the index with a square wave of that frequency and
// those codes on a channel, and the other flat at the zero level.
std::unique_ptr<dso_record> square(int8_t rate_index, char channel, double hz, uint8_t low, uint8_t high) {
    auto r = std::make_unique<dso_record>();
    std::memset(r->sample_area, ZERO_LEVEL, sizeof r->sample_area);
    const run_settings probe = autoset_probe(rate_index);
    r->capture_mode = probe.capture_mode;
    r->sample_rate_index = probe.sample_rate_index;
    r->trigger_source = probe.trigger_source;
    uint8_t* codes = channel == 'A' ? r->channel_a : r->channel_b;
    const double rate = sample_rate_hz(MODE_DUAL, rate_index);
    for (int32_t k = 0; k < FIFO_SIZE; ++k) codes[k] = std::fmod(k * hz / rate, 1.0) < 0.5 ? high : low;
    return r;
}

TEST(Autoset, ProposesRateLevelAndTriggerOfTheStrongerChannel) {
    autoset_finding found;
    run_settings proposal{};
    // 2 kHz on B: the fast capture (7.9 ms) shows 15.7 periods, 25 MHz 31: the fastest rate is nearest 4.
    auto r = square(0, 'B', 2000, 60, 200);
    std::memset(r->channel_a, 0x90, 1000);  // a little step on A, weaker
    ASSERT_EQ(autoset_from_capture(*r, 0, found, proposal), autoset_step::proposed);
    EXPECT_EQ(found.channel, 'B');
    EXPECT_NEAR(found.frequency_hz, 2000, 1);
    EXPECT_EQ(found.middle, 130);
    EXPECT_EQ(proposal.trigger_source, TRIGGER_CHANNEL_B);
    EXPECT_EQ(proposal.trigger_value, 130);  // the middle's code, as the header stores a level
    EXPECT_EQ(proposal.sample_rate_index, 0);
    EXPECT_EQ(proposal.pretrigger, FIFO_SIZE / 4);

    // 60 Hz: 0.47 periods at the fast rate (flat there); at the slowest (251.7 ms) 15.1, at
    // 6.25 MHz 3.8. 200 Hz: an edge or two at the fast rate, not two whole periods.
    r = square(0, 'A', 60, 10, 250);
    EXPECT_EQ(autoset_from_capture(*r, 0, found, proposal), autoset_step::slower);
    r = square(0, 'A', 200, 10, 250);
    EXPECT_EQ(autoset_from_capture(*r, 0, found, proposal), autoset_step::slower);
    r = square(5, 'A', 60, 10, 250);
    ASSERT_EQ(autoset_from_capture(*r, 'A', found, proposal), autoset_step::proposed);
    EXPECT_NEAR(found.frequency_hz, 60, 0.1);
    EXPECT_EQ(proposal.sample_rate_index, 3);
    EXPECT_EQ(proposal.trigger_source, TRIGGER_CHANNEL_A);

    // Asked for the flat channel, or a capture with no signal: nothing to set up on.
    EXPECT_EQ(autoset_from_capture(*r, 'B', found, proposal), autoset_step::no_signal);
    EXPECT_EQ(found.channel, 0);
    r = square(5, 'A', 1, 120, 130);  // 10 codes: noise, not a signal
    EXPECT_EQ(autoset_from_capture(*r, 0, found, proposal), autoset_step::no_signal);
}

}  // namespace
