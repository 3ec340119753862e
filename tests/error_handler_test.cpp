#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/error_handler.h"
#include "support/captured_boxes.h"
#include "support/temp_dir.h"

namespace {

std::string compose(int32_t code, const char* function_name, const char* info, int32_t* level = nullptr) {
    char out[ERROR_MESSAGE_SIZE];
    int32_t l = compose_error_message(code, function_name, info, out);
    if (level) *level = l;
    return out;
}

const std::string APPEAL_TEXT = std::string("\n\nPlease Inform the Author At:-\n       ") + contact_address +
                                "\nGiving Him A Copy Of Your Prefs File And The Circumstances Of The Error\n"
                                "Also Inculde The Name And Version Of The Program, And The Above Infomation\n"
                                "Thank You For Your Help\n\n";

TEST(ErrorTable, HoldsTheFifteenEntriesInSearchOrder) {
    const int codes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const int levels[] = {10, 20, 20, 5, 5, 5, 5, 5, 5, 10, 1, 10, 10, 1, 1};
    for (int i = 0; i < ERROR_TABLE_ENTRIES; ++i) {
        EXPECT_EQ(error_table[i].code, codes[i]);
        EXPECT_EQ(error_table[i].level, levels[i]) << "code " << codes[i];
    }
    // The texts users see, spelling included.
    const char* texts[] = {"Unable To Allocate Memory",
                           "Buffer/Array Overflow",
                           "Invalid Linked List Node",
                           "Could Not Find Any Directory Enteries ( Including . And .. )",
                           "Could Not Change To Directory",
                           "Could Not Create Directory",
                           "Could Not Write To File",
                           "Could Not Read From File",
                           "Could Not Open File",
                           "Parallel Port NOT Bi-Directional",
                           "Not In Valid Range",
                           "Unable To Create Thread",
                           "Windows Error",
                           "\"Start_Point\" Not Valid, Check Cable",
                           "Offset Correct Can Only Be Used In Single Channel Mode"};
    for (int i = 0; i < ERROR_TABLE_ENTRIES; ++i) EXPECT_STREQ(error_table[i].text, texts[i]) << "code " << codes[i];
}

TEST(ErrorMessage, WarningsShowTheEntryTextAlone) {
    int32_t level = 0;
    EXPECT_EQ(compose(11, "view_range_message_handler", "ignored", &level), "Not In Valid Range");
    EXPECT_EQ(level, 1);
    EXPECT_EQ(compose(14, "get_dso_data", ""), "\"Start_Point\" Not Valid, Check Cable");
    EXPECT_EQ(compose(15, "main_window_message_handler", ""),
              "Offset Correct Can Only Be Used In Single Channel Mode");
}

TEST(ErrorMessage, FatalEntriesShowTheInformationBlockWithoutAppeal) {
    int32_t level = 0;
    EXPECT_EQ(compose(9, "load_dso_structure", "C:\\captures\\one.dso", &level),
              "Error Infomation:-\n"
              "              Error : Could Not Open File\n"
              "    Error Level : 5\n"
              "    In Function : load_dso_structure\n"
              "Additional Info : C:\\captures\\one.dso");
    EXPECT_EQ(level, 5);
    std::string port = compose(10, "Main", "", &level);
    EXPECT_EQ(level, 10);
    EXPECT_EQ(port.substr(port.size() - 18), "Additional Info : ");
}

TEST(ErrorMessage, LevelTwentyAppendsTheAppeal) {
    int32_t level = 0;
    EXPECT_EQ(compose(2, "fill", "x", &level),
              "Error Infomation:-\n"
              "              Error : Buffer/Array Overflow\n"
              "    Error Level : 20\n"
              "    In Function : fill\n"
              "Additional Info : x" + APPEAL_TEXT);
    EXPECT_EQ(level, 20);
}

TEST(ErrorMessage, UnknownCodesUseTheirOwnLayoutAtLevelTwenty) {
    for (int32_t code : {0, 16, -1}) {
        int32_t level = 0;
        EXPECT_EQ(compose(code, "somewhere", "more", &level),
                  "The Error Handler Was Unable To Identify The Error Code\n"
                  "\n"
                  "Error Infomation:-\n"
                  "     Error Code : " + std::to_string(code) + "\n"
                  "    In Function : somewhere\n"
                  "Additional Info : more" + APPEAL_TEXT);
        EXPECT_EQ(level, 20);
    }
}

TEST(ErrorMessage, NeverOverrunsItsBufferAndKeepsTheEndOfALongName) {
    std::string name = "C:\\" + std::string(5000, 'd') + "\\capture.dso";
    std::string long_function(3000, 'f');
    for (int32_t code : {9, 2, 99}) {
        char out[ERROR_MESSAGE_SIZE + 16];
        std::memset(out, 'Z', sizeof out);
        compose_error_message(code, long_function.c_str(), name.c_str(),
                              *reinterpret_cast<char(*)[ERROR_MESSAGE_SIZE]>(out));
        std::string message(out);
        EXPECT_LE(message.size(), ERROR_MESSAGE_SIZE - 1);
        EXPECT_EQ(out[ERROR_MESSAGE_SIZE], 'Z') << "wrote past the buffer";
        std::string block = message;
        if (code != 9) {
            ASSERT_EQ(message.substr(message.size() - APPEAL_TEXT.size()), APPEAL_TEXT);
            block = message.substr(0, message.size() - APPEAL_TEXT.size());
        }
        EXPECT_NE(block.find("In Function : ...fff"), std::string::npos) << message;
        EXPECT_NE(block.find("Additional Info : ...ddd"), std::string::npos) << message;
        EXPECT_EQ(block.substr(block.size() - 12), "\\capture.dso") << message;
    }
}

TEST(ErrorHandler, WarningShowsAnErrorBoxAndReturns) {
    captured_boxes boxes;
    error_handler(11, "view_range_message_handler", "");
    error_handler(14, "get_dso_data", "");
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "Not In Valid Range");
    EXPECT_EQ(boxes.boxes[0].icon, box_icon::warning);
    EXPECT_EQ(boxes.boxes[1].text, "\"Start_Point\" Not Valid, Check Cable");
    EXPECT_EQ(boxes.quit_posts, 0);
}

