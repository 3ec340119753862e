#include "app/error_handler.h"

#include "app/error_presentation.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const error_entry error_table[ERROR_TABLE_ENTRIES] = {
    {1, 10, "Unable To Allocate Memory"},
    {2, 20, "Buffer/Array Overflow"},
    {3, 20, "Invalid Linked List Node"},
    {4, 5, "Could Not Find Any Directory Enteries ( Including . And .. )"},
    {5, 5, "Could Not Change To Directory"},
    {6, 5, "Could Not Create Directory"},
    {7, 5, "Could Not Write To File"},
    {8, 5, "Could Not Read From File"},
    {9, 5, "Could Not Open File"},
    {10, 10, "Parallel Port NOT Bi-Directional"},
    {11, 1, "Not In Valid Range"},
    {12, 10, "Unable To Create Thread"},
    {13, 10, "Windows Error"},
    {14, 1, "\"Start_Point\" Not Valid, Check Cable"},
    {15, 1, "Offset Correct Can Only Be Used In Single Channel Mode"},
};

const char contact_address[] = "support@korvane.example.org";
const char ERROR_CAPTION_WARNING[] = "Error";
const char ERROR_CAPTION_FATAL[] = "Fatal Error - Program Halted";

namespace {

const char INFORMATION_BLOCK[] =
    "Error Infomation:-\n"
    "              Error : %s\n"
    "    Error Level : %d\n"
    "    In Function : %s\n"
    "Additional Info : %s";

const char UNIDENTIFIED_CODE[] =
    "The Error Handler Was Unable To Identify The Error Code\n"
    "\n"
    "Error Infomation:-\n"
    "     Error Code : %d\n"
    "    In Function : %s\n"
    "Additional Info : %s";

const char APPEAL[] =
    "\n\nPlease Inform the Author At:-\n"
    "       %s\n"
    "Giving Him A Copy Of Your Prefs File And The Circumstances Of The Error\n"
    "Also Inculde The Name And Version Of The Program, And The Above Infomation\n"
    "Thank You For Your Help\n\n";

// Function names are literals of the reporters; this cap only guards against misuse.
constexpr std::size_t FUNCTION_NAME_ROOM = 200;
const char ELLIPSIS[] = "...";

// Copies text into buf, shortened to at most room characters by keeping its end behind
// "..." (the end of a path names the file). Returns the text to use.
const char* shorten(const char* text, std::size_t room, char (&buf)[ERROR_MESSAGE_SIZE]) {
    std::size_t length = std::strlen(text);
    if (length <= room) return text;
    std::size_t keep = room > 3 ? room - 3 : 0;
    std::memcpy(buf, ELLIPSIS, 3);
    std::memcpy(buf + 3, text + (length - keep), keep);
    buf[3 + keep] = '\0';
    return buf;
}

const error_entry* find_entry(int32_t code) {
    for (const error_entry& entry : error_table)
        if (entry.code == code) return &entry;
    return nullptr;
}

}  // namespace

int32_t compose_error_message(int32_t code, const char* function_name,
                              const char* additional_info, char (&out)[ERROR_MESSAGE_SIZE]) {
    if (function_name == nullptr) function_name = "";
    if (additional_info == nullptr) additional_info = "";

    const error_entry* entry = find_entry(code);
    int32_t level = entry ? entry->level : 20;
    if (entry && level < 5) {
        std::snprintf(out, sizeof out, "%s", entry->text);
        return level;
    }

    char function_buf[ERROR_MESSAGE_SIZE];
    char info_buf[ERROR_MESSAGE_SIZE];
    const char* function_shown = shorten(function_name, FUNCTION_NAME_ROOM, function_buf);

    // Length of everything but the additional information, to know how much of it fits.
    int fixed = entry ? std::snprintf(nullptr, 0, INFORMATION_BLOCK, entry->text, level,
                                      function_shown, "")
                      : std::snprintf(nullptr, 0, UNIDENTIFIED_CODE, code, function_shown, "");
    if (level >= 20) fixed += std::snprintf(nullptr, 0, APPEAL, contact_address);
    std::size_t room = ERROR_MESSAGE_SIZE - 1 > static_cast<std::size_t>(fixed)
                           ? ERROR_MESSAGE_SIZE - 1 - static_cast<std::size_t>(fixed)
                           : 0;
    const char* info_shown = shorten(additional_info, room, info_buf);

    int length = entry ? std::snprintf(out, sizeof out, INFORMATION_BLOCK, entry->text, level,
                                       function_shown, info_shown)
                       : std::snprintf(out, sizeof out, UNIDENTIFIED_CODE, code, function_shown,
                                       info_shown);
    if (level >= 20 && length >= 0 && static_cast<std::size_t>(length) < sizeof out)
        std::snprintf(out + length, sizeof out - static_cast<std::size_t>(length), APPEAL,
                      contact_address);
    return level;
}

void error_handler(int32_t code, const char* function_name, const char* additional_info) {
    char message[ERROR_MESSAGE_SIZE];
    int32_t level = compose_error_message(code, function_name, additional_info, message);
    error_presentation& presentation = current_error_presentation();
    const char* function_shown = function_name != nullptr ? function_name : "";
    const char* info_shown = additional_info != nullptr ? additional_info : "";
    if (level < 5) {
        presentation.show_report(code, level, function_shown, info_shown, ERROR_CAPTION_WARNING, message,
                                 box_icon::warning);
        return;
    }
    presentation.show_report(code, level, function_shown, info_shown, ERROR_CAPTION_FATAL, message, box_icon::error);
    if (level > 10) std::exit(level);
    quit_program(level);
}
