#include "analysis/figures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/measurements.h"
#include "analysis/pulse.h"

const figure_name analogue_figure_names[ANALOGUE_FIGURES] = {
    {"min", "codes"},          {"max", "codes"},        {"peak_to_peak", "codes"}, {"mean", "codes"},
    {"rms", "codes"},          {"frequency", "Hz"},     {"period", "s"},           {"duty_cycle", "%"},
    {"edges", ""},             {"rising_edges", ""},    {"falling_edges", ""},     {"top", "codes"},
    {"base", "codes"},         {"amplitude", "codes"},  {"overshoot", "%"},        {"undershoot", "%"},
    {"rise_time", "s"},        {"fall_time", "s"},      {"positive_width", "s"},   {"negative_width", "s"},
    {"slew_rate", "codes/s"},
};

const figure_name logic_figure_names[LOGIC_FIGURES] = {
    {"edges", ""},         {"frequency", "Hz"},    {"period", "s"},        {"duty_cycle", "%"},  {"shortest_high", "s"},
    {"longest_high", "s"}, {"shortest_low", "s"},  {"longest_low", "s"},   {"high_pulses", ""},
};

namespace {

struct filler {
    capture_figures& out;
    const char* channel;
    const figure_name* names;
    int at = 0;
    void add(double value, bool known = true) {
        figure_value& f = out.figures[out.count++];
        std::snprintf(f.channel, sizeof f.channel, "%s", channel);
        f.figure = &names[at++];
        f.value = known ? value : 0;
        f.known = known;
    }
    void add(const pulse_value& v, double factor, double offset = 0) { add(v.value * factor + offset, v.known()); }
};

void periodic(filler& f, const periodic_figures& p, double rate) {
    const bool whole = p.whole_periods > 0 && rate > 0;
    f.add(whole ? rate / p.period_samples : 0, whole);
    f.add(whole ? p.period_samples / rate : 0, whole);
    f.add(p.duty_cycle * 100, p.whole_periods > 0);
}

}  // namespace

void measure_figures(const dso_record& record, capture_figures& out) {
    out.capture_mode = record.capture_mode;
    out.count = 0;
    const int32_t samples = samples_in_mode(record.capture_mode);
    if (samples <= 0) return;
    // Large: on the heap, so that several threads measure at once.
    const auto measured = std::make_unique<capture_measurements>();
    const auto pulses = std::make_unique<capture_pulse_figures>();
    measure_capture(record, *measured);
    measure_capture_pulses(record, 0, samples - 1, *pulses);
    const double rate = sample_rate_hz(record.capture_mode, record.sample_rate_index);
    const double per_sample = rate > 0 ? 1 / rate : 0;
    for (int c = 0; c < measured->analogue_channels; ++c) {
        const analogue_figures& a = measured->analogue[c];
        const analogue_pulse_figures& p = pulses->analogue[c];
        const char name[2] = {measured->analogue_name[c], '\0'};
        filler f{out, name, analogue_figure_names};
        f.add(a.min - ZERO_LEVEL);
        f.add(a.max - ZERO_LEVEL);
        f.add(a.max - a.min);
        f.add(a.mean - ZERO_LEVEL);
        f.add(a.rms_relative);
        periodic(f, a.periodic, rate);
        f.add(a.periodic.rising_edges + a.periodic.falling_edges);
        f.add(a.periodic.rising_edges);
        f.add(a.periodic.falling_edges);
        f.add(p.top, 1, -ZERO_LEVEL);
        f.add(p.base, 1, -ZERO_LEVEL);
        f.add(p.amplitude, 1);
        f.add(p.overshoot, 1);
        f.add(p.undershoot, 1);
        const bool timed = rate > 0;
        f.add(p.rise_time.value * per_sample, p.rise_time.known() && timed);
        f.add(p.fall_time.value * per_sample, p.fall_time.known() && timed);
        f.add(p.positive_width.value * per_sample, p.positive_width.known() && timed);
        f.add(p.negative_width.value * per_sample, p.negative_width.known() && timed);
        f.add(p.rise_slew.value * rate, p.rise_slew.known() && timed);
    }
    for (int b = 0; b < measured->logic_inputs; ++b) {
        const logic_figures& l = measured->logic[b];
        const logic_pulse_figures& p = pulses->logic[b];
        const char name[4] = {'D', static_cast<char>(b < 10 ? '0' + b : '1'), static_cast<char>(b < 10 ? 0 : '0' + b - 10), 0};
        filler f{out, name, logic_figure_names};
        f.add(l.transitions);
        periodic(f, l.periodic, rate);
        const bool timed = rate > 0;
        f.add(p.shortest_high.value * per_sample, p.shortest_high.known() && timed);
        f.add(p.longest_high.value * per_sample, p.longest_high.known() && timed);
        f.add(p.shortest_low.value * per_sample, p.shortest_low.known() && timed);
        f.add(p.longest_low.value * per_sample, p.longest_low.known() && timed);
        f.add(p.high_pulses);
    }
}

