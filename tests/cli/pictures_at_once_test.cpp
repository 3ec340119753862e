// Pictures and exports of different captures made at once, as the server makes them for
// several pages, are the bytes each gives alone: nothing is shared between them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/dso_structure.h"
#include "services/capture_info.h"
#include "services/capture_writers.h"

namespace {

std::unique_ptr<dso_record> noise(int8_t mode, uint32_t seed) {
    auto r = std::make_unique<dso_record>();
    for (uint8_t& byte : r->sample_area) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    r->capture_mode = mode;
    r->sample_rate_index = 1;
    r->trigger_source = TRIGGER_CHANNEL_A;
    r->trigger_value = 160;
    r->pretrigger = 5000;
    return r;
}

// The PNG, the VCD and WAV exports and the measurements of one capture, with a view of its own.
std::string picture_of(const dso_record& record, int32_t first, int32_t last) {
    picture_request request;
    request.width = 640;
    request.height = 480;
    request.has_range = true;
    request.first = first;
    request.last = last;
    request.range_text = std::to_string(first) + ":" + std::to_string(last);
    output_content content;
    whole_capture(record, content);
    std::string message, bytes;
    if (prepare_picture("", record, request, content.picture, message) != 0) return message;
    std::string all;
    for (output_format format : {output_format::png, output_format::svg, output_format::vcd, output_format::wav,
                                  output_format::sr, output_format::csv}) {
        file_failure failure;
        all += write_capture_bytes(format, content, bytes, failure) ? bytes : failure.what;
    }
    return all + capture_info_json("", record, true, first, last).dump();
}

TEST(PicturesAtOnce, AreTheBytesOfEachDrawnAlone) {
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);  // a VCD's date and a session's entries carry the time
    std::vector<std::unique_ptr<dso_record>> records;
    for (int8_t mode = MODE_DUAL; mode <= MODE_MIXED; ++mode) records.push_back(noise(mode, 17u + mode));
    std::vector<std::string> alone;
    for (size_t i = 0; i < records.size(); ++i) alone.push_back(picture_of(*records[i], 1000 * int(i), 60000 + 999 * int(i)));

    // Three of each capture at once, twelve threads.
    const size_t n = records.size();
    std::vector<std::string> together(3 * n);
    std::vector<std::thread> threads;
    for (size_t k = 0; k < together.size(); ++k)
        threads.emplace_back([&, k] {
            const size_t i = k % n;
            together[k] = picture_of(*records[i], 1000 * int(i), 60000 + 999 * int(i));
        });
    for (std::thread& t : threads) t.join();
    for (size_t k = 0; k < together.size(); ++k) {
        EXPECT_GT(alone[k % n].size(), 1000u);
        EXPECT_TRUE(together[k] == alone[k % n]) << "capture " << k % n;
    }
}

}  // namespace
