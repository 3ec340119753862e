#include "analysis/autoset.h"

#include <cmath>

#include "analysis/measurements.h"

namespace {

constexpr int8_t SLOWEST_RATE = 5;

// The rate of the mode at which the whole capture holds nearest AUTOSET_PERIODS periods.
int8_t rate_for(double frequency_hz, int8_t mode) {
    int8_t best = 0;
    double best_distance = INFINITY;
    for (int8_t i = 0; i <= SLOWEST_RATE; ++i) {
        const double periods = samples_in_mode(mode) / sample_rate_hz(mode, i) * frequency_hz;
        const double distance = std::fabs(std::log2(periods / AUTOSET_PERIODS));
        if (distance < best_distance) {
            best_distance = distance;
            best = i;
        }
    }
    return best;
}

}  // namespace

run_settings autoset_probe(int8_t rate_index) {
    run_settings h{};
    h.capture_mode = MODE_DUAL;
    h.sample_rate_index = rate_index;
    h.trigger_source = TRIGGER_NONE;
    h.trigger_value = 0;
    h.trigger_edge = 0;
    h.pretrigger = 0;
    return h;
}

autoset_step autoset_from_capture(const dso_record& record, char only, autoset_finding& finding,
                                  run_settings& proposal) {
    finding = autoset_finding();
    const int32_t samples = samples_in_mode(MODE_DUAL);
    const uint8_t* channels[2] = {record.channel_a, record.channel_b};
    analogue_figures figures[2];
    int strongest = -1;
    for (int c = 0; c < 2; ++c) {
        if (only != 0 && only != "AB"[c]) continue;
        measure_analogue(channels[c], samples, figures[c]);
        const int span = figures[c].max - figures[c].min;
        if (span >= AUTOSET_MIN_PEAK_TO_PEAK && (strongest < 0 || span > figures[strongest].max - figures[strongest].min))
            strongest = c;
    }
    // A signal much slower than the fast capture may not move within it: the slow one decides.
    if (strongest < 0) return record.sample_rate_index < SLOWEST_RATE ? autoset_step::slower : autoset_step::no_signal;
    const analogue_figures& f = figures[strongest];
    finding.channel = "AB"[strongest];
    finding.low = f.min;
    finding.high = f.max;
    finding.middle = static_cast<uint8_t>((f.min + f.max + 1) / 2);
    finding.whole_periods = f.periodic.whole_periods;
    finding.period_samples = f.periodic.period_samples;
    // Two whole periods at least, so that the frequency is that of a repeating signal.
    if (f.periodic.whole_periods < 2)
        return record.sample_rate_index < SLOWEST_RATE ? autoset_step::slower : autoset_step::no_signal;
    finding.frequency_hz = sample_rate_hz(MODE_DUAL, record.sample_rate_index) / f.periodic.period_samples;

    proposal = run_settings{};
    proposal.capture_mode = MODE_DUAL;
    proposal.sample_rate_index = rate_for(finding.frequency_hz, MODE_DUAL);
    proposal.trigger_source = strongest == 0 ? TRIGGER_CHANNEL_A : TRIGGER_CHANNEL_B;
    int level = finding.middle - TRIGGER_LEVEL_OFFSET;
    if (level < -126) level = -126;  // the settings' range of levels
    if (level > 127) level = 127;
    proposal.trigger_value = static_cast<uint16_t>(level + TRIGGER_LEVEL_OFFSET);
    proposal.trigger_edge = 0;
    proposal.pretrigger = samples / 4;
    return autoset_step::proposed;
}
