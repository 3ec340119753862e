#include <gtest/gtest.h>

#include <string>

#include "app/text_numbers.h"

namespace {

uint32_t hex(const char* text, uint32_t untouched = 0xDEADBEEF) {
    uint32_t value = untouched;
    read_hexadecimal(text, value);
    return value;
}

TEST(TextNumbers, HexadecimalReadsLikeTheScanfConversion) {
    EXPECT_EQ(hex("3f"), 0x3Fu);
    EXPECT_EQ(hex("  0x1ff"), 0x1FFu);
    EXPECT_EQ(hex("0X1Ff tail"), 0x1FFu);
    EXPECT_EQ(hex("+12"), 0x12u);
    EXPECT_EQ(hex("-1") & 0xFF, 0xFFu);
    EXPECT_EQ(hex("12345") & 0xFFFF, 0x2345u);
    EXPECT_EQ(hex("123456789abcdef") & 0xFFFF, 0xCDEFu) << "long entries keep their low bits";
    EXPECT_EQ(hex("0xg"), 0u) << "a 0 without hex digits after its x is the number 0";
    uint32_t value = 77;
    EXPECT_FALSE(read_hexadecimal("zz", value));
    EXPECT_FALSE(read_hexadecimal("", value));
    EXPECT_FALSE(read_hexadecimal("- 5", value));
    EXPECT_EQ(value, 77u);
}

TEST(TextNumbers, DecimalReadsLeadingDigitsAndSaturates) {
    EXPECT_EQ(read_decimal("200", true), 200);
    EXPECT_EQ(read_decimal("  -200x", true), -200);
    EXPECT_EQ(read_decimal("0x1f", true), 0);
    EXPECT_EQ(read_decimal("abc", true), 0);
    EXPECT_EQ(read_decimal("", false), 0);
    EXPECT_EQ(read_decimal("-5", false), 0) << "an unsigned entry takes no sign";
    EXPECT_EQ(read_decimal("4000000000", false), 4000000000LL);
    EXPECT_EQ(read_decimal("99999999999999999999999", false), INT64_MAX);
    EXPECT_EQ(read_decimal("-99999999999999999999999", true), -INT64_MAX);
    // Entries just past what 64 bits hold, where a wrapped product would look small.
    EXPECT_EQ(read_decimal("18446744073709551620", false), INT64_MAX);
    EXPECT_EQ(read_decimal("-18446744073709551620", true), -INT64_MAX);
    EXPECT_EQ(read_decimal("19000000000000000000", false), INT64_MAX);
    EXPECT_EQ(read_decimal("9223372036854775807", false), INT64_MAX);
    EXPECT_EQ(read_decimal("9223372036854775808", false), INT64_MAX);
    EXPECT_EQ(read_decimal("922337203685477580", false), 922337203685477580LL);
}

// The entry plus 127 as 16 bits; entries saturated at the 64-bit limit wrap instead of
// overflowing (the sanitised build stops on a signed overflow).
TEST(TextNumbers, DecimalTriggerValuesAreTheEntryPlus127In16Bits) {
    EXPECT_EQ(decimal_trigger_value("200"), 327);
    EXPECT_EQ(decimal_trigger_value("-127"), 0);
    EXPECT_EQ(decimal_trigger_value("-200"), 0xFFB7);
    EXPECT_EQ(decimal_trigger_value("x"), 127);
    EXPECT_EQ(decimal_trigger_value("9223372036854775680"), 0xFFFF) << "the largest sum that fits";
    EXPECT_EQ(decimal_trigger_value("99999999999999999999"), 0x007E);
    EXPECT_EQ(decimal_trigger_value("-99999999999999999999"), 0x0080);
}

TEST(TextNumbers, FrequenciesRoundTiesAwayFromZero) {
    const double rates[] = {100, 50, 25, 12.5, 6.25, 3.125, 1.5625};
    const char* shown[] = {"100.0 MHz", "50.0 MHz", "25.0 MHz", "12.5 MHz", "6.3 MHz", "3.1 MHz", "1.6 MHz"};
    for (int i = 0; i < 7; ++i) {
        char out[24];
        format_megahertz(rates[i], out, sizeof out);
        EXPECT_STREQ(out, shown[i]);
    }
}

}  // namespace
