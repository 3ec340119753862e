#include "analysis/pulse.h"

#include <cstring>

#include "capture/capture_channels.h"
#include "capture/dso_structure.h"

const char* pulse_gap_words(pulse_gap gap) {
    switch (gap) {
    case pulse_gap::none: return "";
    case pulse_gap::flat: return "a flat line: no two states to measure between";
    case pulse_gap::no_rising: return "no complete rising transition";
    case pulse_gap::no_falling: return "no complete falling transition";
    case pulse_gap::no_high_pulse: return "no complete high pulse";
    case pulse_gap::no_low_pulse: return "no complete low pulse";
    }
    return "";
}

namespace {

pulse_value missing(pulse_gap gap) {
    pulse_value v;
    v.gap = gap;
    return v;
}

pulse_value known(double value) {
    pulse_value v;
    v.value = value;
    return v;
}

// A state level by the histogram mode method over codes from..to (one half of the range):
// the code that holds the most samples, nearest the outside on a tie (step -1 for the top
// half, which counts down from max). peaked: that code holds at least PEAK_SHARE times the
// half's mean count of a code, so that the level stands out from the transitions.
constexpr double PEAK_SHARE = 1.5;

int half_mode(const int64_t histogram[256], int outer, int inner, bool& peaked) {
    const int step = inner >= outer ? 1 : -1;
    int64_t best = -1, total = 0;
    int code = outer, codes = 0;
    for (int c = outer;; c += step) {
        total += histogram[c];
        ++codes;
        if (histogram[c] > best) best = histogram[c], code = c;
        if (c == inner) break;
    }
    peaked = codes > 0 && static_cast<double>(best) >= PEAK_SHARE * static_cast<double>(total) / codes;
    return code;
}

// The instant a level is crossed between samples i - 1 (value a) and i (value b).
inline double crossing(int32_t i, double a, double b, double level) {
    return static_cast<double>(i - 1) + (level - a) / (b - a);
}

}  // namespace

void measure_pulse(const uint8_t* samples, int32_t count, int32_t stride, analogue_pulse_figures& out) {
    out = analogue_pulse_figures{};
    int64_t histogram[256] = {};
    for (int32_t k = 0; k < count; ++k) ++histogram[samples[static_cast<int64_t>(k) * stride]];
    int lowest = 0, highest = 255;
    while (lowest < 255 && histogram[lowest] == 0) ++lowest;
    while (highest > 0 && histogram[highest] == 0) --highest;
    if (count < 2 || highest - lowest < PULSE_MIN_RANGE) {
        const pulse_value flat = missing(pulse_gap::flat);
        out.top = out.base = out.amplitude = out.overshoot = out.undershoot = flat;
        out.rise_time = out.fall_time = out.positive_width = out.negative_width = flat;
        out.rise_slew = out.fall_slew = flat;
        return;
    }

    // The two halves meet at the middle of the range: the lower one takes the codes below it.
    const int middle = (lowest + highest + 1) / 2;
    bool top_peaked = false, base_peaked = false;
    int top = half_mode(histogram, highest, middle, top_peaked);
    int base = half_mode(histogram, lowest, middle - 1, base_peaked);
    if (!top_peaked) top = highest;
    if (!base_peaked) base = lowest;
    out.histogram_mode = top_peaked && base_peaked;
    const double amplitude = top - base;
    out.top = known(top);
    out.base = known(base);
    out.amplitude = known(amplitude);
    out.overshoot = known(100.0 * (highest - top) / amplitude);
    out.undershoot = known(100.0 * (base - lowest) / amplitude);

    const double l10 = base + 0.1 * amplitude, l50 = base + 0.5 * amplitude, l90 = base + 0.9 * amplitude;
    enum { UNKNOWN, LOW, HIGH } state = UNKNOWN;
    double last_cross_start = 0;  // the last crossing of the 10 % level upwards (90 % downwards)
    double last_cross_middle = 0;  // and of the 50 % level
    double rise_sum = 0, fall_sum = 0;
    double previous_middle = 0;  // the 50 % instant of the last complete transition
    int previous_kind = 0;       // 1 rise, -1 fall, 0 none yet
    double high_sum = 0, low_sum = 0;

    double before = samples[0];
    if (before < l10) state = LOW;
    else if (before > l90) state = HIGH;
    for (int32_t i = 1; i < count; ++i) {
        const double x = samples[static_cast<int64_t>(i) * stride];
        if (state == LOW) {
            if (before < l10 && x >= l10) last_cross_start = crossing(i, before, x, l10);
            if (before < l50 && x >= l50) last_cross_middle = crossing(i, before, x, l50);
            if (x > l90) {
                const double end = crossing(i, before, x, l90);
                rise_sum += end - last_cross_start;
                ++out.rises;
                if (previous_kind == -1) {
                    low_sum += last_cross_middle - previous_middle;
                    ++out.negative_pulses;
                }
                previous_kind = 1;
                previous_middle = last_cross_middle;
                state = HIGH;
            }
        } else if (state == HIGH) {
            if (before > l90 && x <= l90) last_cross_start = crossing(i, before, x, l90);
            if (before > l50 && x <= l50) last_cross_middle = crossing(i, before, x, l50);
            if (x < l10) {
                const double end = crossing(i, before, x, l10);
                fall_sum += end - last_cross_start;
                ++out.falls;
                if (previous_kind == 1) {
                    high_sum += last_cross_middle - previous_middle;
                    ++out.positive_pulses;
                }
                previous_kind = -1;
                previous_middle = last_cross_middle;
                state = LOW;
            }
        } else if (x < l10) {
            state = LOW;  // the first state reached: no transition into it
        } else if (x > l90) {
            state = HIGH;
        }
        before = x;
    }

    const double span = 0.8 * amplitude;
    if (out.rises > 0) {
        out.rise_time = known(rise_sum / out.rises);
        out.rise_slew = known(out.rise_time.value > 0 ? span / out.rise_time.value : span);
    } else {
        out.rise_time = out.rise_slew = missing(pulse_gap::no_rising);
    }
    if (out.falls > 0) {
        out.fall_time = known(fall_sum / out.falls);
        out.fall_slew = known(out.fall_time.value > 0 ? -span / out.fall_time.value : -span);
    } else {
        out.fall_time = out.fall_slew = missing(pulse_gap::no_falling);
    }
    out.positive_width = out.positive_pulses > 0 ? known(high_sum / out.positive_pulses) : missing(pulse_gap::no_high_pulse);
    out.negative_width = out.negative_pulses > 0 ? known(low_sum / out.negative_pulses) : missing(pulse_gap::no_low_pulse);
}

