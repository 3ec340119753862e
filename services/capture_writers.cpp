#include "services/capture_writers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/mman.h>
#include <unistd.h>

#include "capture/csv_export.h"
#include "capture/vcd_export.h"
#include "capture/wav_export.h"
#include "services/capture_names.h"
#include "services/exit_status.h"
#include "services/sigrok_session_zip.h"
#include "services/text_values.h"

namespace {

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
    const dso_record& r = *c.record;
    if (format == output_format::dso) return write_output_bytes(out, c.record, DSO_IMAGE_SIZE);
    if (format == output_format::sr) {
        char message[300];
        if (write_sigrok_session(out.fd, r, c.channels, c.count, c.first, c.last, message, sizeof message,
                                 c.scaled ? c.scales : nullptr))
            return true;
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
    case output_format::csv: written = write_csv_lines(stream, r, c.first, c.last); break;
    case output_format::vcd: {
        const char* units[MAX_CAPTURE_CHANNELS];
        for (int i = 0; i < c.count; ++i) units[i] = c.units[i].c_str();
        written = write_vcd(stream, r, c.channels, c.count, c.first, c.last, vcd_date().c_str(),
                            c.scaled ? c.scales : nullptr, units);
        break;
    }
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
        written = render_picture(picture_format::svg, c.picture, gather_picture_bytes, &svg, c.decoded.get());
        svg = renumber_svg_surfaces(svg);
        written = written && std::fwrite(svg.data(), 1, svg.size(), stream) == svg.size();
        break;
    }
    case output_format::png:
    case output_format::pdf:
        written = render_picture(picture_of(format), c.picture, write_picture_bytes, stream, c.decoded.get());
        break;
    default: break;
    }
    written = close_output_stream(out) && written;
    if (!written && out.failure.code == 0) out.failure = {7, EIO, out.plan.name + ": the picture could not be drawn"};
    return written;
}

// "A, B" or "B": the analogue channels of the record's mode, for messages.
std::string analogue_names(const dso_record& record) {
    capture_channel all[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(record, all);
    std::string names;
    for (int i = 0; i < count; ++i)
        if (all[i].kind == channel_kind::analogue) names += (names.empty() ? "" : ", ") + std::string(all[i].name);
    return names;
}

}  // namespace

void whole_capture(const dso_record& record, output_content& content) {
    content.record = &record;
    content.count = capture_channels(record, content.channels);
    content.first = 0;
    content.last = samples_in_mode(record.capture_mode) - 1;
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

bool export_request_refusal(export_request& r, std::string& option, std::string& message) {
    if (!r.channels.empty() && r.format == output_format::csv) {
        option = "--channels";
        message = "the CSV columns are those of the capture's mode; --channels applies to vcd, wav and sr";
        return true;
    }
    if (!r.range_text.empty()) {
        if (!parse_sample_range(r.range_text, r.first, r.last)) {
            option = "--range";
            message = range_not_a_range(r.range_text);
            return true;
        }
        r.ranged = true;
    }
    return false;
}

int prepare_export(const std::string& name, const dso_record& r, const export_request& request,
                   output_content& content, std::string& message) {
    const std::string damage = header_damage(r);
    if (!damage.empty()) {
        message = input_name(name) + ": not a capture this program wrote, or a damaged one: " + damage;
        return EXIT_WARNING;
    }
    const int8_t mode = r.capture_mode;
    const char* format = format_of(request.format).name;
    const int32_t samples = samples_in_mode(mode);

    whole_capture(r, content);
    if (request.ranged && !export_range(mode, request.first, request.last, content.first, content.last)) {
        message = "--range: " + range_shows_nothing(request.range_text, samples - 1);
        return EXIT_USAGE;
    }
    if (request.format != output_format::csv && sample_rate_hz(mode, r.sample_rate_index) == 0) {
        message = input_name(name) + ": the capture names no sample rate (rate index " +
                  std::to_string(r.sample_rate_index) + "); a " + format + " file needs one";
        return EXIT_WARNING;
    }
    char text[300];
    if (!request.channels.empty() && !select_channels(request.channels.c_str(), content.channels, content.count, text,
                                                sizeof text, request.format == output_format::wav)) {
        message = std::string("--channels: ") + text;
        return EXIT_USAGE;
    }
    if (request.format == output_format::wav) {
        int analogue = 0;
        for (int i = 0; i < content.count; ++i) analogue += content.channels[i].kind == channel_kind::analogue;
        if (analogue == 0 && request.channels.empty()) {
            message = std::string("a ") + capture_mode_title(mode) + " capture has no analogue channel for a wav file";
            return EXIT_WARNING;
        }
        // Without --channels a wav file takes every analogue channel; a list that names a
        // logic input is a mistake.
        if (analogue < content.count && !request.channels.empty()) {
            message = "--channels: a wav file holds analogue channels only (this capture has " + analogue_names(r) + ")";
            return EXIT_USAGE;
        }
    }
    return EXIT_SUCCESS_STATUS;
}

void apply_channel_scales(const channel_settings& settings, output_content& content) {
    content.scaled = true;
    for (int i = 0; i < content.count; ++i) {
        content.scales[i] = analogue_scale();
        content.units[i].clear();
        if (content.channels[i].kind != channel_kind::analogue) continue;
        const analogue_channel_settings* channel = settings.analogue_named(content.channels[i].name);
        if (channel == nullptr || !channel->scaled()) continue;
        content.scales[i].per_code = channel->per_code();
        content.scales[i].zero_code = channel->zero_code;
        content.units[i] = channel->unit;
    }
}
