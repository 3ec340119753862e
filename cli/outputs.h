// The files korvane-cli writes from a capture: the .dso image, the exports for other tools
// and the pictures, each through the safe replacement of capture/output_file_linux.h. One
// table of formats for every command, and the checks that come before anything is written.
#pragma once
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_channels.h"
#include "capture/output_file_linux.h"
#include "cli/protocol_decode.h"

enum class output_format { dso, csv, vcd, wav, sr, png, svg, pdf };

struct format_info {
    output_format format;
    const char* name;       // as --format takes it
    const char* extension;  // ".csv"
    const char* routine;    // the routine named in a file error
    bool binary;            // not for a terminal
    bool seekable;          // the writer goes back within the file (a zip archive)
    const char* what;
    const char* media_type;  // as HTTP names it
};
const format_info& format_of(output_format format);
// Names for messages: "dso, csv, vcd, wav, sr, png, svg, pdf" of those in list.
std::string format_names(const std::vector<output_format>& list);

// The format --format names (any case), or the one a file name's extension names.
bool format_from_name(const std::string& text, output_format& format);
bool format_from_extension(const std::string& file_name, output_format& format);

// The format of an output: --format (any case) or the name's extension, the two never at
// odds. exportable: the formats the command writes; fallback: the format of "-" or of a
// name without a known extension, or -1 to refuse those. Throws CLI::ValidationError.
output_format output_format_for(const std::string& name, const std::string& format_option,
                                const std::vector<output_format>& exportable, int fallback,
                                const char* option = "--output");

// One file to write. A name whose extension names another format than the one chosen is a
// mistake of the command line: never are one format's bytes written under another's name.
struct output_request {
    std::string name;
    output_format format;
    output_plan plan;
};

// What the outputs of one capture hold: the channels (vcd, wav, sr; wav: the analogue ones),
// the samples first..last, and for pictures the client area. Pictures draw the record as it
// stands (view range, preferences, mode).
struct output_content {
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    int count = 0;
    int32_t first = 0;
    int32_t last = 0;
    int32_t width = 800;
    int32_t height = 600;
    std::shared_ptr<const decode_result> decoded;  // pictures: rows of decoded annotations below
};

// Fills content with every channel and sample of the record's mode.
void whole_capture(output_content& content);

// Checks the outputs before anything is done: each can be written (else the file error, code
// 9, is reported, which ends the program with status 5); no two are the same file or both
// standard output, none is the input file (input: the input's stat, or nullptr), and no
// binary format goes to a terminal (each a bad command line: the message is printed and 2
// returned). 0 when all is well.
int check_outputs(std::vector<output_request>& outputs, const struct stat* input);

// Writes the record in the request's format. false with the failure (the file stays as it
// was); the caller reports it.
bool write_capture_output(const output_request& request, const output_content& content, file_failure& failure);

// The same bytes into memory (the server's downloads): what a file of that format would hold.
bool write_capture_bytes(output_format format, const output_content& content, std::string& bytes,
                         file_failure& failure);

// export and render: loads the .dso at input_path, has prepare fill the content from the
// loaded record (a refusal: its status, with the message printed), checks the one output and
// writes it. The status to exit with.
int write_one_output(const std::string& input_path, const std::string& output, output_format format,
                     const std::function<int(output_content&, std::string&)>& prepare);

// Reports a failure as the program's file error through error_handler, which ends the
// program with status 5.
void report_file_failure(const file_failure& failure, const char* routine);
