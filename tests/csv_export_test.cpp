#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture/csv_export.h"
#include "capture/dso_structure.h"
#include "support/captured_boxes.h"
#include "support/temp_dir.h"


namespace {

#ifdef _WIN32
const std::string EOL = "\r\n";  // text mode
#else
const std::string EOL = "\n";
#endif

std::vector<std::string> export_lines(const temp_dir& dir) {
    std::string name = dir.file("out.csv");
    export_csv_file(name.c_str());
    auto bytes = read_bytes(name);
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(EOL, at);
        if (end == std::string::npos) {
            lines.push_back("UNTERMINATED:" + text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + EOL.size();
    }
    return lines;
}

class CsvExport : public ::testing::Test {
protected:
    temp_dir dir;
    void SetUp() override {
        clear_channels();
        set_capture_defaults();
    }
};

TEST_F(CsvExport, AStartUpRecordIsDualChannelAtTheZeroLevel) {
    auto lines = export_lines(dir);
    ASSERT_EQ(lines.size(), 393216u);
    for (const std::string& line : lines) ASSERT_EQ(line, "128,128");
}

TEST_F(CsvExport, DualChannelWritesBothChannelsInTheirOwnColumns) {
    dso_structure.channel_a[0] = 0;
    dso_structure.channel_b[0] = 255;
    dso_structure.channel_a[FIFO_SIZE - 1] = 9;
    dso_structure.channel_b[FIFO_SIZE - 1] = 10;
    auto lines = export_lines(dir);
    EXPECT_EQ(lines.front(), "0,255");
    EXPECT_EQ(lines.back(), "9,10");
}

TEST_F(CsvExport, SingleChannelWritesTheTraceInTimeOrder) {
    dso_structure.capture_mode = MODE_SINGLE;
    dso_structure.channel_a[0] = 1;
    dso_structure.channel_a[1] = 2;
    dso_structure.channel_b[0] = 99;
    dso_structure.channel_b[FIFO_SIZE - 1] = 100;
    auto lines = export_lines(dir);
    ASSERT_EQ(lines.size(), 786432u);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], "2");
    EXPECT_EQ(lines[FIFO_SIZE], "99");
    EXPECT_EQ(lines.back(), "100");
}

TEST_F(CsvExport, LogicModesWriteBitsMostSignificantFirst) {
    dso_structure.capture_mode = MODE_LOGIC16;
    dso_structure.sample_area[0] = 0x01;  // word 0x8001, little-endian
    dso_structure.sample_area[1] = 0x80;
    dso_structure.sample_area[2] = 0x34;  // word 0x1234
    dso_structure.sample_area[3] = 0x12;
    auto lines = export_lines(dir);
    ASSERT_EQ(lines.size(), 393216u);
    EXPECT_EQ(lines[0], "1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1");
    EXPECT_EQ(lines[1], "0,0,0,1,0,0,1,0,0,0,1,1,0,1,0,0");
    EXPECT_EQ(lines[2], "1,0,0,0,0,0,0,0,1,0,0,0,0,0,0,0");

    dso_structure.capture_mode = MODE_MIXED;
    dso_structure.channel_a[5] = 0x05;
    dso_structure.channel_b[5] = 200;
    lines = export_lines(dir);
    ASSERT_EQ(lines.size(), 393216u);
    EXPECT_EQ(lines[5], "200,0,0,0,0,0,1,0,1");
    EXPECT_EQ(lines[0], "128,0,0,0,0,0,0,0,1");  // the low byte of word 0x8001
}

// The export formats its numbers itself; every mode must give exactly what "%d" gives.
TEST_F(CsvExport, EveryModeMatchesPrintfFormattingByteForByte) {
    uint32_t seed = 12345;
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) {
        seed = seed * 1103515245u + 12345u;
        dso_structure.sample_area[n] = static_cast<uint8_t>(seed >> 16);
    }
    const dso_record& r = dso_structure;
    for (int8_t mode : {MODE_DUAL, MODE_SINGLE, MODE_LOGIC16, MODE_MIXED}) {
        dso_structure.capture_mode = mode;
        std::string expected;
        char line[128];
        int lines = mode == MODE_SINGLE ? SAMPLE_AREA_SIZE : FIFO_SIZE;
        for (int i = 0; i < lines; ++i) {
            if (mode == MODE_DUAL) {
                std::snprintf(line, sizeof line, "%d,%d", r.channel_a[i], r.channel_b[i]);
            } else if (mode == MODE_SINGLE) {
                std::snprintf(line, sizeof line, "%d", r.sample_area[i]);
            } else if (mode == MODE_LOGIC16) {
                int w = r.sample_area[2 * i] | (r.sample_area[2 * i + 1] << 8);
                std::snprintf(line, sizeof line, "%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d",
                              (w >> 15) & 1, (w >> 14) & 1, (w >> 13) & 1, (w >> 12) & 1,
                              (w >> 11) & 1, (w >> 10) & 1, (w >> 9) & 1, (w >> 8) & 1,
                              (w >> 7) & 1, (w >> 6) & 1, (w >> 5) & 1, (w >> 4) & 1,
                              (w >> 3) & 1, (w >> 2) & 1, (w >> 1) & 1, w & 1);
            } else {
                int b = r.channel_a[i];
                std::snprintf(line, sizeof line, "%d,%d,%d,%d,%d,%d,%d,%d,%d", r.channel_b[i],
                              (b >> 7) & 1, (b >> 6) & 1, (b >> 5) & 1, (b >> 4) & 1,
                              (b >> 3) & 1, (b >> 2) & 1, (b >> 1) & 1, b & 1);
            }
            expected += line;
            expected += EOL;
        }
        std::string name = dir.file("mode.csv");
        export_csv_file(name.c_str());
        auto bytes = read_bytes(name);
        ASSERT_TRUE(std::string(bytes.begin(), bytes.end()) == expected) << "mode " << int(mode);
    }
}

TEST_F(CsvExport, AnUnknownModeGivesAnEmptyFileAndNoReport) {
    captured_boxes boxes;
    dso_structure.capture_mode = 7;
    EXPECT_TRUE(export_lines(dir).empty());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(CsvExportDeathTest, AFileThatCannotBeWrittenEndsTheProgramAndKeepsTheOldOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    temp_dir dir;
    std::string folder = dir.file("taken.csv");
    std::filesystem::create_directory(folder);
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            export_csv_file(folder.c_str());
        },
        ::testing::ExitedWithCode(5), "Could Not Open File/.*In Function : save_dso_structure/Additional Info : .*taken.csv");
    EXPECT_EQ(dir.entries().size(), 1u);
#ifndef _WIN32
    // A disk that fills up half way: the export is reported, the old file stays.
    std::string name = dir.file("keep.csv");
    std::vector<unsigned char> old_bytes(3000, '1');
    write_bytes(name, old_bytes);
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            clear_channels();
            set_capture_defaults();
            limit_file_size(200000);
            export_csv_file(name.c_str());
        },
        ::testing::ExitedWithCode(5), "Could Not Write To File/.*In Function : save_dso_structure/Additional Info : .*keep.csv");
    EXPECT_TRUE(read_bytes(name) == old_bytes);
    EXPECT_EQ(dir.entries().size(), 2u);
#endif
}

}  // namespace
