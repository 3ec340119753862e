// The converters' own linearity by the code-density (histogram) test of IEEE 1241: a signal
// of known shape that spans the range, a triangle or a sine (which may overdrive the range a
// little), sampled many times; how often each code comes gives its width. A triangle's codes
// come equally often; a sine's are corrected by its arcsine distribution, the transition
// levels coming from the cumulative histogram as T[k] = -cos(pi * F[k]).
//
// The lowest and the highest code the signal reaches are not judged: they hold the signal's
// peaks (or what overdrives the range). DNL and INL are in LSB; INL is each code's lower
// transition against the straight line through the first and last judged transitions.
#pragma once
#include <cstdint>

#include "capture/dso_structure.h"

enum class linearity_signal : uint8_t { detect, triangle, sine };

// Why a test could not be made; none when it was.
enum class linearity_gap : uint8_t {
    none,
    narrow,       // the signal spans fewer than LINEARITY_MIN_CODES codes
    few_samples,  // fewer than LINEARITY_MIN_HITS samples a judged code on average
};
const char* linearity_gap_words(linearity_gap gap);

constexpr int LINEARITY_MIN_CODES = 16;
constexpr double LINEARITY_MIN_HITS = 20;

struct code_density {
    linearity_gap gap = linearity_gap::none;
    linearity_signal signal = linearity_signal::triangle;  // as given, or as the histogram's shape shows
    bool detected = false;                                 // the shape was detected, not given
    int64_t samples = 0;
    int lowest = 0, highest = 0;  // the codes reached
    int first = 0, last = 0;      // the codes judged: lowest + 1 .. highest - 1
    int64_t hits[256] = {};
    double dnl[256] = {};  // judged codes only
    double inl[256] = {};
    int missing_codes = 0;  // judged codes that never came
    int worst_dnl_code = 0, worst_inl_code = 0;
    double worst_dnl = 0, worst_inl = 0;  // the largest in magnitude, with its sign
    double mean = 0;                      // of the codes
    double std_dev = 0;
};

// count codes, every stride-th byte from samples; of them, the whole periods of the signal
// (from its first rise through the middle of its range to its last), where it has some.
void code_density_test(const uint8_t* samples, int32_t count, int32_t stride, linearity_signal signal,
                       code_density& out);

// A capture's converters: the analogue channel's (Dual Channel: A or B; Mixed Mode: B) or, in
// Single Channel (channel 'A'), the trace and each converter on its own (even samples: the
// first converter, FIFO A; odd: the second), with the offset (mean of the odd minus the even,
// in codes) and gain (the odd's spread over the even's) between them.
struct capture_linearity {
    char channel = 0;  // 'A' or 'B'; 0: the capture has no such channel
    code_density whole;
    bool interleaved = false;  // Single Channel
    code_density even, odd;
    double offset = 0, gain = 1;
};
void capture_linearity_test(const dso_record& record, char channel, linearity_signal signal, capture_linearity& out);
