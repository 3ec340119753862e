// CSV export: one line of decimal values per sample, columns by capture mode, no header.
#pragma once
#include <cstdint>
#include <cstdio>

#include "capture/dso_structure.h"

// Writes the whole capture to file_name in text mode. Failures are reported (codes 9 and 7)
// and end the program; a failed export leaves an existing file of that name as it was.
int export_csv_file(const char* file_name);

// Writes the lines of the whole capture to an open stream (the command-line program's
// standard output); false when the stream reports an error.
bool write_csv_lines(std::FILE* out);
// Only the lines of samples first..last (both included, within the mode's samples).
bool write_csv_lines(std::FILE* out, int32_t first, int32_t last);
// The same of any capture record.
bool write_csv_lines(std::FILE* out, const dso_record& record, int32_t first, int32_t last);
