#include "capture/vcd_export.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "app/version.h"

namespace {

// The output goes through a buffer of our own: a 16 Bit Logic capture of noise changes
// almost every input at every sample, some 12 MB of text.
struct vcd_buffer {
    std::FILE* out;
    char data[1 << 16];
    size_t used = 0;
    bool ok = true;

    void flush() {
        if (used > 0 && std::fwrite(data, 1, used, out) != used) ok = false;
        used = 0;
    }
    // Room for a line of at most 64 characters.
    char* room() {
        if (used > sizeof data - 64) flush();
        return data + used;
    }
    void put(const char* text) {
        const size_t n = std::strlen(text);
        if (used + n > sizeof data) flush();
        if (n > sizeof data) {
            if (std::fwrite(text, 1, n, out) != n) ok = false;
            return;
        }
        std::memcpy(data + used, text, n);
        used += n;
    }
};

thread_local vcd_buffer buffer;  // each thread's own: exports of several captures at once

inline char* put_unsigned(char* p, uint64_t v) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) *p++ = digits[--n];
    return p;
}

inline void put_time(uint64_t t) {
    char* p = buffer.room();
    *p++ = '#';
    p = put_unsigned(p, t);
    *p++ = '\n';
    buffer.used = static_cast<size_t>(p - buffer.data);
}

inline void put_bit(bool high, char id) {
    char* p = buffer.room();
    p[0] = high ? '1' : '0';
    p[1] = id;
    p[2] = '\n';
    buffer.used += 3;
}

// A scaled channel's value of each code, as VCD text.
struct scaled_texts {
    char text[256][28];
    uint8_t length[256];
};

inline void put_real(uint8_t code, char id, const scaled_texts* scaled) {
    char* p = buffer.room();
    if (scaled != nullptr) {
        std::memcpy(p, scaled->text[code], scaled->length[code]);
        p += scaled->length[code];
        *p++ = ' ';
        *p++ = id;
        *p++ = '\n';
        buffer.used = static_cast<size_t>(p - buffer.data);
        return;
    }
    *p++ = 'r';
    int v = code - ZERO_LEVEL;
    if (v < 0) {
        *p++ = '-';
        v = -v;
    }
    p = put_unsigned(p, static_cast<uint64_t>(v));
    *p++ = ' ';
    *p++ = id;
    *p++ = '\n';
    buffer.used = static_cast<size_t>(p - buffer.data);
}

}  // namespace

