#include "cli/outputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>

#include <sys/mman.h>
#include <unistd.h>

#include "app/error_handler.h"
#include "capture/csv_export.h"
#include "capture/dso_structure.h"
#include "capture/vcd_export.h"
#include "capture/wav_export.h"
#include "cli/cli_common.h"
#include "cli/render_command.h"
#include "cli/sigrok_session.h"

namespace {

const format_info FORMATS[] = {
    {output_format::dso, "dso", ".dso", "save_dso_structure", true, false, "the capture itself, as the window saves it",
     "application/octet-stream"},
    {output_format::csv, "csv", ".csv", "csv_export", false, false,
     "one line of decimal values per sample, as the window exports it", "text/csv; charset=us-ascii"},
    {output_format::vcd, "vcd", ".vcd", "vcd_export", false, false,
     "Value Change Dump for GTKWave, sigrok-cli and PulseView", "text/plain; charset=us-ascii"},
    {output_format::wav, "wav", ".wav", "wav_export", true, false, "8-bit PCM of the analogue channels", "audio/wav"},
    {output_format::sr, "sr", ".sr", "sigrok_session", true, true, "a sigrok session for PulseView and sigrok-cli",
     "application/zip"},
    {output_format::png, "png", ".png", "render_picture", true, false, "a picture of the window's drawing", "image/png"},
    {output_format::svg, "svg", ".svg", "render_picture", false, false, "the window's drawing as a vector picture",
     "image/svg+xml"},
    {output_format::pdf, "pdf", ".pdf", "render_picture", true, false, "the window's drawing as a PDF page",
     "application/pdf"},
};

// The $date of a VCD.
std::string vcd_date() {
    const std::time_t now = file_time();
    std::tm when{};
    gmtime_r(&now, &when);
    char text[64];
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y UTC", &when);
    return text;
}

// cairo hands a picture over in pieces.
cairo_status_t write_picture_bytes(void* closure, const unsigned char* data, unsigned int length) {
    return std::fwrite(data, 1, length, static_cast<std::FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                     : CAIRO_STATUS_WRITE_ERROR;
}

cairo_status_t gather_picture_bytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// cairo names an SVG's drawing after a counter of every surface the program has made, so that
// a program drawing many pictures would write "surface6" where a fresh one writes "surface1":
// the names are given again in their order, from 1, and every picture of a capture is the
// same file.
std::string renumber_svg_surfaces(const std::string& svg) {
    std::string out;
    std::vector<std::string> seen;
    size_t at = 0;
    for (size_t hit; (hit = svg.find("surface", at)) != std::string::npos;) {
        size_t digits = hit + 7;
        while (digits < svg.size() && svg[digits] >= '0' && svg[digits] <= '9') ++digits;
        out.append(svg, at, hit - at);
        if (digits == hit + 7) {
            out += "surface";
        } else {
            const std::string number = svg.substr(hit + 7, digits - hit - 7);
            auto known = std::find(seen.begin(), seen.end(), number);
            if (known == seen.end()) known = seen.insert(seen.end(), number);
            out += "surface" + std::to_string(known - seen.begin() + 1);
        }
        at = digits;
    }
    out.append(svg, at, std::string::npos);
    return out;
}

picture_format picture_of(output_format format) {
    return format == output_format::svg ? picture_format::svg
           : format == output_format::pdf ? picture_format::pdf
                                          : picture_format::png;
}

// Writes the bytes of the format through the open output; false when a write failed or the
// writer itself did (the failure then says why).
bool write_format(output_file& out, output_format format, const output_content& c, file_failure& failure) {
    const dso_record& r = dso_structure;
    if (format == output_format::dso) return write_output_bytes(out, &dso_structure, DSO_IMAGE_SIZE);
    if (format == output_format::sr) {
        char message[300];
        if (write_sigrok_session(out.fd, r, c.channels, c.count, c.first, c.last, message, sizeof message)) return true;
        failure = out.failure;
        if (failure.code == 0) failure = {7, EIO, out.plan.name + ": " + message};
        return false;
    }
    std::FILE* stream = output_stream(out);
    if (stream == nullptr) {
        out.failure = {7, ENOMEM, out.plan.name + ": " + std::strerror(ENOMEM)};
        return false;
    }
    bool written = false;
    switch (format) {
    case output_format::csv: written = write_csv_lines(stream, c.first, c.last); break;
    case output_format::vcd: written = write_vcd(stream, r, c.channels, c.count, c.first, c.last, vcd_date().c_str()); break;
    case output_format::wav: {
        // The analogue channels alone, in the order given.
        capture_channel analogue[MAX_CAPTURE_CHANNELS];
        int count = 0;
        for (int i = 0; i < c.count; ++i)
            if (c.channels[i].kind == channel_kind::analogue) analogue[count++] = c.channels[i];
        written = count > 0 && write_wav(stream, r, analogue, count, c.first, c.last);
        break;
    }
    case output_format::svg: {
        std::string svg;
        written = render_picture(picture_format::svg, c.width, c.height, gather_picture_bytes, &svg, c.decoded.get());
        svg = renumber_svg_surfaces(svg);
        written = written && std::fwrite(svg.data(), 1, svg.size(), stream) == svg.size();
        break;
    }
    case output_format::png:
    case output_format::pdf:
        written = render_picture(picture_of(format), c.width, c.height, write_picture_bytes, stream, c.decoded.get());
        break;
    default: break;
    }
    written = close_output_stream(out) && written;
    if (!written && out.failure.code == 0) out.failure = {7, EIO, out.plan.name + ": the picture could not be drawn"};
    return written;
}

}  // namespace

const format_info& format_of(output_format format) {
    for (const format_info& f : FORMATS)
        if (f.format == format) return f;
    return FORMATS[0];
}

std::string format_names(const std::vector<output_format>& list) {
    std::string names;
    for (output_format f : list) names += (names.empty() ? "" : ", ") + std::string(format_of(f).name);
    return names;
}

bool format_from_name(const std::string& text, output_format& format) {
    for (const format_info& f : FORMATS) {
        if (lower_case(text) == f.name) {
            format = f.format;
            return true;
        }
    }
    return false;
}

bool format_from_extension(const std::string& file_name, output_format& format) {
    for (const format_info& f : FORMATS) {
        if (ends_with_ignoring_case(file_name, f.extension)) {
            format = f.format;
            return true;
        }
    }
    return false;
}

output_format output_format_for(const std::string& name, const std::string& format_option,
                                const std::vector<output_format>& exportable, int fallback, const char* option) {
    const auto allowed = [&](output_format f) { return std::find(exportable.begin(), exportable.end(), f) != exportable.end(); };
    output_format by_name = output_format::dso;
    const bool named = name != "-" && format_from_extension(name, by_name);
    if (!format_option.empty()) {
        output_format chosen = output_format::dso;
        if (!format_from_name(format_option, chosen) || !allowed(chosen))
            throw CLI::ValidationError("--format", "'" + format_option + "' is not a format here; use " +
                                                       format_names(exportable));
        if (named && by_name != chosen)
            throw CLI::ValidationError(option, "the name '" + name + "' says " + format_of(by_name).name +
                                                   ", but --format asks for " + format_of(chosen).name +
                                                   "; make the two agree");
        return chosen;
    }
    if (named) {
        if (!allowed(by_name))
            throw CLI::ValidationError(option, std::string("this command does not write ") + format_of(by_name).name +
                                                   " files; it writes " + format_names(exportable));
        return by_name;
    }
    if (fallback >= 0) return static_cast<output_format>(fallback);
    throw CLI::ValidationError(option, name == "-" ? "standard output needs --format (" + format_names(exportable) + ")"
                                                   : "cannot tell the format from the name '" + name + "'; end it in " +
                                                         format_names(exportable) + " or give --format");
}

void whole_capture(output_content& content) {
    content.count = capture_channels(dso_structure, content.channels);
    content.first = 0;
    content.last = samples_in_mode(dso_structure.capture_mode) - 1;
}

int check_outputs(std::vector<output_request>& outputs, const struct stat* input) {
    for (output_request& o : outputs) {
        file_failure failure;
        if (!plan_output(o.name, o.plan, failure)) report_file_failure(failure, format_of(o.format).routine);
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        const output_plan& p = outputs[i].plan;
        if (input != nullptr && is_same_file(p, *input)) {
            print_message("%s is the input file; writing it would destroy the capture before it is read. Give "
                          "another name",
                          outputs[i].name.c_str());
            return EXIT_USAGE;
        }
        if (p.terminal && format_of(outputs[i].format).binary) {
            print_message("a %s file is not for a terminal; give a file name, or send standard output to a file or "
                          "a program",
                          format_of(outputs[i].format).name);
            return EXIT_USAGE;
        }
        for (size_t j = 0; j < i; ++j) {
            if (is_same_output(p, outputs[j].plan)) {
                print_message("%s and %s are the same file; each output needs a file of its own",
                              outputs[j].name.c_str(), outputs[i].name.c_str());
                return EXIT_USAGE;
            }
        }
    }
    return 0;
}

bool write_capture_output(const output_request& request, const output_content& content, file_failure& failure) {
    const format_info& f = format_of(request.format);
    output_file out;
    if (!open_output(request.plan, out, f.seekable, failure)) return false;
    if (!write_format(out, request.format, content, failure)) {
        if (failure.code == 0) failure = out.failure;
        abandon_output(out);
        return false;
    }
    return commit_output(out, failure);
}

bool write_capture_bytes(output_format format, const output_content& content, std::string& bytes,
                         file_failure& failure) {
    // A file in memory, written in place as a descriptor is, so that the bytes are exactly
    // a file's.
    const int fd = memfd_create("korvane-output", MFD_CLOEXEC);
    if (fd < 0) {
        failure = {7, errno, std::string("memory: ") + std::strerror(errno)};
        return false;
    }
    output_request request{"memory", format, {}};
    request.plan.name = "memory";
    request.plan.kind = output_kind::in_place;
    request.plan.descriptor = fd;
    request.plan.exists = fstat(fd, &request.plan.old) == 0;
    bool ok = write_capture_output(request, content, failure);
    bytes.clear();
    if (ok) {
        const off_t size = lseek(fd, 0, SEEK_END);
        ok = size >= 0;
        if (ok) {
            bytes.resize(static_cast<size_t>(size));
            ok = pread(fd, bytes.data(), bytes.size(), 0) == size;
        }
        if (!ok) failure = {7, errno, std::string("memory: ") + std::strerror(errno)};
    }
    close(fd);
    return ok;
}

int write_one_output(const std::string& input_path, const std::string& output, output_format format,
                     const std::function<int(output_content&, std::string&)>& prepare) {
    struct stat input;
    load_capture(input_path, input);
    output_content content;
    std::string message;
    if (const int refused = prepare(content, message)) {
        print_message("%s", message.c_str());
        return refused;
    }
    std::vector<output_request> outputs = {{output, format, {}}};
    if (const int refused = check_outputs(outputs, &input)) return refused;
    file_failure failure;
    if (!write_capture_output(outputs[0], content, failure)) report_file_failure(failure, format_of(format).routine);
    return EXIT_SUCCESS_STATUS;
}

void report_file_failure(const file_failure& failure, const char* routine) {
    error_handler(failure.code != 0 ? failure.code : 7, routine, failure.what.c_str());
}