void measure_math_figures(const dso_record& record, math_op op, capture_figures& out) {
    const int32_t samples = samples_in_mode(record.capture_mode);
    if (samples <= 0 || out.count + MATH_FIGURES > MAX_FIGURES) return;
    std::vector<double> values(static_cast<size_t>(samples));
    const math_operand_scale codes;
    compute_math(record, op, codes, codes, 0, samples - 1, values.data());
    math_figures m;
    measure_math(values.data(), samples, math_full_scale(op, codes, codes), m);
    const double rate = sample_rate_hz(record.capture_mode, record.sample_rate_index);
    filler f{out, "M", analogue_figure_names};
    f.add(m.min);
    f.add(m.max);
    f.add(m.max - m.min);
    f.add(m.mean);
    f.add(m.rms);
    periodic(f, m.periodic, rate);
    f.add(m.periodic.rising_edges + m.periodic.falling_edges);
    f.add(m.periodic.rising_edges);
    f.add(m.periodic.falling_edges);
}

const figure_value* find_figure(const capture_figures& out, const char* channel, const char* figure) {
    for (int i = 0; i < out.count; ++i)
        if (std::strcmp(out.figures[i].channel, channel) == 0 && std::strcmp(out.figures[i].figure->name, figure) == 0)
            return &out.figures[i];
    return nullptr;
}

int figure_index(int8_t capture_mode, const char* channel, const char* figure, bool& has_channel) {
    has_channel = false;
    // The channels of each mode, in the order measure_figures lists them.
    const bool analogue_a = capture_mode == MODE_DUAL || capture_mode == MODE_SINGLE;
    const bool analogue_b = capture_mode == MODE_DUAL || capture_mode == MODE_MIXED;
    const int inputs = capture_mode == MODE_LOGIC16 ? 16 : capture_mode == MODE_MIXED ? 8 : 0;
    const int analogue_count = (analogue_a ? 1 : 0) + (analogue_b ? 1 : 0);
    int base = -1;
    const figure_name* names = nullptr;
    int count = 0;
    if (std::strcmp(channel, "A") == 0 && analogue_a) {
        base = 0;
    } else if (std::strcmp(channel, "B") == 0 && analogue_b) {
        base = analogue_a ? ANALOGUE_FIGURES : 0;
    }
    if (base >= 0) {
        names = analogue_figure_names;
        count = ANALOGUE_FIGURES;
    } else if (channel[0] == 'D') {
        int input = -1;
        if (std::strlen(channel) >= 2 && std::strlen(channel) <= 3 && channel[1] >= '0' && channel[1] <= '9' &&
            (channel[2] == '\0' || (channel[1] != '0' && channel[2] >= '0' && channel[2] <= '9')))
            input = std::atoi(channel + 1);
        if (input < 0 || input >= inputs) return -1;
        base = analogue_count * ANALOGUE_FIGURES + input * LOGIC_FIGURES;
        names = logic_figure_names;
        count = LOGIC_FIGURES;
    } else {
        return -1;
    }
    has_channel = true;
    for (int i = 0; i < count; ++i)
        if (std::strcmp(names[i].name, figure) == 0) return base + i;
    return -1;
}
