// The channels of a capture as the export formats name them, and the stretch of samples an
// export takes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "capture/dso_structure.h"

constexpr int MAX_CAPTURE_CHANNELS = 18;

enum class channel_kind : uint8_t { logic, analogue };

struct capture_channel {
    char name[4];          // "D0".."D15", "A", "B"
    channel_kind kind;
    int8_t input;          // logic: the input's number 0..15; analogue: -1
    const uint8_t* bytes;  // sample k of the mode's sequence is bytes[k * stride]
    int32_t stride;        // 1, or 2 for the 16-bit words of 16 Bit Logic
    uint8_t mask;          // logic: the input's bit within its byte; analogue: 0

    bool high(int32_t k) const { return (bytes[k * stride] & mask) != 0; }
    uint8_t code(int32_t k) const { return bytes[k * stride]; }
};

// The values an export writes for an analogue channel's codes: (code - zero_code) * per_code;
// per_code 0 writes code - 0x80, as the exports always have.
struct analogue_scale {
    double per_code = 0;
    int zero_code = ZERO_LEVEL;

    double value(uint8_t code) const { return per_code > 0 ? (code - zero_code) * per_code : code - ZERO_LEVEL; }
};

// The channels of the record's mode, logic inputs first from D0 up, then the analogue ones:
//   Dual Channel    A (channel_a), B (channel_b)
//   Single Channel  A (the whole trace of sample_area)
//   16 Bit Logic    D0..D15 (the words of sample_area: D0..D7 the low byte)
//   Mixed Mode      D0..D7 (channel_a), B (channel_b)
//   any other mode  none.
int capture_channels(const dso_record& record, capture_channel out[MAX_CAPTURE_CHANNELS]);

// Keeps the channels that a comma-separated list names ("D0,D3,A"; names as above, any
// case), in the capture's order, or with in_list_order in the list's, where a channel
// named twice is refused. false, with a message that names the first unknown name and the
// mode's channels, when a name is not one of them, and when the list names none.
bool select_channels(const char* list, capture_channel channels[], int& count, char* message, std::size_t size,
                     bool in_list_order = false);

// A stretch of samples by the view range's rules over the mode's samples: a negative end
// becomes 0, a last beyond the mode's last sample becomes that sample, and the stretch must
// then hold at least two samples (first below last). false when it does not.
bool export_range(int8_t capture_mode, int64_t first, int64_t last, int32_t& range_first, int32_t& range_last);
