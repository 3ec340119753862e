// Pulse figures of a channel as IEEE 181 defines them: the two state levels (top and base)
// by the histogram mode method, amplitude, the transition durations between the 10 % and
// 90 % reference levels, overshoot and undershoot, the pulse widths at the 50 % level and
// the slew rates; and of a logic input, its shortest and longest high and low pulse.
//
// Everything is in codes and samples; the front ends turn them into a channel's unit and into
// seconds. A figure that cannot be had is marked so, with the reason, never given as a number.
#pragma once
#include <cstdint>

#include "capture/dso_structure.h"

// Why a figure is missing; none when it is there.
enum class pulse_gap : uint8_t {
    none,
    flat,             // the channel stays within a few codes: no two states
    no_rising,        // no complete rising transition (base below 10 % to top above 90 %)
    no_falling,       // no complete falling transition
    no_high_pulse,    // no rising transition followed by a falling one
    no_low_pulse,     // no falling transition followed by a rising one
};

// Words for a gap: "a flat line: no two states", "no complete rising transition"...
const char* pulse_gap_words(pulse_gap gap);

struct pulse_value {
    double value = 0;
    pulse_gap gap = pulse_gap::none;
    bool known() const { return gap == pulse_gap::none; }
};

// Below this range (max - min, in codes) a channel is a flat line for the pulse figures, as it
// holds no periodic signal for the measurements.
constexpr int PULSE_MIN_RANGE = 16;

struct analogue_pulse_figures {
    // The state levels: histogram_mode when each half of the range (split at the middle of min
    // and max) has a code that holds clearly more samples than the rest of that half, the
    // histogram mode method; where a half has no such peak (a triangle, a ramp) the level is that
    // half's extreme (the min/max method) and histogram_mode is false.
    bool histogram_mode = true;
    pulse_value top, base, amplitude;  // codes; amplitude = top - base
    // (max - top) and (base - min) in percent of the amplitude, over the whole record.
    pulse_value overshoot, undershoot;
    // Mean over the complete transitions: from the last crossing of the 10 % level (90 % for a
    // fall) before the signal reaches 90 % (10 %), to that crossing, each instant interpolated
    // between the two samples around it. In samples.
    pulse_value rise_time, fall_time;
    int32_t rises = 0, falls = 0;  // complete transitions
    // Mean widths at the 50 % level, from one transition's 50 % instant to the next one's: high
    // (rise to fall) and low (fall to rise), in samples.
    pulse_value positive_width, negative_width;
    int32_t positive_pulses = 0, negative_pulses = 0;
    // 80 % of the amplitude over the rise (fall) time: codes per sample; the fall's is negative.
    pulse_value rise_slew, fall_slew;
};

// count codes, every stride-th byte from samples (count >= 1).
void measure_pulse(const uint8_t* samples, int32_t count, int32_t stride, analogue_pulse_figures& out);

struct logic_pulse_figures {
    // Pulses bounded by two transitions within the record (the stretches before the first and
    // after the last transition are not whole pulses), in samples.
    pulse_value shortest_high, longest_high, shortest_low, longest_low;
    int32_t high_pulses = 0, low_pulses = 0;
};

// Input bit of count logic samples: bytes, or (inputs 16) little-endian 16-bit words stored as
// byte pairs. out[b] receives input b, for each of inputs inputs (8 or 16).
void measure_logic_pulses(const uint8_t* samples, int32_t count, int inputs, logic_pulse_figures out[]);

// Every channel of a record under its capture_mode, as measure_capture names them (analogue A
// and B, logic inputs 0..15 or 0..7), over samples first..last of the mode's sequence (both
// included, within it).
struct capture_pulse_figures {
    int analogue_channels = 0;
    char analogue_name[2] = {0, 0};
    analogue_pulse_figures analogue[2];
    int logic_inputs = 0;
    logic_pulse_figures logic[16];
};

void measure_capture_pulses(const dso_record& record, int32_t first, int32_t last, capture_pulse_figures& out);
