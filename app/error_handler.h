// The one error-reporting routine of the program, its table of codes, and the orderly end
// of the process.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr std::size_t ERROR_TEXT_SIZE = 1000;     // text of a table entry, NUL included
constexpr std::size_t ERROR_MESSAGE_SIZE = 1000;  // a composed message, NUL included
constexpr int ERROR_TABLE_ENTRIES = 15;

struct error_entry {
    int32_t code;
    int32_t level;
    char text[ERROR_TEXT_SIZE];
};

extern const error_entry error_table[ERROR_TABLE_ENTRIES];

// Shown in the appeal to report an error and in the About box.
extern const char contact_address[];

extern const char ERROR_CAPTION_WARNING[];  // "Error"
extern const char ERROR_CAPTION_FATAL[];    // "Fatal Error - Program Halted"

// Composes the message that error_handler shows for these arguments into out and returns
// the level that decides the box and the consequence. The message always fits the buffer:
// an over-long function name or additional text is shortened, keeping its end, behind "...".
int32_t compose_error_message(int32_t code, const char* function_name,
                              const char* additional_info, char (&out)[ERROR_MESSAGE_SIZE]);

// Reports a failure. Returns to the caller only for levels below 5; otherwise the message
// box is shown and the process ends with the level as its exit status.
void error_handler(int32_t code, const char* function_name, const char* additional_info);

// Posts the quit message, closes every open file stream and ends the process.
[[noreturn]] void quit_program(int32_t exit_code);
