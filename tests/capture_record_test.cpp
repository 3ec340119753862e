#include <gtest/gtest.h>

#include <cstring>

#include "capture/dso_structure.h"

namespace {

class CaptureRecord : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&dso_structure, 0x5A, sizeof dso_structure);
        for (int32_t i = 0; i < FIFO_SIZE; ++i) {
            dso_structure.channel_a[i] = static_cast<uint8_t>(i);
            dso_structure.channel_b[i] = static_cast<uint8_t>(i * 7 + 3);
        }
    }
};

TEST_F(CaptureRecord, ClearingTheChannelsLeavesTheHeaderAlone) {
    dso_structure.capture_mode = MODE_MIXED;
    dso_structure.pretrigger = 1234;
    clear_channels();
    EXPECT_EQ(dso_structure.capture_mode, MODE_MIXED);
    EXPECT_EQ(dso_structure.pretrigger, 1234);
    EXPECT_EQ(dso_structure.sample_rate_index, 0x5A);
    EXPECT_EQ(dso_structure.trigger_value, 0x5A5A);
    EXPECT_EQ(dso_structure.trigger_edge, 0x5A5A5A5A);
    EXPECT_EQ(dso_structure.reserved_2, 0x5A5A);
    EXPECT_EQ(dso_structure.channel_a[0], 0x80);
    EXPECT_EQ(dso_structure.channel_b[FIFO_SIZE - 1], 0x80);
}

TEST_F(CaptureRecord, StartUpValuesLeaveTheReservedFieldsAlone) {
    clear_channels();
    set_capture_defaults();
    EXPECT_EQ(dso_structure.capture_mode, MODE_DUAL);
    EXPECT_EQ(dso_structure.pretrigger, 0);
    EXPECT_EQ(dso_structure.sample_rate_index, 0);
    EXPECT_EQ(dso_structure.trigger_source, TRIGGER_EXTERNAL);
    EXPECT_EQ(dso_structure.trigger_value, 0);
    EXPECT_EQ(dso_structure.trigger_edge, 0);
    EXPECT_EQ(dso_structure.reserved_1, 0x5A);
    EXPECT_EQ(dso_structure.reserved_2, 0x5A5A);
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) ASSERT_EQ(dso_structure.sample_area[n], 0x80) << n;
    // Read as 16-bit logic words, a cleared record has inputs 7 and 15 high.
    EXPECT_EQ(dso_structure.sample_area[0] | (dso_structure.sample_area[1] << 8), 0x8080);
}

TEST_F(CaptureRecord, SwappingTwiceRestoresBothBuffers) {
    uint8_t a_before = dso_structure.channel_a[1234], b_before = dso_structure.channel_b[1234];
    swap_channels();
    EXPECT_EQ(dso_structure.channel_a[1234], b_before);
    EXPECT_EQ(dso_structure.channel_b[1234], a_before);
    EXPECT_EQ(dso_structure.channel_b[FIFO_SIZE - 1], static_cast<uint8_t>(FIFO_SIZE - 1));
    swap_channels();
    for (int32_t i = 0; i < FIFO_SIZE; ++i) {
        ASSERT_EQ(dso_structure.channel_a[i], static_cast<uint8_t>(i));
        ASSERT_EQ(dso_structure.channel_b[i], static_cast<uint8_t>(i * 7 + 3));
    }
}

TEST_F(CaptureRecord, CopiesWorkOnTheStoredBytesWhateverTheMode) {
    dso_structure.capture_mode = MODE_SINGLE;
    copy_a_to_b();
    copy_b_to_a();
    for (int32_t i = 0; i < FIFO_SIZE; ++i) {
        ASSERT_EQ(dso_structure.channel_a[i], static_cast<uint8_t>(i));
        ASSERT_EQ(dso_structure.channel_b[i], static_cast<uint8_t>(i));
    }
    // Copy B To A makes the first half of a single-channel trace equal to its second half.
    dso_structure.channel_b[77] = 0xEE;
    copy_b_to_a();
    EXPECT_EQ(dso_structure.sample_area[77], 0xEE);
    EXPECT_EQ(dso_structure.capture_mode, MODE_SINGLE);
    EXPECT_EQ(dso_structure.pretrigger, 0x5A5A5A5A);
}

}  // namespace
