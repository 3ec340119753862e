// The .dso capture file: the 786,448-byte image of the capture record, no signature.
#pragma once

// Writes the record to file_name. Failures are reported (codes 9 and 7) and end the program;
// a failed save leaves an existing file of that name as it was.
int save_dso_structure(const char* file_name);

// Replaces the record with the first 786,448 bytes of file_name. Failures are reported
// (codes 9 and 8) and end the program.
int load_dso_structure(const char* file_name);
