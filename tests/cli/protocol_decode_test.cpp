// Decoding through libsigrokdecode: the bounds a server sets on one decoding, how many stacks
// and filters it takes, the one escaping rule of decode's lines, and the rows under a picture
// (grouped by decoder in stack order, labels drawn whole). The annotations themselves are held
// against sigrok-cli's in tests/cli/decode_bus.sh.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "capture/dso_structure.h"
#include "services/decode_rows_cairo.h"
#include "services/protocol_decode_srd.h"

namespace {

// 16 Bit Logic at 50 MHz with UART frames of 0x55 on D0 at 5 Mbaud (ten samples a bit), one
// every 200 samples over the whole capture.
const dso_record& uart_capture() {
    static dso_record* r = [] {
        auto* record = new dso_record();
        record->capture_mode = MODE_LOGIC16;
        record->sample_rate_index = 0;
        const int32_t samples = samples_in_mode(MODE_LOGIC16);
        for (int32_t n = 0; n < samples; ++n) {
            const int32_t bit = (n % 200) / 10 - 5;  // start bit at 0, data 1..8, stop from 9
            const int level = bit < 0 || bit >= 9 ? 1 : bit == 0 ? 0 : (0x55 >> (bit - 1)) & 1;
            record->sample_area[2 * n] = static_cast<uint8_t>(level);
            record->sample_area[2 * n + 1] = 0;
        }
        return record;
    }();
    return *r;
}

const std::vector<std::string> UART = {"uart:rx=D0:baudrate=5000000"};
const int32_t LAST = samples_in_mode(MODE_LOGIC16) - 1;

uint64_t last_end(const decode_result& result) {
    uint64_t end = 0;
    for (const decoded_annotation& a : result.annotations) end = std::max(end, a.end);
    return end;
}

TEST(DecodeLimits, EachLimitKeepsWhatCameBeforeItAndStopsTheFeeding) {
    decode_result whole, cut;
    std::string message;
    ASSERT_EQ(decode_capture(uart_capture(), 0, LAST, UART, {}, whole, message), 0) << message;
    ASSERT_GT(whole.annotations.size(), 10000u);
    EXPECT_FALSE(whole.cut_short);
    EXPECT_EQ(decode_json(whole).count("cut_short"), 0u);

    decode_limits limits;
    limits.max_annotations = 1000;
    ASSERT_EQ(decode_capture(uart_capture(), 0, LAST, UART, {}, cut, message, limits), 0) << message;
    ASSERT_EQ(cut.annotations.size(), 1000u);
    EXPECT_TRUE(cut.cut_short);
    EXPECT_EQ(cut.cut_short_reason, "stopped after 1000 annotations");
    for (size_t i = 0; i < cut.annotations.size(); ++i) EXPECT_EQ(cut.annotations[i].start, whole.annotations[i].start);
    const nlohmann::ordered_json document = decode_json(cut);
    EXPECT_EQ(document["cut_short"], true);
    EXPECT_EQ(document["cut_short_reason"], "stopped after 1000 annotations");

    limits = decode_limits();
    limits.max_bytes = 64 << 10;
    ASSERT_EQ(decode_capture(uart_capture(), 0, LAST, UART, {}, cut, message, limits), 0) << message;
    EXPECT_TRUE(cut.cut_short);
    EXPECT_EQ(cut.cut_short_reason, "stopped at 64 KB of annotations and bytes");
    EXPECT_LE(decode_result_bytes(cut), limits.max_bytes);
    EXPECT_GT(decode_result_bytes(cut), limits.max_bytes - 1024);
    EXPECT_LT(last_end(cut), last_end(whole) / 2);  // the rest was not fed

    // A limit of almost no time stops after the first block of samples.
    limits = decode_limits();
    limits.max_seconds = 1e-9;
    ASSERT_EQ(decode_capture(uart_capture(), 0, LAST, UART, {}, cut, message, limits), 0) << message;
    EXPECT_TRUE(cut.cut_short);
    EXPECT_EQ(cut.cut_short_reason.rfind("stopped after 0 s, at sample ", 0), 0u) << cut.cut_short_reason;
    EXPECT_FALSE(cut.annotations.empty());
    EXPECT_LT(last_end(cut), last_end(whole) / 2);
}

TEST(DecodeLimits, TooManyStacksOrFiltersAreRefusedAsAMistake) {
    decode_result result;
    std::string message;
    const std::vector<std::string> stacks(MAX_DECODE_STACKS + 1, UART[0]);
    EXPECT_EQ(decode_capture(uart_capture(), 0, LAST, stacks, {}, result, message), 2);
    EXPECT_NE(message.find("at most 16"), std::string::npos) << message;
    std::string filters = "uart";
    for (size_t i = 0; i < MAX_DECODE_FILTERS; ++i) filters += ",uart";  // 65 items in one -A
    EXPECT_EQ(decode_capture(uart_capture(), 0, LAST, UART, {filters}, result, message), 2);
    EXPECT_NE(message.find("64 selections"), std::string::npos) << message;
    EXPECT_EQ(decode_capture(uart_capture(), 0, LAST, UART, {"uart,uart=rx-data"}, result, message), 0) << message;
}

TEST(DecodeText, OneEscapingRuleForTextsAndBytes) {
    const std::string raw = std::string("a\\b\n\r\t\x01\"\x7F") + "\xC2\xB5s";
    EXPECT_EQ(one_line_text(raw), "a\\\\b\\n\\r\\t\\x01\"\\x7F\xC2\xB5s");
    EXPECT_EQ(quoted_bytes(raw), "\"a\\\\b\\n\\r\\t\\x01\\\"\\x7F\\xC2\\xB5s\"");
}

decoded_annotation annotation(const std::string& instance, int row_index, const std::string& row_description,
                              uint64_t start) {
    decoded_annotation a;
    a.start = start;
    a.end = start + 100;
    a.instance = a.decoder = instance;
    a.class_name = "class";
    a.row = row_description;
    a.row_description = row_description;
    a.row_order = row_index;
    return a;
}

TEST(DecodeRows, GroupedByDecoderInStackOrderAndRowsInTheirDecodersOrder) {
    decode_result result;
    result.instances = {"i2c", "eeprom24xx"};
    result.annotations = {annotation("eeprom24xx", 1, "Fields", 0), annotation("i2c", 1, "Address/Data", 10),
                          annotation("eeprom24xx", 0, "Bits/bytes", 20), annotation("i2c", 0, "Bits", 30),
                          annotation("i2c", 1, "Address/Data", 40)};
    const std::vector<decode_row> rows = decode_rows(result);
    std::vector<std::string> labels;
    for (const decode_row& r : rows) labels.push_back(r.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"i2c: Bits", "i2c: Address/Data", "eeprom24xx: Bits/bytes",
                                                "eeprom24xx: Fields"}));
    ASSERT_EQ(rows[1].items.size(), 2u);
    EXPECT_EQ(rows[1].items[1]->start, 40u);
}

