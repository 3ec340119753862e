#include "services/report_line.h"

#include <cstdarg>
#include <cstdio>

#include "app/error_handler.h"

namespace {

// The table's text, except where it names Windows: on Linux a code 13 is a port that failed.
std::string report_text(const error_entry* entry, int32_t code) {
    if (entry == nullptr) return "Unidentified error code " + std::to_string(code);
    if (entry->code == 13) return "Parallel port access failed";
    return entry->text;
}

const error_entry* entry_for(int32_t code) {
    for (const error_entry& entry : error_table)
        if (entry.code == code) return &entry;
    return nullptr;
}

}  // namespace

void print_report_line(int32_t code, const char* function_name, const std::string& additional_info) {
    const error_entry* entry = entry_for(code);
    const int32_t level = entry != nullptr ? entry->level : 20;
    std::string line = std::string(PROGRAM_NAME) + ": " + report_text(entry, code) + " (error " +
                       std::to_string(code) + ", level " + std::to_string(level);
    if (function_name != nullptr && *function_name != '\0') line += std::string(", ") + function_name;
    line += ")";
    if (!additional_info.empty()) line += ": " + additional_info;
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void print_message(const char* format, ...) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: ", PROGRAM_NAME);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
