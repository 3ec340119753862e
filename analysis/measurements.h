// Measurements of a capture: levels of the analogue channels, and frequency, period and
// duty cycle of the analogue channels and logic inputs, counted in samples. The caller turns
// samples into seconds with sample_rate_hz of the record's mode and rate.
#pragma once
#include <cstdint>

#include "capture/dso_structure.h"

// Edges of one signal and what its whole periods show. An analogue signal is high above the
// middle of its range and low below it, with hysteresis against noise; a logic input is
// high while its bit is 1.
//
// Analogue edges come from a Schmitt trigger around the middle (min + max) / 2: it goes
// high at a code at or above the middle (rounded up) + range / 8 and low at or below the
// middle (rounded down) - range / 8, so that noise of a few codes near the middle never
// makes an extra edge. The edge stands where the signal last crossed the middle before the
// trigger went over: the first sample of the run beyond the middle that carried it there (a
// code right on the middle has not crossed yet). The first level the signal reaches sets
// the state without an edge. A range below 16 codes (a flat line, or noise only) gives no
// edges at all. A logic input rises at the first sample of a 1 after a 0 and falls at the
// first 0 after a 1.
struct periodic_figures {
    int32_t rising_edges;   // over the whole record
    int32_t falling_edges;
    // Periods between the first and the last rising edge; 0 when the signal has no whole
    // period in the record ("no periodic signal"), and the two figures below are then 0.
    int32_t whole_periods;
    double period_samples;  // mean period over the whole periods, in samples
    double duty_cycle;      // fraction 0..1 of those periods spent high
};

struct analogue_figures {
    uint8_t min;  // converter codes; 0x80 is the zero level
    uint8_t max;
    double mean;           // of the codes
    double rms;            // root mean square of the codes
    double rms_relative;   // root mean square of (code - 0x80)
    periodic_figures periodic;
};

struct logic_figures {
    int32_t transitions;  // changes of the bit from one sample to the next
    periodic_figures periodic;
};

// One analogue sequence of count codes (count >= 1).
void measure_analogue(const uint8_t* samples, int32_t count, analogue_figures& out);

// The inputs (8 or 16) of count logic samples: bytes, or (inputs 16) little-endian 16-bit
// words stored as byte pairs. out[b] receives input b.
void measure_logic(const uint8_t* samples, int32_t count, int inputs, logic_figures out[]);

// Every channel of a record under its capture_mode:
//   Dual Channel    analogue A (channel_a) and B (channel_b);
//   Single Channel  analogue A, the whole trace of sample_area;
//   16 Bit Logic    logic inputs 0..15 from the words of sample_area;
//   Mixed Mode      analogue B (channel_b) and logic inputs 0..7 (channel_a);
//   any other mode  nothing.
struct capture_measurements {
    int32_t samples;         // samples_in_mode of the record's mode
    int analogue_channels;   // 0, 1 or 2
    char analogue_name[2];   // 'A' or 'B' for each
    analogue_figures analogue[2];
    int logic_inputs;        // 0, 8 or 16
    logic_figures logic[16];
};

void measure_capture(const dso_record& record, capture_measurements& out);
// The same over samples first..last of the mode's sequence (both included, within it):
// out.samples is their number.
void measure_capture_range(const dso_record& record, int32_t first, int32_t last, capture_measurements& out);

// The code that measures: SSE2 where the compiler targets it (every x86-64 build), else the
// portable code, which true here selects even there. Both give identical figures. Threads
// measure at once, each in buffers of its own.
void set_measurements_portable(bool portable);