TEST(DecodeRows, ALabelWiderThanThePlotsMarginIsDrawnWhole) {
    decode_result result;
    result.instances = {"usb_signalling"};
    result.annotations = {annotation("usb_signalling", 0, "Signalling", 900)};
    const std::vector<decode_row> rows = decode_rows(result);
    const int32_t width = 800, x_left = 70, x_right = 790;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, decode_rows_height(rows.size()));
    cairo_t* cr = cairo_create(surface);
    draw_decode_rows(cr, rows, 0, width, x_left, x_right, sample_range{0, 1000});
    ASSERT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    // The label's width as the rows' font draws it.
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 10.0);
    cairo_text_extents_t label;
    cairo_text_extents(cr, rows[0].label.c_str(), &label);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    ASSERT_GT(label.x_advance, x_left + 20);
    // The rightmost dark pixel left of the annotation's box (at x 700 and beyond).
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    int rightmost = -1;
    for (int y = 0; y < cairo_image_surface_get_height(surface); ++y)
        for (int x = 0; x < 700; ++x) {
            const uint32_t p = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
            if (((p >> 16) & 0xFF) < 128 && ((p >> 8) & 0xFF) < 128 && (p & 0xFF) < 128) rightmost = std::max(rightmost, x);
        }
    cairo_surface_destroy(surface);
    EXPECT_GE(rightmost, static_cast<int>(label.x_advance) - 2);
}

}  // namespace