bool write_vcd(std::FILE* out, const dso_record& r, const capture_channel* channels, int count, int32_t first,
               int32_t last, const char* date, const analogue_scale* scales, const char* const* unit_names) {
    buffer.out = out;
    buffer.used = 0;
    buffer.ok = true;

    const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    const uint64_t units = rate > 0 ? static_cast<uint64_t>(std::llround(1.0 / (rate * VCD_TIME_UNIT_S))) : 1;
    char text[512];
    std::snprintf(text, sizeof text,
                  "$date\n   %s\n$end\n$version\n   Korvane %s (korvane-cli)\n$end\n"
                  "$comment\n   %s at %g MHz, %g ns per sample: samples %d to %d of the capture\n$end\n",
                  date, KORVANE_VERSION, capture_mode_title(r.capture_mode) ? capture_mode_title(r.capture_mode) : "unknown mode", rate / 1e6, static_cast<double>(units) * 10.0,
                  first, last);
    buffer.put(text);
    // The trigger's mark stands in the header with its time: sigrok's reader stops at the
    // first comment among the value changes.
    if (r.pretrigger >= first && r.pretrigger <= last) {
        std::snprintf(text, sizeof text, "$comment\n   trigger at #%llu (sample %d)\n$end\n",
                      static_cast<unsigned long long>(static_cast<uint64_t>(r.pretrigger - first) * units), r.pretrigger);
        buffer.put(text);
    }
    // Each scaled channel's values of the 256 codes, made once.
    std::unique_ptr<scaled_texts[]> scaled;
    for (int i = 0; scales != nullptr && i < count; ++i) {
        if (channels[i].kind != channel_kind::analogue || !(scales[i].per_code > 0)) continue;
        if (!scaled) scaled.reset(new scaled_texts[MAX_CAPTURE_CHANNELS]);
        for (int code = 0; code < 256; ++code) {
            const int n = std::snprintf(scaled[i].text[code], sizeof scaled[i].text[code], "r%.9g",
                                        scales[i].value(static_cast<uint8_t>(code)));
            scaled[i].length[code] = static_cast<uint8_t>(n);
        }
        std::snprintf(text, sizeof text, "$comment\n   %s in %s: (code - %d) x %.9g\n$end\n", channels[i].name,
                      unit_names != nullptr && unit_names[i] != nullptr ? unit_names[i] : "units", scales[i].zero_code, scales[i].per_code);
        buffer.put(text);
    }
    const auto scaled_of = [&](const capture_channel* c) -> const scaled_texts* {
        const long i = c - channels;
        return scaled && scales[i].per_code > 0 ? &scaled[i] : nullptr;
    };
    buffer.put("$timescale 10 ns $end\n$scope module korvane $end\n");

    // Identifiers: one printable character each, '!' upward.
    uint32_t logic_mask = 0;  // the inputs written, as bits of the mode's logic word
    char logic_id[16] = {};
    int analogue_count = 0;
    const capture_channel* analogue[MAX_CAPTURE_CHANNELS];
    char analogue_id[MAX_CAPTURE_CHANNELS];
    for (int i = 0; i < count; ++i) {
        const char id = static_cast<char>('!' + i);
        if (channels[i].kind == channel_kind::logic) {
            logic_mask |= 1u << channels[i].input;
            logic_id[channels[i].input] = id;
            std::snprintf(text, sizeof text, "$var wire 1 %c %s $end\n", id, channels[i].name);
        } else {
            analogue[analogue_count] = &channels[i];
            analogue_id[analogue_count++] = id;
            std::snprintf(text, sizeof text, "$var real 64 %c %s $end\n", id, channels[i].name);
        }
        buffer.put(text);
    }
    buffer.put("$upscope $end\n$enddefinitions $end\n");

    // The logic word of sample k: 16 inputs from the words of 16 Bit Logic, 8 from channel_a
    // in Mixed Mode.
    const bool words = r.capture_mode == MODE_LOGIC16;
    const uint8_t* logic_bytes = words ? r.sample_area : r.channel_a;
    auto logic_word = [&](int32_t k) -> uint32_t {
        return words ? static_cast<uint32_t>(logic_bytes[2 * k] | logic_bytes[2 * k + 1] << 8) : logic_bytes[k];
    };

    uint32_t word = logic_mask ? logic_word(first) & logic_mask : 0;
    uint8_t codes[MAX_CAPTURE_CHANNELS];
    put_time(0);
    buffer.put("$dumpvars\n");
    for (int b = 0; b < 16; ++b)
        if (logic_mask >> b & 1) put_bit(word >> b & 1, logic_id[b]);
    for (int a = 0; a < analogue_count; ++a) {
        codes[a] = analogue[a]->code(first);
        put_real(codes[a], analogue_id[a], scaled_of(analogue[a]));
    }
    buffer.put("$end\n");

    for (int32_t k = first + 1; k <= last; ++k) {
        const uint64_t t = static_cast<uint64_t>(k - first) * units;
        bool stamped = false;
        if (logic_mask) {
            const uint32_t now = logic_word(k) & logic_mask;
            uint32_t changed = now ^ word;
            if (changed) {
                if (!stamped) put_time(t);
                stamped = true;
                word = now;
                while (changed) {
                    const int b = __builtin_ctz(changed);
                    changed &= changed - 1;
                    put_bit(now >> b & 1, logic_id[b]);
                }
            }
        }
        for (int a = 0; a < analogue_count; ++a) {
            const uint8_t code = analogue[a]->code(k);
            if (code == codes[a]) continue;
            if (!stamped) put_time(t);
            stamped = true;
            codes[a] = code;
            put_real(code, analogue_id[a], scaled_of(analogue[a]));
        }
    }
    put_time(static_cast<uint64_t>(last - first + 1) * units);
    buffer.flush();
    return buffer.ok && std::ferror(out) == 0;
}
