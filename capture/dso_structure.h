// The one capture record of the program: the settings of the current or next capture and
// the samples of the last one. Its memory image is the .dso file, byte for byte.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int8_t MODE_DUAL = 0;     // two analogue channels
constexpr int8_t MODE_SINGLE = 1;   // one analogue channel, both converters in turn
constexpr int8_t MODE_LOGIC16 = 2;  // sixteen logic inputs
constexpr int8_t MODE_MIXED = 3;    // eight logic inputs beside analogue channel B

// The stored trigger_value of an analogue trigger: the level (-126..127) plus this.
constexpr int TRIGGER_LEVEL_OFFSET = 127;

constexpr int8_t TRIGGER_EXTERNAL = 0;
constexpr int8_t TRIGGER_CHANNEL_A = 1;  // the logic byte or word in the logic modes
constexpr int8_t TRIGGER_CHANNEL_B = 2;
constexpr int8_t TRIGGER_NONE = 3;

constexpr int32_t FIFO_SIZE = 0x60000;         // bytes in each sample memory and buffer
constexpr int32_t SAMPLE_AREA_SIZE = 0xC0000;  // both buffers back to back
constexpr std::size_t DSO_IMAGE_SIZE = 0xC0010;
constexpr uint8_t ZERO_LEVEL = 0x80;

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif
struct dso_record {
    int32_t pretrigger;
    int8_t trigger_source;
    uint8_t reserved_1;
    uint16_t trigger_value;
    int32_t trigger_edge;
    int8_t sample_rate_index;
    int8_t capture_mode;
    union {
        struct {
            uint8_t channel_a[FIFO_SIZE];
            uint8_t channel_b[FIFO_SIZE];
        };
        uint8_t sample_area[SAMPLE_AREA_SIZE];  // channel_a followed by channel_b
    };
    uint16_t reserved_2;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

static_assert(offsetof(dso_record, pretrigger) == 0x0, "pretrigger offset");
static_assert(offsetof(dso_record, trigger_source) == 0x4, "trigger_source offset");
static_assert(offsetof(dso_record, reserved_1) == 0x5, "reserved_1 offset");
static_assert(offsetof(dso_record, trigger_value) == 0x6, "trigger_value offset");
static_assert(offsetof(dso_record, trigger_edge) == 0x8, "trigger_edge offset");
static_assert(offsetof(dso_record, sample_rate_index) == 0xC, "sample_rate_index offset");
static_assert(offsetof(dso_record, capture_mode) == 0xD, "capture_mode offset");
static_assert(offsetof(dso_record, channel_a) == 0xE, "channel_a offset");
static_assert(offsetof(dso_record, channel_b) == 0x6000E, "channel_b lies behind channel_a");
static_assert(offsetof(dso_record, sample_area) == 0xE, "sample_area offset");
static_assert(offsetof(dso_record, reserved_2) == 0xC000E, "reserved_2 offset");
static_assert(sizeof(dso_record) == DSO_IMAGE_SIZE, "the record is the 786,448-byte image");

extern dso_record dso_structure;

// Start-up settings of the header: Dual Channel, external trigger, everything else 0.
// The reserved fields are left alone.
void set_capture_defaults();

// The mode as the capture settings dialog names it ("Dual Channel", "Single Channel", "16 Bit
// Logic Analyser", "Mixed Mode"); nullptr for a mode this program does not know.
const char* capture_mode_title(int8_t capture_mode);

// Samples in the record under a capture_mode: 0xC0000 in Single Channel (one trace), 0x60000
// in the other three modes, 0 for a mode this program does not know.
int32_t samples_in_mode(int8_t capture_mode);

// Samples per second of that sequence: each converter takes 50 MHz / 2^index, the Single
// Channel trace twice that. 0 when the index is not one of the six rates (-1: none chosen)
// or the mode is unknown.
double sample_rate_hz(int8_t capture_mode, int8_t sample_rate_index);

void clear_channels();  // every sample to 0x80
void copy_a_to_b();
void copy_b_to_a();
void swap_channels();

// Keeps a paint from reading the sample buffers while the capture thread lays a download
// into them: both hold this guard for the whole of their pass. Nothing else takes it, and
// no message is sent while it is held.
class record_buffers_guard {
public:
    record_buffers_guard();
    ~record_buffers_guard();
    record_buffers_guard(const record_buffers_guard&) = delete;
    record_buffers_guard& operator=(const record_buffers_guard&) = delete;
};
