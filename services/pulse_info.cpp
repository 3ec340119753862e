#include "services/pulse_info.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "services/capture_info.h"

using json = nlohmann::ordered_json;

namespace {

const char* const NO_RATE = "the sample rate is unknown";

// A figure, or null with its reason kept in why under name.
void put(json& j, json& why, const char* name, const pulse_value& v, double factor = 1, double offset = 0) {
    if (v.known()) {
        j[name] = v.value * factor + offset;
    } else {
        j[name] = nullptr;
        why[name] = pulse_gap_words(v.gap);
    }
}

void put_time(json& j, json& why, const char* name, const pulse_value& v, double rate, double per_sample = 1) {
    if (v.known() && !(rate > 0)) {
        j[name] = nullptr;
        why[name] = NO_RATE;
        return;
    }
    put(j, why, name, v, rate > 0 ? per_sample / rate : 0);
}

std::string dash(pulse_gap gap) { return std::string("\u2014 (") + pulse_gap_words(gap) + ")"; }

std::string time_text(const pulse_value& v, double rate) {
    if (!v.known()) return dash(v.gap);
    if (!(rate > 0)) {
        char text[48];
        std::snprintf(text, sizeof text, "%.2f samples", v.value);
        return text;
    }
    return si(v.value / rate, "s");
}

}  // namespace

json analogue_pulse_json(const analogue_pulse_figures& p, double rate, const analogue_channel_settings* scale) {
    json j, why = json::object();
    const bool scaled = scale != nullptr && scale->scaled();
    const double k = scaled ? scale->per_code() : 1;
    const double zero = scaled ? -scale->zero_code * k : 0;
    j["unit"] = scaled ? scale->unit : "codes";
    j["method"] = p.top.known() ? json(p.histogram_mode ? "histogram_mode" : "min_max") : json(nullptr);
    put(j, why, "top", p.top, k, zero);
    put(j, why, "base", p.base, k, zero);
    put(j, why, "amplitude", p.amplitude, k);
    put(j, why, "overshoot_percent", p.overshoot);
    put(j, why, "undershoot_percent", p.undershoot);
    put_time(j, why, "rise_time_s", p.rise_time, rate);
    put_time(j, why, "fall_time_s", p.fall_time, rate);
    j["rises"] = p.rises;
    j["falls"] = p.falls;
    put_time(j, why, "positive_width_s", p.positive_width, rate);
    put_time(j, why, "negative_width_s", p.negative_width, rate);
    j["positive_pulses"] = p.positive_pulses;
    j["negative_pulses"] = p.negative_pulses;
    // Codes (or units) a sample, into a second.
    put_time(j, why, "rise_slew_per_s", p.rise_slew, rate > 0 ? 1 / rate : 0, k);
    put_time(j, why, "fall_slew_per_s", p.fall_slew, rate > 0 ? 1 / rate : 0, k);
    j["missing"] = why;
    return j;
}

json logic_pulse_json(const logic_pulse_figures& p, double rate) {
    json j, why = json::object();
    put_time(j, why, "shortest_high_s", p.shortest_high, rate);
    put_time(j, why, "longest_high_s", p.longest_high, rate);
    put_time(j, why, "shortest_low_s", p.shortest_low, rate);
    put_time(j, why, "longest_low_s", p.longest_low, rate);
    j["high_pulses"] = p.high_pulses;
    j["low_pulses"] = p.low_pulses;
    j["missing"] = why;
    return j;
}

void add_pulse_json(json& document, const dso_record& record, int32_t first, int32_t last,
                    const channel_settings* channels) {
    const auto pulses = std::make_unique<capture_pulse_figures>();
    measure_capture_pulses(record, first, last, *pulses);
    const double rate = sample_rate_hz(record.capture_mode, record.sample_rate_index);
    json& analogue = document["analogue"];
    for (int c = 0; c < pulses->analogue_channels && c < static_cast<int>(analogue.size()); ++c) {
        const char name[2] = {pulses->analogue_name[c], '\0'};
        const analogue_channel_settings* scale = channels != nullptr ? channels->analogue_named(name) : nullptr;
        analogue[static_cast<size_t>(c)]["pulse"] = analogue_pulse_json(pulses->analogue[c], rate, scale);
    }
    json& logic = document["logic"];
    for (int b = 0; b < pulses->logic_inputs && b < static_cast<int>(logic.size()); ++b)
        logic[static_cast<size_t>(b)]["pulse"] = logic_pulse_json(pulses->logic[b], rate);
}

std::string analogue_pulse_text(const analogue_pulse_figures& p, double rate, const analogue_channel_settings* scale) {
    if (!p.top.known()) return "  pulse       " + dash(p.top.gap) + "\n";
    const bool scaled = scale != nullptr && scale->scaled();
    char line[256];
    std::string text;
    if (scaled) {
        std::snprintf(line, sizeof line, "  top/base    %s / %s, amplitude %s (%s)\n",
                      in_unit(scale->value(p.top.value), scale->unit).c_str(),
                      in_unit(scale->value(p.base.value), scale->unit).c_str(),
                      in_unit(p.amplitude.value * scale->per_code(), scale->unit).c_str(),
                      p.histogram_mode ? "histogram mode" : "min/max: no level stands out");
    } else {
        std::snprintf(line, sizeof line, "  top/base    %.0f (%+.0f) / %.0f (%+.0f), amplitude %.0f codes (%s)\n",
                      p.top.value, p.top.value - 128, p.base.value, p.base.value - 128, p.amplitude.value,
                      p.histogram_mode ? "histogram mode" : "min/max: no level stands out");
    }
    text += line;
    std::snprintf(line, sizeof line, "  overshoot   %.1f %%, undershoot %.1f %%\n", p.overshoot.value, p.undershoot.value);
    text += line;
    const auto slew = [&](const pulse_value& v) -> std::string {
        if (!v.known() || !(rate > 0)) return "";
        const double per_second = v.value * rate * (scaled ? scale->per_code() : 1);
        return ", slew " + (scaled ? in_unit(per_second, scale->unit) : si(per_second, "codes")) + "/s";
    };
    const auto transition = [&](const char* label, const pulse_value& v, int32_t n, const pulse_value& s) {
        char row[256];
        if (v.known())
            std::snprintf(row, sizeof row, "  %-11s %s (10-90 %%, mean of %d)%s\n", label, time_text(v, rate).c_str(),
                          n, slew(s).c_str());
        else
            std::snprintf(row, sizeof row, "  %-11s %s\n", label, dash(v.gap).c_str());
        text += row;
    };
    transition("rise time", p.rise_time, p.rises, p.rise_slew);
    transition("fall time", p.fall_time, p.falls, p.fall_slew);
    std::snprintf(line, sizeof line, "  width       positive %s, negative %s (at 50 %%)\n",
                  time_text(p.positive_width, rate).c_str(), time_text(p.negative_width, rate).c_str());
    text += line;
    return text;
}

std::string logic_pulse_text(const logic_pulse_figures& p, double rate) {
    if (!p.shortest_high.known() && !p.shortest_low.known()) return std::string("\u2014 (no complete pulse)");
    return "high " + time_text(p.shortest_high, rate) + (p.shortest_high.known() ? " .. " + time_text(p.longest_high, rate) : "") +
           ", low " + time_text(p.shortest_low, rate) + (p.shortest_low.known() ? " .. " + time_text(p.longest_low, rate) : "");
}