void measure_logic_pulses(const uint8_t* samples, int32_t count, int inputs, logic_pulse_figures out[]) {
    int32_t last_change[16];
    int32_t shortest_high[16], longest_high[16], shortest_low[16], longest_low[16];
    for (int b = 0; b < inputs; ++b) {
        out[b] = logic_pulse_figures{};
        last_change[b] = -1;
        shortest_high[b] = shortest_low[b] = INT32_MAX;
        longest_high[b] = longest_low[b] = 0;
    }
    const auto word = [&](int32_t k) -> unsigned {
        return inputs == 16 ? static_cast<unsigned>(samples[2 * k]) | static_cast<unsigned>(samples[2 * k + 1]) << 8
                            : samples[k];
    };
    if (count > 0) {
        unsigned previous = word(0);
        for (int32_t k = 1; k < count; ++k) {
            const unsigned w = word(k);
            unsigned changed = (w ^ previous) & ((1u << inputs) - 1);
            previous = w;
            while (changed != 0) {
                const int b = __builtin_ctz(changed);
                changed &= changed - 1;
                if (last_change[b] >= 0) {
                    const int32_t length = k - last_change[b];
                    // The bit is now what it was not during the pulse that ends here.
                    if ((w >> b) & 1u) {
                        ++out[b].low_pulses;
                        if (length < shortest_low[b]) shortest_low[b] = length;
                        if (length > longest_low[b]) longest_low[b] = length;
                    } else {
                        ++out[b].high_pulses;
                        if (length < shortest_high[b]) shortest_high[b] = length;
                        if (length > longest_high[b]) longest_high[b] = length;
                    }
                }
                last_change[b] = k;
            }
        }
    }
    for (int b = 0; b < inputs; ++b) {
        if (out[b].high_pulses > 0) {
            out[b].shortest_high = known(shortest_high[b]);
            out[b].longest_high = known(longest_high[b]);
        } else {
            out[b].shortest_high = out[b].longest_high = missing(pulse_gap::no_high_pulse);
        }
        if (out[b].low_pulses > 0) {
            out[b].shortest_low = known(shortest_low[b]);
            out[b].longest_low = known(longest_low[b]);
        } else {
            out[b].shortest_low = out[b].longest_low = missing(pulse_gap::no_low_pulse);
        }
    }
}

void measure_capture_pulses(const dso_record& record, int32_t first, int32_t last, capture_pulse_figures& out) {
    out.analogue_channels = 0;
    out.logic_inputs = 0;
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(record, channels);
    const int32_t samples = last - first + 1;
    if (samples < 1) return;
    const capture_channel* first_logic = nullptr;
    for (int i = 0; i < count; ++i) {
        const capture_channel& c = channels[i];
        if (c.kind == channel_kind::analogue && out.analogue_channels < 2) {
            out.analogue_name[out.analogue_channels] = c.name[0];
            measure_pulse(c.bytes + static_cast<int64_t>(first) * c.stride, samples, c.stride,
                          out.analogue[out.analogue_channels]);
            ++out.analogue_channels;
        } else if (c.kind == channel_kind::logic) {
            if (first_logic == nullptr) first_logic = &c;
            ++out.logic_inputs;
        }
    }
    // D0 is bit 0 of the first byte of each sample: the words (or bytes) start there.
    if (first_logic != nullptr)
        measure_logic_pulses(first_logic->bytes + static_cast<int64_t>(first) * first_logic->stride, samples,
                             out.logic_inputs, out.logic);
}
