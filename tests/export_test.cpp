// The channels an export names, its stretch of samples, and the value changes of a VCD.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "capture/capture_channels.h"
#include "capture/dso_structure.h"
#include "capture/vcd_export.h"

namespace {

TEST(ExportRange, TheViewRangeRulesOverTheModesSamples) {
    int32_t first = -1, last = -1;
    ASSERT_TRUE(export_range(MODE_DUAL, -5, 10, first, last));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 10);
    ASSERT_TRUE(export_range(MODE_DUAL, 10, 999999, first, last));
    EXPECT_EQ(last, 0x5FFFF);
    ASSERT_TRUE(export_range(MODE_SINGLE, 10, 999999, first, last));
    EXPECT_EQ(last, 0xBFFFF);
    EXPECT_FALSE(export_range(MODE_DUAL, 5, 5, first, last));
    EXPECT_FALSE(export_range(MODE_DUAL, 7, 3, first, last));
    EXPECT_FALSE(export_range(MODE_DUAL, 0x5FFFF, 999999, first, last));  // one sample left
    EXPECT_FALSE(export_range(7, 0, 10, first, last));
}

TEST(ExportChannels, NamedByTheModeAndPickedInItsOrder) {
    static dso_record r;
    r.capture_mode = MODE_LOGIC16;
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    int count = capture_channels(r, channels);
    ASSERT_EQ(count, 16);
    r.sample_area[2 * 5 + 1] = 0x04;  // word 5: input 10 high
    EXPECT_TRUE(channels[10].high(5));
    EXPECT_FALSE(channels[2].high(5));

    char message[200];
    ASSERT_TRUE(select_channels("d10,D2", channels, count, message, sizeof message));
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(channels[0].name, "D2");
    EXPECT_STREQ(channels[1].name, "D10");

    r.capture_mode = MODE_MIXED;
    count = capture_channels(r, channels);
    EXPECT_EQ(count, 9);
    EXPECT_FALSE(select_channels("B,A", channels, count, message, sizeof message));
    EXPECT_NE(std::strstr(message, "'A' is not a channel"), nullptr) << message;
    EXPECT_NE(std::strstr(message, "D0,D1,D2,D3,D4,D5,D6,D7,B"), nullptr) << message;
    EXPECT_FALSE(select_channels("B,", channels, count, message, sizeof message));

    // In the list's order (a wav file's channels), where a channel named twice is refused.
    r.capture_mode = MODE_DUAL;
    count = capture_channels(r, channels);
    ASSERT_TRUE(select_channels("b,A", channels, count, message, sizeof message, true));
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(channels[0].name, "B");
    EXPECT_STREQ(channels[1].name, "A");
    count = capture_channels(r, channels);
    EXPECT_FALSE(select_channels("A,B,a", channels, count, message, sizeof message, true));
    EXPECT_NE(std::strstr(message, "A is named twice"), nullptr) << message;
}

// Mixed Mode at 12.5 MHz: 80 ns a sample, 8 units of 10 ns.
TEST(VcdExport, ValuesOnlyWhereTheyChangeAndTheEndOneSamplePastTheLast) {
    static dso_record r;
    r.capture_mode = MODE_MIXED;
    r.sample_rate_index = 2;
    r.pretrigger = 2;
    const uint8_t logic[] = {0x01, 0x01, 0x03, 0x02};
    const uint8_t analogue[] = {0x80, 0x7F, 0x7F, 0x90};
    std::memcpy(r.channel_a + 10, logic, 4);
    std::memcpy(r.channel_b + 10, analogue, 4);
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    int count = capture_channels(r, channels);
    char message[100];
    ASSERT_TRUE(select_channels("D0,D1,B", channels, count, message, sizeof message));

    char text[2048] = {};
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(write_vcd(out, r, channels, count, 10, 13, "today"));
    std::rewind(out);
    EXPECT_GT(std::fread(text, 1, sizeof text - 1, out), 0u);
    std::fclose(out);
    const std::string vcd(text);
    EXPECT_NE(vcd.find("$var wire 1 ! D0 $end\n$var wire 1 \" D1 $end\n$var real 64 # B $end\n"), std::string::npos);
    EXPECT_EQ(vcd.find("trigger"), std::string::npos);  // sample 2 lies outside the stretch
    const std::string body = vcd.substr(vcd.find("$enddefinitions $end\n") + 21);
    EXPECT_EQ(body, "#0\n$dumpvars\n1!\n0\"\nr0 #\n$end\n#8\nr-1 #\n#16\n1\"\n#24\n0!\nr16 #\n#32\n");
}

}  // namespace
