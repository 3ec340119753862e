// The one model of a capture's settings: each refusal names the setting it refuses, and reads
// in each front end's words; what it takes becomes the header Start Capture stores.
#include <gtest/gtest.h>

#include "services/capture_settings.h"

namespace {

setting_refusal refused(const capture_settings& s) {
    run_settings header{};
    setting_refusal refusal;
    EXPECT_FALSE(check_capture_settings(s, header, refusal)) << "taken";
    return refusal;
}

TEST(CaptureSettings, EachRefusalNamesItsSetting) {
    capture_settings s;
    s.mode = 7;
    EXPECT_EQ(refused(s).setting, "mode");

    s = capture_settings();
    s.mode = MODE_SINGLE;
    s.rate = "1.5625MHz";  // Single Channel lists the trace rate: 100 MHz down to 3.125 MHz
    EXPECT_EQ(refused(s).setting, "rate");
    s.rate = "100MHz";
    s.trigger_source = TRIGGER_CHANNEL_B;
    EXPECT_EQ(refused(s).setting, "trigger");

    s = capture_settings();
    s.mode = MODE_MIXED;
    s.trigger_source = TRIGGER_CHANNEL_A;  // the logic inputs' pattern
    s.level_given = true;
    const setting_refusal level = refused(s);
    EXPECT_EQ(level.setting, "level");
    EXPECT_EQ(terminal_words(level), "a level belongs to an analogue trigger source (b); a logic trigger takes --pattern");
    EXPECT_EQ(page_words(level), "A logic trigger has no level: it takes a pattern");

    s.level_given = false;
    s.pattern = "1ff";  // beyond Mixed Mode's 8 inputs
    EXPECT_EQ(refused(s).setting, "pattern");
    s.pattern = "ff";
    s.edge_given = true;
    EXPECT_EQ(refused(s).text, "a pattern trigger has no edge");

    s = capture_settings();
    s.trigger_source = TRIGGER_CHANNEL_A;
    s.level = 200;
    EXPECT_EQ(page_words(refused(s)), "Level: 200 is not in -126..127");
    s.level = 0;
    s.pretrigger = MAX_PRETRIGGER + 1;
    EXPECT_EQ(refused(s).setting, "pretrigger");

    s = capture_settings();
    s.trigger_source = TRIGGER_NONE;
    s.pretrigger = 10;
    const setting_refusal none = refused(s);
    EXPECT_EQ(terminal_words(none), "a capture with --trigger none keeps no samples from before its trigger; leave "
                                    "--pretrigger at 0");
    EXPECT_EQ(page_words(none), "Pre-trigger must be 0 with no trigger");

    // A page's words name settings and choices as its form does, never an option or its value.
    s = capture_settings();
    s.mode = MODE_LOGIC16;
    s.trigger_source = TRIGGER_CHANNEL_B;
    EXPECT_EQ(page_words(refused(s)), "Channel B is no trigger in 16 Bit Logic Analyser; choose Logic inputs, External "
                                      "or None");
    s = capture_settings();
    s.mode = MODE_DUAL;
    s.rate = "100MHz";
    const std::string rate = page_words(refused(s));
    EXPECT_EQ(rate.rfind("Sample rate: 100MHz is not a rate of Dual Channel; choose one of 50MHz", 0), 0u) << rate;
    EXPECT_EQ(rate.find("index"), std::string::npos) << rate;
}

TEST(CaptureSettings, TakenSettingsBecomeTheHeader) {
    capture_settings s;
    s.mode = MODE_DUAL;
    s.rate = "12.5MHz";
    s.trigger_source = TRIGGER_CHANNEL_B;
    s.level = 40;
    s.level_given = true;
    s.edge = 1;
    s.edge_given = true;
    s.pretrigger = 1000;
    run_settings h{};
    setting_refusal refusal;
    ASSERT_TRUE(check_capture_settings(s, h, refusal)) << refusal.text;
    EXPECT_EQ(h.capture_mode, MODE_DUAL);
    EXPECT_EQ(h.sample_rate_index, 2);
    EXPECT_EQ(h.trigger_source, TRIGGER_CHANNEL_B);
    EXPECT_EQ(h.trigger_value, 167);  // level + 127, as the window stores it
    EXPECT_EQ(h.trigger_edge, 1);
    EXPECT_EQ(h.pretrigger, 1000);

    s = capture_settings();
    s.mode = MODE_LOGIC16;
    s.trigger_source = TRIGGER_CHANNEL_A;
    s.pattern = "0xBEEF";
    s.pattern_given = true;
    ASSERT_TRUE(check_capture_settings(s, h, refusal)) << refusal.text;
    EXPECT_EQ(h.trigger_value, 0xBEEF);
}

}  // namespace
