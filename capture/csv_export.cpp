#include "capture/csv_export.h"

#include "app/error_handler.h"
#include "capture/dso_structure.h"
#include "capture/replacement_file.h"

#include <cstdio>

namespace {

// Decimal digits of v (0..255) at p, as "%d" writes them; returns the end.
inline char* put_decimal(char* p, unsigned v) {
    if (v >= 100) {
        *p++ = static_cast<char>('0' + v / 100);
        v %= 100;
        *p++ = static_cast<char>('0' + v / 10);
        *p++ = static_cast<char>('0' + v % 10);
    } else if (v >= 10) {
        *p++ = static_cast<char>('0' + v / 10);
        *p++ = static_cast<char>('0' + v % 10);
    } else {
        *p++ = static_cast<char>('0' + v);
    }
    return p;
}

// Bits high..0 of v, most significant first, each followed by a comma.
inline char* put_bits(char* p, unsigned v, int high) {
    for (int bit = high; bit >= 0; --bit) {
        *p++ = static_cast<char>('0' + ((v >> bit) & 1));
        *p++ = ',';
    }
    return p;
}

char stream_buffer[1 << 16];

}  // namespace

bool write_csv_lines(std::FILE* out) { return write_csv_lines(out, 0, samples_in_mode(dso_structure.capture_mode) - 1); }

bool write_csv_lines(std::FILE* out, int32_t first, int32_t last) { return write_csv_lines(out, dso_structure, first, last); }

bool write_csv_lines(std::FILE* out, const dso_record& r, int32_t first, int32_t last) {
    char line[64];
    switch (r.capture_mode) {
    case MODE_DUAL:
        for (int32_t i = first; i <= last; ++i) {
            char* p = put_decimal(line, r.channel_a[i]);
            *p++ = ',';
            p = put_decimal(p, r.channel_b[i]);
            *p++ = '\n';
            std::fwrite(line, 1, static_cast<std::size_t>(p - line), out);
        }
        break;
    case MODE_SINGLE:
        for (int32_t n = first; n <= last; ++n) {
            char* p = put_decimal(line, r.sample_area[n]);
            *p++ = '\n';
            std::fwrite(line, 1, static_cast<std::size_t>(p - line), out);
        }
        break;
    case MODE_LOGIC16:
        for (int32_t k = first; k <= last; ++k) {
            unsigned word = r.sample_area[2 * k] | (r.sample_area[2 * k + 1] << 8);
            char* p = put_bits(line, word, 15);
            p[-1] = '\n';
            std::fwrite(line, 1, static_cast<std::size_t>(p - line), out);
        }
        break;
    case MODE_MIXED:
        for (int32_t i = first; i <= last; ++i) {
            char* p = put_decimal(line, r.channel_b[i]);
            *p++ = ',';
            p = put_bits(p, r.channel_a[i], 7);
            p[-1] = '\n';
            std::fwrite(line, 1, static_cast<std::size_t>(p - line), out);
        }
        break;
    default:
        break;  // a mode this program does not know: the file stays empty
    }
    return std::ferror(out) == 0;
}

int export_csv_file(const char* file_name) {
    const int code = replace_through_stream(file_name, stream_buffer, sizeof stream_buffer,
                                            [](std::FILE* out) { return write_csv_lines(out); });
    if (code != 0) error_handler(code, "save_dso_structure", file_name);
    return 0;
}
