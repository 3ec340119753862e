#include "capture/dso_structure.h"

#include <cstring>
#include <mutex>

dso_record dso_structure;

void set_capture_defaults() {
    dso_structure.capture_mode = MODE_DUAL;
    dso_structure.pretrigger = 0;
    dso_structure.sample_rate_index = 0;
    dso_structure.trigger_source = TRIGGER_EXTERNAL;
    dso_structure.trigger_value = 0;
    dso_structure.trigger_edge = 0;
}

const char* capture_mode_title(int8_t capture_mode) {
    switch (capture_mode) {
    case MODE_DUAL: return "Dual Channel";
    case MODE_SINGLE: return "Single Channel";
    case MODE_LOGIC16: return "16 Bit Logic Analyser";
    case MODE_MIXED: return "Mixed Mode";
    default: return nullptr;
    }
}

int32_t samples_in_mode(int8_t capture_mode) {
    switch (capture_mode) {
    case MODE_SINGLE: return SAMPLE_AREA_SIZE;
    case MODE_DUAL:
    case MODE_LOGIC16:
    case MODE_MIXED: return FIFO_SIZE;
    default: return 0;
    }
}

double sample_rate_hz(int8_t capture_mode, int8_t sample_rate_index) {
    if (samples_in_mode(capture_mode) == 0 || sample_rate_index < 0 || sample_rate_index > 5) return 0.0;
    const double base = capture_mode == MODE_SINGLE ? 100e6 : 50e6;
    return base / static_cast<double>(1 << sample_rate_index);
}

void clear_channels() { std::memset(dso_structure.sample_area, ZERO_LEVEL, SAMPLE_AREA_SIZE); }

void copy_a_to_b() { std::memcpy(dso_structure.channel_b, dso_structure.channel_a, FIFO_SIZE); }

void copy_b_to_a() { std::memcpy(dso_structure.channel_a, dso_structure.channel_b, FIFO_SIZE); }

void swap_channels() {
    uint8_t* a = dso_structure.channel_a;
    uint8_t* b = dso_structure.channel_b;
    for (int32_t i = 0; i < FIFO_SIZE; ++i) {
        uint8_t t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

namespace {
std::mutex buffers_in_use;
}

record_buffers_guard::record_buffers_guard() { buffers_in_use.lock(); }
record_buffers_guard::~record_buffers_guard() { buffers_in_use.unlock(); }
