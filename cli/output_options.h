// The outputs of a command: the format a name and --format choose, the checks that come
// before anything is written, and the one output of export and render.
#pragma once
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "services/capture_writers.h"

// The format of an output: --format (any case) or the name's extension, the two never at
// odds. exportable: the formats the command writes; fallback: the format of "-" or of a
// name without a known extension, or -1 to refuse those. Throws CLI::ValidationError.
output_format output_format_for(const std::string& name, const std::string& format_option,
                                const std::vector<output_format>& exportable, int fallback,
                                const char* option = "--output");

// Checks the outputs before anything is done: each can be written (else the file error, code
// 9, is reported, which ends the program with status 5); no two are the same file or both
// standard output, none is the input file (input: the input's stat, or nullptr), and no
// binary format goes to a terminal (each a bad command line: the message is printed and 2
// returned). 0 when all is well.
int check_outputs(std::vector<output_request>& outputs, const struct stat* input);

// export and render: loads the .dso at input_path into the record, has prepare fill the
// content (a refusal: its status, with the message printed), checks the one output and writes
// it. The status to exit with.
int write_one_output(const std::string& input_path, const std::string& output, output_format format,
                     const std::function<int(output_content&, std::string&)>& prepare);

// Reports a failure as the program's file error through error_handler, which ends the
// program with status 5.
void report_file_failure(const file_failure& failure, const char* routine);
