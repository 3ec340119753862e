// The formats a capture is written in: the .dso image, the exports for other tools and the
// pictures. One table for every command and for the server's downloads.
#pragma once
#include <string>
#include <vector>

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

// The format a name gives (any case), or the one a file name's extension names.
bool format_from_name(const std::string& text, output_format& format);
bool format_from_extension(const std::string& file_name, output_format& format);
