#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture/dso_file.h"
#include "capture/dso_structure.h"
#include "support/captured_boxes.h"
#include "support/temp_dir.h"


namespace {

void fill_record() {
    dso_structure.pretrigger = 0x12345;
    dso_structure.trigger_source = TRIGGER_CHANNEL_B;
    dso_structure.reserved_1 = 0xA5;
    dso_structure.trigger_value = 0xBEEF;
    dso_structure.trigger_edge = 1;
    dso_structure.sample_rate_index = -1;
    dso_structure.capture_mode = MODE_MIXED;
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n)
        dso_structure.sample_area[n] = static_cast<uint8_t>(n * 31 + (n >> 9));
    dso_structure.reserved_2 = 0x5AC3;
}

std::vector<unsigned char> record_bytes() {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&dso_structure);
    return std::vector<unsigned char>(p, p + DSO_IMAGE_SIZE);
}

TEST(DsoFile, SavesTheRecordImageFieldByFieldLittleEndian) {
    temp_dir dir;
    fill_record();
    std::string name = dir.file("capture.dso");
    save_dso_structure(name.c_str());
    auto bytes = read_bytes(name);
    ASSERT_EQ(bytes.size(), 786448u);
    const std::vector<unsigned char> header = {0x45, 0x23, 0x01, 0x00, 0x02, 0xA5, 0xEF, 0xBE,
                                               0x01, 0x00, 0x00, 0x00, 0xFF, 0x03};
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 14), header);
    EXPECT_EQ(bytes[14], dso_structure.channel_a[0]);
    EXPECT_EQ(bytes[0x6000E], dso_structure.channel_b[0]);
    EXPECT_EQ(bytes[0xC000D], dso_structure.channel_b[FIFO_SIZE - 1]);
    EXPECT_EQ(bytes[0xC000E], 0xC3);
    EXPECT_EQ(bytes[0xC000F], 0x5A);
    EXPECT_EQ(dir.entries().size(), 1u) << "no temporary file is left behind";
}

TEST(DsoFile, LoadingASavedFileRestoresEveryByteIncludingReservedOnes) {
    temp_dir dir;
    fill_record();
    auto saved = record_bytes();
    std::string name = dir.file("round.dso");
    save_dso_structure(name.c_str());
    std::memset(&dso_structure, 0, sizeof dso_structure);
    load_dso_structure(name.c_str());
    EXPECT_TRUE(record_bytes() == saved);
    std::string again = dir.file("again.dso");
    save_dso_structure(again.c_str());
    EXPECT_TRUE(read_bytes(again) == saved);
}

TEST(DsoFile, SavingOverALargerFileLeavesExactlyTheImage) {
    temp_dir dir;
    std::string name = dir.file("big.dso");
    write_bytes(name, std::vector<unsigned char>(2000000, 0x11));
    fill_record();
    save_dso_structure(name.c_str());
    EXPECT_TRUE(read_bytes(name) == record_bytes());
}

TEST(DsoFile, ALongerFileLoadsItsFirstImageAndAnyModeIsAccepted) {
    temp_dir dir;
    std::vector<unsigned char> bytes(DSO_IMAGE_SIZE + 1000, 0x33);
    bytes[13] = 7;  // a capture mode this program does not know
    std::string name = dir.file("long.dso");
    write_bytes(name, bytes);
    captured_boxes boxes;
    load_dso_structure(name.c_str());
    EXPECT_EQ(dso_structure.capture_mode, 7);
    EXPECT_EQ(dso_structure.reserved_2, 0x3333);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(DsoFileDeathTest, AShortOrMissingFileEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    temp_dir dir;
    std::string short_name = dir.file("short.dso");
    write_bytes(short_name, std::vector<unsigned char>(DSO_IMAGE_SIZE - 1, 0));
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            load_dso_structure(short_name.c_str());
        },
        ::testing::ExitedWithCode(5),
        "Could Not Read From File/    Error Level : 5/    In Function : load_dso_structure/Additional Info : -?" RE_DIGIT);
    std::string missing = dir.file("missing.dso");
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            load_dso_structure(missing.c_str());
        },
        ::testing::ExitedWithCode(5), "Could Not Open File/.*In Function : load_dso_structure/Additional Info : .*missing.dso");
}

TEST(DsoFileDeathTest, AFailedSaveKeepsTheOldFileAndLeavesNoTemporaryFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    temp_dir dir;
    // A folder of that name cannot be replaced by the new file.
    std::string folder = dir.file("taken.dso");
    std::filesystem::create_directory(folder);
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            save_dso_structure(folder.c_str());
        },
        ::testing::ExitedWithCode(5), "Could Not Open File/.*In Function : save_dso_structure/Additional Info : .*taken.dso");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(dir.entries().size(), 1u);
    std::string nowhere = dir.file("no-such-folder") + "/x.dso";
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            save_dso_structure(nowhere.c_str());
        },
        ::testing::ExitedWithCode(5), "Could Not Open File");
}

#ifndef _WIN32
// A full disk: the file-size limit makes the write come up short.
TEST(DsoFileDeathTest, AWriteThatComesUpShortKeepsTheOldFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    temp_dir dir;
    std::string name = dir.file("keep.dso");
    std::vector<unsigned char> old_bytes(5000, 0x77);
    write_bytes(name, old_bytes);
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            limit_file_size(100000);
            save_dso_structure(name.c_str());
        },
        ::testing::ExitedWithCode(5), "Could Not Write To File/.*In Function : save_dso_structure/Additional Info : .*keep.dso");
    EXPECT_TRUE(read_bytes(name) == old_bytes);
    EXPECT_EQ(dir.entries().size(), 1u);
}
#endif

}  // namespace
