#include "analysis/linearity.h"

#include <cmath>

#include "capture/capture_channels.h"

const char* linearity_gap_words(linearity_gap gap) {
    switch (gap) {
    case linearity_gap::none: return "";
    case linearity_gap::narrow: return "the signal spans too few codes for a code-density test (at least 16)";
    case linearity_gap::few_samples: return "too few samples a code for a code-density test (at least 20 on average)";
    }
    return "";
}

namespace {

constexpr double PI = 3.14159265358979323846;
// A sine comes this many times as often near its peaks (the outer tenth of the codes) as in
// the middle half; a triangle equally often everywhere.
constexpr double SINE_SHAPE = 1.5;

double mean_hits(const code_density& d, int from, int to) {
    double sum = 0;
    int n = 0;
    for (int c = from; c <= to; ++c, ++n) sum += static_cast<double>(d.hits[c]);
    return n > 0 ? sum / n : 0;
}

// The samples from the first to the last rise through the middle of the range: whole periods
// of the signal, so that a part period does not weigh some codes more than others. A rise is
// counted from below middle - range / 8 to above middle + range / 8, against noise. false when
// the signal has no whole period (the test then takes every sample).
bool whole_periods(const uint8_t* samples, int32_t count, int32_t stride, int32_t& first, int32_t& last) {
    int lowest = 255, highest = 0;
    for (int32_t k = 0; k < count; ++k) {
        const int c = samples[static_cast<int64_t>(k) * stride];
        lowest = c < lowest ? c : lowest;
        highest = c > highest ? c : highest;
    }
    const int range = highest - lowest;
    if (range < LINEARITY_MIN_CODES) return false;
    const double middle = (lowest + highest) / 2.0, low = middle - range / 8.0, high = middle + range / 8.0;
    bool armed = false;
    int32_t crossing = -1, first_rise = -1, last_rise = -1;
    for (int32_t k = 0; k < count; ++k) {
        const int c = samples[static_cast<int64_t>(k) * stride];
        if (c < low) armed = true, crossing = -1;
        else if (armed && crossing < 0 && c >= middle) crossing = k;
        if (armed && c > high && crossing >= 0) {
            if (first_rise < 0) first_rise = crossing;
            last_rise = crossing;
            armed = false;
        }
    }
    if (first_rise < 0 || last_rise <= first_rise) return false;
    first = first_rise;
    last = last_rise - 1;
    return true;
}

}  // namespace

void code_density_test(const uint8_t* samples, int32_t count, int32_t stride, linearity_signal signal,
                       code_density& d) {
    d = code_density{};
    int32_t from = 0, to = count - 1;
    if (whole_periods(samples, count, stride, from, to)) {
        samples += static_cast<int64_t>(from) * stride;
        count = to - from + 1;
    }
    double sum = 0, squares = 0;
    for (int32_t k = 0; k < count; ++k) {
        const uint8_t c = samples[static_cast<int64_t>(k) * stride];
        ++d.hits[c];
    }
    for (int c = 0; c < 256; ++c) {
        sum += static_cast<double>(d.hits[c]) * c;
        squares += static_cast<double>(d.hits[c]) * c * c;
    }
    d.samples = count;
    d.mean = count > 0 ? sum / count : 0;
    d.std_dev = count > 1 ? std::sqrt(std::fmax(0, (squares - sum * sum / count) / (count - 1))) : 0;
    d.lowest = 0;
    d.highest = 255;
    while (d.lowest < 255 && d.hits[d.lowest] == 0) ++d.lowest;
    while (d.highest > 0 && d.hits[d.highest] == 0) --d.highest;
    d.first = d.lowest + 1;
    d.last = d.highest - 1;
    const int judged = d.last - d.first + 1;
    if (count < 2 || judged < LINEARITY_MIN_CODES) {
        d.gap = linearity_gap::narrow;
        return;
    }
    if (mean_hits(d, d.first, d.last) < LINEARITY_MIN_HITS) {
        d.gap = linearity_gap::few_samples;
        return;
    }
    d.signal = signal;
    if (signal == linearity_signal::detect) {
        const int tenth = judged / 10 > 0 ? judged / 10 : 1;
        const double outer = (mean_hits(d, d.first, d.first + tenth - 1) + mean_hits(d, d.last - tenth + 1, d.last)) / 2;
        const double middle = mean_hits(d, d.first + judged / 4, d.last - judged / 4);
        d.signal = middle > 0 && outer >= SINE_SHAPE * middle ? linearity_signal::sine : linearity_signal::triangle;
        d.detected = true;
    }

    // The transition levels into each judged code and out of the last, on the signal's scale.
    double transition[257];
    int64_t below = 0;
    for (int c = 0; c < d.first; ++c) below += d.hits[c];
    for (int c = d.first; c <= d.last + 1; ++c) {
        const double fraction = static_cast<double>(below) / static_cast<double>(count);
        transition[c] = d.signal == linearity_signal::sine ? -std::cos(PI * fraction) : fraction;
        below += d.hits[c];
    }
    const double width = (transition[d.last + 1] - transition[d.first]) / judged;
    double inl = 0;
    for (int c = d.first; c <= d.last; ++c) {
        d.inl[c] = inl;
        d.dnl[c] = (transition[c + 1] - transition[c]) / width - 1;
        inl += d.dnl[c];
        if (d.hits[c] == 0) ++d.missing_codes;
        if (std::fabs(d.dnl[c]) > std::fabs(d.worst_dnl)) d.worst_dnl = d.dnl[c], d.worst_dnl_code = c;
        if (std::fabs(d.inl[c]) > std::fabs(d.worst_inl)) d.worst_inl = d.inl[c], d.worst_inl_code = c;
    }
    if (d.worst_dnl == 0) d.worst_dnl_code = d.first;
    if (d.worst_inl == 0) d.worst_inl_code = d.first;
}

void capture_linearity_test(const dso_record& record, char channel, linearity_signal signal, capture_linearity& out) {
    out = capture_linearity{};
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(record, channels);
    const int32_t samples = samples_in_mode(record.capture_mode);
    for (int i = 0; i < count; ++i) {
        const capture_channel& c = channels[i];
        if (c.kind != channel_kind::analogue || c.name[0] != channel) continue;
        out.channel = channel;
        code_density_test(c.bytes, samples, c.stride, signal, out.whole);
        if (record.capture_mode != MODE_SINGLE) return;
        // Each converter on its own, with the shape the whole trace shows.
        out.interleaved = true;
        const linearity_signal shape = out.whole.gap == linearity_gap::none ? out.whole.signal : signal;
        code_density_test(c.bytes, samples / 2, 2 * c.stride, shape, out.even);
        code_density_test(c.bytes + c.stride, samples / 2, 2 * c.stride, shape, out.odd);
        out.offset = out.odd.mean - out.even.mean;
        out.gain = out.even.std_dev > 0 ? out.odd.std_dev / out.even.std_dev : 0;
        return;
    }
}
