#include <gtest/gtest.h>

#include <cstdint>

#include "capture/dso_structure.h"
#include "diagnostics/offset_correct.h"

namespace {

// Fills the single-channel trace with the pair (even, odd) everywhere.
void fill_pairs(uint8_t even, uint8_t odd) {
    dso_structure.capture_mode = MODE_SINGLE;
    for (int32_t k = 0; k < FIFO_SIZE; ++k) {
        dso_structure.sample_area[2 * k] = even;
        dso_structure.sample_area[2 * k + 1] = odd;
    }
}

// Sets the first `count` pairs to (even, odd).
void set_pairs(int32_t count, uint8_t even, uint8_t odd) {
    for (int32_t k = 0; k < count; ++k) {
        dso_structure.sample_area[2 * k] = even;
        dso_structure.sample_area[2 * k + 1] = odd;
    }
}

TEST(OffsetCorrect, ShiftsTheEvenSamplesByTheMeanDifference) {
    fill_pairs(100, 102);
    EXPECT_EQ(offset_correct(), 0);
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) ASSERT_EQ(dso_structure.sample_area[n], 102) << n;
}

TEST(OffsetCorrect, TruncatesTheDifferenceTowardZero) {
    // Nine pairs in ten differ by 2, one by 1 ... mean 1.9 over the first 10 pairs; the rest
    // of the trace is made not to count (an odd sample at the end of the range).
    fill_pairs(100, 255);
    set_pairs(10, 100, 102);
    dso_structure.sample_area[1] = 101;
    EXPECT_EQ(offset_correct(), 0);
    EXPECT_EQ(dso_structure.sample_area[0], 101);  // +1, not +2
    EXPECT_EQ(dso_structure.sample_area[2], 101);
    EXPECT_EQ(dso_structure.sample_area[20], 100) << "pairs with a sample at 255 never change";

    fill_pairs(100, 255);
    set_pairs(10, 102, 100);
    dso_structure.sample_area[1] = 101;  // mean difference -1.9
    offset_correct();
    EXPECT_EQ(dso_structure.sample_area[0], 101);
    EXPECT_EQ(dso_structure.sample_area[2], 101);

    fill_pairs(100, 255);
    set_pairs(10, 100, 100);
    dso_structure.sample_area[1] = 93;  // mean difference -0.7
    offset_correct();
    EXPECT_EQ(dso_structure.sample_area[0], 100);
}

TEST(OffsetCorrect, LeavesSamplesThatWouldLeaveTheRange) {
    fill_pairs(0, 255);  // none of these count
    set_pairs(10, 1, 4);
    dso_structure.sample_area[20] = 254;
    dso_structure.sample_area[21] = 254;
    // (1,4) x10 and (254,254): mean difference 30/11 = 2.7, correction +2.
    offset_correct();
    EXPECT_EQ(dso_structure.sample_area[0], 3);
    EXPECT_EQ(dso_structure.sample_area[20], 254) << "254 + 2 leaves the range and stays";

    fill_pairs(0, 255);
    set_pairs(8, 7, 3);
    dso_structure.sample_area[16] = 3;  // (3,1)
    dso_structure.sample_area[17] = 1;
    dso_structure.sample_area[18] = 1;  // (1,1)
    dso_structure.sample_area[19] = 1;
    // Mean difference (-32 - 2 + 0) / 10 = -3.4, correction -3.
    offset_correct();
    EXPECT_EQ(dso_structure.sample_area[0], 4);
    EXPECT_EQ(dso_structure.sample_area[16], 0) << "3 - 3 is still in range";
    EXPECT_EQ(dso_structure.sample_area[18], 1) << "1 - 3 leaves the range and stays";
    EXPECT_EQ(dso_structure.sample_area[1], 3) << "odd samples never change";
}

TEST(OffsetCorrect, APairCountsOnlyWithBothSamplesInsideTheRange) {
    // Every pair except the first ten has one sample at an end of the range, on either side;
    // counted, they would pull the mean difference far from the first ten's +4.
    fill_pairs(255, 120);
    set_pairs(10, 50, 54);
    for (int32_t k = 10; k < FIFO_SIZE; k += 3) {
        dso_structure.sample_area[2 * k] = 120;      // (120, 0)
        dso_structure.sample_area[2 * k + 1] = 0;
    }
    for (int32_t k = 11; k < FIFO_SIZE; k += 3) {
        dso_structure.sample_area[2 * k] = 0;        // (0, 120)
        dso_structure.sample_area[2 * k + 1] = 120;
    }
    offset_correct();
    EXPECT_EQ(dso_structure.sample_area[0], 54);
    EXPECT_EQ(dso_structure.sample_area[2 * 10], 120) << "(120, 0) does not change";
    EXPECT_EQ(dso_structure.sample_area[2 * 11], 0) << "(0, 120) does not change";
    EXPECT_EQ(dso_structure.sample_area[2 * 12], 255) << "(255, 120) does not change";
}

TEST(OffsetCorrect, DividesEachMeanOutBeforeSubtracting) {
    // (1,2), (2,3), (2,3): 8/3 - 5/3 is 0.9999999999999998 in double precision, correction 0;
    // (8 - 5) / 3 would be exactly 1.
    fill_pairs(0, 255);
    set_pairs(3, 2, 3);
    dso_structure.sample_area[0] = 1;
    dso_structure.sample_area[1] = 2;
    offset_correct();
    EXPECT_EQ(dso_structure.sample_area[0], 1);
    EXPECT_EQ(dso_structure.sample_area[2], 2);
}

TEST(OffsetCorrect, ALevelTraceAndOtherModesChangeNothing) {
    clear_channels();
    dso_structure.capture_mode = MODE_SINGLE;
    EXPECT_EQ(offset_correct(), 0);
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) ASSERT_EQ(dso_structure.sample_area[n], 0x80);

    for (int8_t mode : {MODE_DUAL, MODE_LOGIC16, MODE_MIXED, int8_t(7)}) {
        fill_pairs(100, 102);
        dso_structure.capture_mode = mode;
        EXPECT_EQ(offset_correct(), 1);
        EXPECT_EQ(dso_structure.sample_area[0], 100);
    }
}

TEST(OffsetCorrect, AFarOffConverterIsCorrectedByAtMost127) {
    fill_pairs(10, 200);  // difference 190 does not fit a signed byte
    offset_correct();
    EXPECT_EQ(dso_structure.sample_area[0], 137);
    EXPECT_EQ(dso_structure.sample_area[1], 200);
    fill_pairs(240, 20);  // -220
    offset_correct();
    EXPECT_EQ(dso_structure.sample_area[0], 113);
}

}  // namespace
