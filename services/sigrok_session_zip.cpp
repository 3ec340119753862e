#include "services/sigrok_session_zip.h"

#include <zip.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "services/text_values.h"

namespace {

// ---- The archive's own file ----
// libzip hands the archive over in pieces of 8 KB and goes back to complete each entry's
// local header; the pieces are gathered here and reach the temporary file in large writes.
// (libzip's own file output writes each piece as it comes and takes twice as long.)
// Each session has its own block, so that sessions of several captures are written at once.
constexpr std::size_t ARCHIVE_BLOCK_SIZE = 1 << 20;

struct archive_file {
    int fd;
    uint8_t* archive_block;  // ARCHIVE_BLOCK_SIZE bytes
    uint64_t block_offset;  // where archive_block[0] belongs in the file
    std::size_t buffered;   // bytes of archive_block still to be written there
    uint64_t length;        // bytes in the file so far
    zip_error_t error;
};

bool flush_block(archive_file& a) {
    if (a.buffered == 0) return true;
    for (std::size_t done = 0; done < a.buffered;) {
        const ssize_t n = pwrite(a.fd, a.archive_block + done, a.buffered - done, static_cast<off_t>(a.block_offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            zip_error_set(&a.error, ZIP_ER_WRITE, n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    a.block_offset += a.buffered;
    a.buffered = 0;
    if (a.block_offset > a.length) a.length = a.block_offset;
    return true;
}

// The source behind the archive: an empty file to read (the new file), written from the
// start.
zip_int64_t archive_callback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    archive_file& a = *static_cast<archive_file*>(state);
    switch (cmd) {
    case ZIP_SOURCE_STAT: {
        zip_stat_t* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &a.error);
        if (st == nullptr) return -1;
        zip_stat_init(st);
        st->size = 0;
        st->valid |= ZIP_STAT_SIZE;
        return sizeof *st;
    }
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_FREE:
    case ZIP_SOURCE_ROLLBACK_WRITE:  // the caller abandons the temporary file
    case ZIP_SOURCE_REMOVE:          // an archive without entries: never written here
        return 0;
    case ZIP_SOURCE_SEEK:
        return zip_source_seek_compute_offset(0, 0, data, len, &a.error) < 0 ? -1 : 0;
    case ZIP_SOURCE_BEGIN_WRITE:
        a.block_offset = 0;
        a.buffered = 0;
        a.length = 0;
        return 0;
    case ZIP_SOURCE_WRITE: {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        for (zip_uint64_t left = len; left > 0;) {
            if (a.buffered == ARCHIVE_BLOCK_SIZE && !flush_block(a)) return -1;
            std::size_t n = ARCHIVE_BLOCK_SIZE - a.buffered;
            if (n > left) n = static_cast<std::size_t>(left);
            std::memcpy(a.archive_block + a.buffered, p, n);
            a.buffered += n;
            p += n;
            left -= n;
        }
        return static_cast<zip_int64_t>(len);
    }
    case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(a.block_offset + a.buffered);
    case ZIP_SOURCE_SEEK_WRITE: {
        if (!flush_block(a)) return -1;
        const zip_int64_t to = zip_source_seek_compute_offset(a.block_offset, a.length, data, len, &a.error);
        if (to < 0) return -1;
        a.block_offset = static_cast<uint64_t>(to);
        return 0;
    }
    case ZIP_SOURCE_COMMIT_WRITE:
        return flush_block(a) ? 0 : -1;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&a.error, data, len);
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    default:
        zip_error_set(&a.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// ---- The analogue files ----
// Each sample as the little-endian bytes of the float code - 0x80 (or of the channel's
// scaled value), made while libzip reads.
void make_float_bytes(uint8_t float_bytes[256][4], const analogue_scale& scale) {
    for (int code = 0; code < 256; ++code) {
        const float value = static_cast<float>(scale.value(static_cast<uint8_t>(code)));
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int b = 0; b < 4; ++b) float_bytes[code][b] = static_cast<uint8_t>(bits >> (8 * b));
    }
}

struct analogue_file {
    const capture_channel* channel;
    int32_t first;
    uint64_t size;      // 4 bytes a sample
    uint64_t position;  // the next byte to hand over
    uint8_t float_bytes[256][4];
};

zip_int64_t analogue_callback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    analogue_file& f = *static_cast<analogue_file*>(state);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        f.position = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        uint8_t* out = static_cast<uint8_t*>(data);
        const uint64_t n = len < f.size - f.position ? len : f.size - f.position;
        for (uint64_t done = 0; done < n;) {
            const int32_t k = f.first + static_cast<int32_t>(f.position / 4);
            const unsigned skip = static_cast<unsigned>(f.position % 4);
            uint64_t step;
            if (skip == 0 && n - done >= 4) {  // whole samples
                const int32_t whole = static_cast<int32_t>((n - done) / 4);
                const int32_t stride = f.channel->stride;
                const uint8_t* codes = f.channel->bytes + static_cast<int64_t>(k) * stride;
                uint8_t* p = out + done;
                for (int32_t j = 0; j < whole; ++j, codes += stride, p += 4) std::memcpy(p, f.float_bytes[*codes], 4);
                step = 4 * static_cast<uint64_t>(whole);
            } else {  // a read that starts or ends within a sample
                step = 4 - skip < n - done ? 4 - skip : n - done;
                std::memcpy(out + done, f.float_bytes[f.channel->code(k)] + skip, static_cast<std::size_t>(step));
            }
            done += step;
            f.position += step;
        }
        return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_STAT: {
        if (len < sizeof(zip_stat_t)) return -1;
        zip_stat_t* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = f.size;
        st->valid |= ZIP_STAT_SIZE;
        return sizeof *st;
    }
    case ZIP_SOURCE_ERROR: {
        if (len < 2 * sizeof(int)) return -1;
        int* codes = static_cast<int*>(data);
        codes[0] = ZIP_ER_INVAL;
        codes[1] = 0;
        return 2 * sizeof(int);
    }
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_READABLE;
    default:
        return -1;
    }
}

// ---- The metadata ----
thread_local char metadata[1024];
thread_local std::size_t metadata_length;

void put_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void put_line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(metadata + metadata_length, sizeof metadata - metadata_length, format, args);
    va_end(args);
    if (n > 0) metadata_length += static_cast<std::size_t>(n);
    if (metadata_length < sizeof metadata - 1) metadata[metadata_length++] = '\n';
}

// A rate as sigrok writes one: "50 MHz", "12.5 MHz", "1.5625 MHz".
void rate_text(uint64_t hz, char* text, std::size_t size) {
    static const char* const UNITS[] = {"Hz", "kHz", "MHz", "GHz"};
    uint64_t divisor = 1;
    int unit = 0;
    while (unit < 3 && hz / divisor >= 1000) {
        divisor *= 1000;
        ++unit;
    }
    char fraction[24] = "";
    if (unit > 0) {
        std::snprintf(fraction, sizeof fraction, ".%0*llu", 3 * unit, static_cast<unsigned long long>(hz % divisor));
        std::size_t end = std::strlen(fraction);
        while (end > 0 && (fraction[end - 1] == '0' || fraction[end - 1] == '.')) fraction[--end] = '\0';
    }
    std::snprintf(text, size, "%llu%s %s", static_cast<unsigned long long>(hz / divisor), fraction, UNITS[unit]);
}

// ---- Entries ----
bool add_entry(zip_t* archive, const char* name, zip_source_t* source) {
    if (source == nullptr) return false;
    const zip_int64_t index = zip_file_add(archive, name, source, 0);
    if (index < 0) {
        zip_source_free(source);
        return false;
    }
    // Stored: deflate, even at its fastest level, takes 20 to 70 times as long as the .dso
    // save, and sigrok reads stored entries as well. The entries' time is file_time(), so that
    // the same capture makes the same archive where SOURCE_DATE_EPOCH asks for it.
    const zip_uint64_t entry = static_cast<zip_uint64_t>(index);
    return zip_set_file_compression(archive, entry, ZIP_CM_STORE, 0) == 0 && zip_file_set_mtime(archive, entry, file_time(), 0) == 0;
}

}  // namespace

