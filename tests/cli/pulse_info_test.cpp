// The pulse figures in the measurements' JSON of a crafted capture: times in seconds within a
// sample period, levels in the channel's unit, and null with a reason where a figure cannot be
// had.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "services/capture_info.h"

TEST(PulseInfo, CraftedEdgesInSecondsAndAFlatChannelSaysWhy) {
    auto r = std::make_unique<dso_record>();
    std::memset(r.get(), 0, sizeof(dso_record));
    r->capture_mode = MODE_DUAL;
    r->sample_rate_index = 2;  // 12.5 MHz: 80 ns a sample
    r->trigger_source = TRIGGER_NONE;
    // A: ramps of 37 samples between codes 30 and 230, every 1000 samples; B: a flat line.
    const int32_t samples = samples_in_mode(MODE_DUAL);
    for (int32_t k = 0; k < samples; ++k) {
        const int32_t t = k % 2000;
        double v = t < 500 ? 30 : t < 537 ? 30 + 200.0 * (t - 500) / 37 : t < 1500 ? 230 : t < 1537 ? 230 - 200.0 * (t - 1500) / 37 : 30;
        r->channel_a[k] = static_cast<uint8_t>(std::lround(v));
        r->channel_b[k] = 0x80;
    }
    channel_settings channels = default_channel_settings();
    channels.analogue[0].volts_per_code = 0.01;
    channels.analogue[0].probe = 10;
    const auto j = capture_info_json("crafted", *r, false, 0, 0, &channels);
    const auto& a = j["analogue"][0]["pulse"];
    const double period = 80e-9;
    EXPECT_NEAR(a["rise_time_s"].get<double>(), 0.8 * 37 * period, period);
    EXPECT_NEAR(a["fall_time_s"].get<double>(), 0.8 * 37 * period, period);
    EXPECT_NEAR(a["positive_width_s"].get<double>(), (1000 + 0) * period, period);
    EXPECT_EQ(a["unit"], "V");
    EXPECT_NEAR(a["top"].get<double>(), (230 - 128) * 0.1, 1e-9);
    EXPECT_NEAR(a["amplitude"].get<double>(), 20.0, 1e-9);
    EXPECT_NEAR(a["rise_slew_per_s"].get<double>(), 0.8 * 20.0 / a["rise_time_s"].get<double>(), 1e-3);
    EXPECT_TRUE(a["missing"].empty());

    const auto& b = j["analogue"][1]["pulse"];
    EXPECT_EQ(b["unit"], "codes");
    for (const char* figure : {"top", "amplitude", "rise_time_s", "negative_width_s", "fall_slew_per_s"}) {
        EXPECT_TRUE(b[figure].is_null()) << figure;
        EXPECT_NE(b["missing"][figure].get<std::string>().find("flat"), std::string::npos) << figure;
    }
}