using ErrorHandlerDeathTest = ::testing::Test;

TEST_F(ErrorHandlerDeathTest, FatalLevelsEndTheProcessWithTheLevel) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using ::testing::HasSubstr;
    using ::testing::Not;
    // Levels 5 to 10 end through quit_program, which posts the quit message first.
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            error_handler(9, "load_dso_structure", "capture.dso");
        },
        ::testing::ExitedWithCode(5),
        ::testing::AllOf(::testing::ContainsRegex("\\[Fatal Error - Program Halted\\] Error Infomation:-/ *Error : "
                                                  "Could Not Open File/.*Additional Info : capture.dso"),
                         HasSubstr("[quit posted]")));
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            error_handler(10, "Main", "");
        },
        ::testing::ExitedWithCode(10),
        ::testing::AllOf(HasSubstr("Parallel Port NOT Bi-Directional"), HasSubstr("[quit posted]")));
    // Above 10 the process ends at once.
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            error_handler(3, "walk", "");
        },
        ::testing::ExitedWithCode(20),
        ::testing::AllOf(HasSubstr("Invalid Linked List Node"), HasSubstr("Please Inform the Author"),
                         Not(HasSubstr("quit posted"))));
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            error_handler(-1, "walk", "");
        },
        ::testing::ExitedWithCode(20),
        ::testing::AllOf(HasSubstr("Unable To Identify The Error Code"), HasSubstr("Error Code : -1"),
                         Not(HasSubstr("quit posted"))));
}

TEST_F(ErrorHandlerDeathTest, QuitProgramPostsTheQuitAndWritesOutOpenStreams) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using ::testing::HasSubstr;
    temp_dir dir;
    std::string name = dir.file("pending.txt");
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            std::FILE* f = std::fopen(name.c_str(), "w");
            static char buffer[4096];
            std::setvbuf(f, buffer, _IOFBF, sizeof buffer);
            std::fputs("still buffered", f);
            quit_program(7);
        },
        ::testing::ExitedWithCode(7), HasSubstr("[quit posted]"));
    auto bytes = read_bytes(name);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "still buffered");
}

}  // namespace