bool write_sigrok_session(int fd, const dso_record& record, const capture_channel* channels, int count,
                          int32_t first, int32_t last, char* message, std::size_t size, const analogue_scale* scales) {
    const double rate = sample_rate_hz(record.capture_mode, record.sample_rate_index);
    if (rate <= 0) {
        std::snprintf(message, size, "rate index %d is not one of the six rates; a sigrok session needs the sample rate",
                      record.sample_rate_index);
        return false;
    }
    const int32_t samples = samples_in_mode(record.capture_mode);
    if (count <= 0 || count > MAX_CAPTURE_CHANNELS || first < 0 || last < first || last >= samples) {
        std::snprintf(message, size, "no channels, or samples %d..%d outside the capture's 0..%d", first, last,
                      samples - 1);
        return false;
    }
    const uint64_t length = static_cast<uint64_t>(last - first + 1);

    // The logic inputs share one sequence of whole samples, a byte or a word each: probe n of
    // the metadata is bit n - 1 of it. The analogue channels are numbered after all of them.
    const uint8_t* logic = nullptr;
    int unit_size = 0;
    int analogue_count = 0;
    for (int i = 0; i < count; ++i) {
        if (channels[i].kind == channel_kind::analogue) {
            ++analogue_count;
        } else if (logic == nullptr) {
            logic = channels[i].bytes - channels[i].input / 8;
            unit_size = channels[i].stride;
        }
    }
    const int total_probes = 8 * unit_size;

    char rate_value[32];
    rate_text(static_cast<uint64_t>(rate), rate_value, sizeof rate_value);
    metadata_length = 0;
    put_line("[global]");
    put_line("sigrok version=0.5.2");  // the libsigrok release whose session layout this is
    put_line("%s", "");
    put_line("[device 1]");
    if (logic) put_line("capturefile=logic-1");
    if (logic) put_line("total probes=%d", total_probes);
    put_line("samplerate=%s", rate_value);
    if (analogue_count) put_line("total analog=%d", analogue_count);
    for (int i = 0, a = 0; i < count; ++i) {
        if (channels[i].kind == channel_kind::logic)
            put_line("probe%d=%s", channels[i].input + 1, channels[i].name);
        else
            put_line("analog%d=%s", total_probes + ++a, channels[i].name);
    }
    if (logic) put_line("unitsize=%d", unit_size);

    analogue_file analogue[MAX_CAPTURE_CHANNELS];

    const std::unique_ptr<uint8_t[]> block(new uint8_t[ARCHIVE_BLOCK_SIZE]);
    archive_file out{fd, block.get(), 0, 0, 0, {}};
    zip_error_init(&out.error);
    zip_error_t error;
    zip_error_init(&error);
    zip_t* archive = nullptr;
    zip_source_t* source = zip_source_function_create(archive_callback, &out, &error);
    if (source != nullptr) {
        archive = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (archive == nullptr) zip_source_free(source);
    }
    if (archive == nullptr) {
        std::snprintf(message, size, "cannot start the archive: %s", zip_error_strerror(&error));
        zip_error_fini(&error);
        zip_error_fini(&out.error);
        return false;
    }
    zip_error_fini(&error);

    bool ok = add_entry(archive, "version", zip_source_buffer(archive, "2", 1, 0)) &&
              add_entry(archive, "metadata", zip_source_buffer(archive, metadata, metadata_length, 0));
    if (ok && logic)
        ok = add_entry(archive, "logic-1-1",
                       zip_source_buffer(archive, logic + static_cast<uint64_t>(first) * unit_size,
                                         length * static_cast<uint64_t>(unit_size), 0));
    for (int i = 0, a = 0; ok && i < count; ++i) {
        if (channels[i].kind != channel_kind::analogue) continue;
        analogue_file& f = analogue[a++];
        f.channel = &channels[i];
        f.first = first;
        f.size = 4 * length;
        f.position = 0;
        make_float_bytes(f.float_bytes, scales != nullptr ? scales[i] : analogue_scale());
        char name[32];
        std::snprintf(name, sizeof name, "analog-1-%d-1", total_probes + a);
        ok = add_entry(archive, name, zip_source_function(archive, analogue_callback, &f));
    }
    if (ok && zip_close(archive) == 0) {
        zip_error_fini(&out.error);
        return true;
    }
    // The system's reason, where a write failed, else libzip's.
    const int system_error = zip_error_code_system(&out.error);
    if (zip_error_code_zip(&out.error) == ZIP_ER_WRITE && system_error != 0)
        std::snprintf(message, size, "%s", std::strerror(system_error));
    else
        std::snprintf(message, size, "the archive could not be made: %s", zip_strerror(archive));
    zip_discard(archive);
    zip_error_fini(&out.error);
    return false;
}
