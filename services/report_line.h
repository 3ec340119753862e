// The program's own reports and messages as lines on standard error, as both front ends print
// them (the terminal's commands, and the server's own output).
#pragma once
#include <cstdint>
#include <string>

#include "services/exit_status.h"

// A report of error_handler as one line:
//   korvane-cli: Could Not Write To File (error 7, level 5, csv_export): out.csv: No space left on device
void print_report_line(int32_t code, const char* function_name, const std::string& additional_info);

// A message of the program itself: "korvane-cli: <text>".
void print_message(const char* format, ...) __attribute__((format(printf, 1, 2)));
