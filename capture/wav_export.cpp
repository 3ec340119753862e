#include "capture/wav_export.h"

#include <cmath>
#include <cstring>

namespace {

void put_u16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put_u32(uint8_t* p, uint32_t v) {
    put_u16(p, v & 0xFFFF);
    put_u16(p + 2, v >> 16);
}

thread_local uint8_t frames[1 << 16];  // each thread's own: exports of several captures at once

}  // namespace

bool write_wav(std::FILE* out, const dso_record& r, const capture_channel* channels, int count, int32_t first,
               int32_t last) {
    const uint32_t rate = static_cast<uint32_t>(std::llround(sample_rate_hz(r.capture_mode, r.sample_rate_index)));
    const uint32_t samples = static_cast<uint32_t>(last - first + 1);
    const uint32_t data_size = samples * static_cast<uint32_t>(count);
    const uint32_t pad = data_size & 1;  // a chunk of odd size is followed by a pad byte

    uint8_t header[44];
    std::memcpy(header, "RIFF", 4);
    put_u32(header + 4, 36 + data_size + pad);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put_u32(header + 16, 16);                                     // size of the format chunk
    put_u16(header + 20, 1);                                      // PCM
    put_u16(header + 22, static_cast<uint32_t>(count));          // channels
    put_u32(header + 24, rate);                                   // frames per second
    put_u32(header + 28, rate * static_cast<uint32_t>(count));   // bytes per second
    put_u16(header + 32, static_cast<uint32_t>(count));          // bytes per frame
    put_u16(header + 34, 8);                                      // bits per sample
    std::memcpy(header + 36, "data", 4);
    put_u32(header + 40, data_size);
    bool ok = std::fwrite(header, 1, sizeof header, out) == sizeof header;

    const int32_t per_block = static_cast<int32_t>(sizeof frames) / count;
    for (int32_t k = first; ok && k <= last; k += per_block) {
        const int32_t end = k + per_block - 1 < last ? k + per_block - 1 : last;
        uint8_t* p = frames;
        if (count == 1 && channels[0].stride == 1) {
            std::memcpy(p, channels[0].bytes + k, static_cast<size_t>(end - k + 1));
            p += end - k + 1;
        } else {
            for (int32_t j = k; j <= end; ++j)
                for (int c = 0; c < count; ++c) *p++ = channels[c].code(j);
        }
        const size_t n = static_cast<size_t>(p - frames);
        ok = std::fwrite(frames, 1, n, out) == n;
    }
    if (ok && pad) ok = std::fputc(0, out) != EOF;
    return ok && std::ferror(out) == 0;
}
