#include "services/capture_info.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "capture/capture_channels.h"
#include "services/capture_names.h"
#include "services/pulse_info.h"
#include "services/text_values.h"

using json = nlohmann::ordered_json;

std::string in_unit(double value, const std::string& unit) {
    const bool prefixed = unit.size() > 1 && (std::string("pnumkMG").find(unit[0]) != std::string::npos ||
                                              unit.rfind("\u00b5", 0) == 0);
    if (!prefixed) return si(value, unit.c_str());
    char text[48];
    std::snprintf(text, sizeof text, "%.5g %s", value, unit.c_str());
    return text;
}

std::string si(double value, const char* unit, bool exact) {
    if (value == 0) return "0 " + std::string(unit);
    static const struct {
        double scale;
        const char* prefix;
    } prefixes[] = {{1e9, "G"}, {1e6, "M"}, {1e3, "k"}, {1, ""}, {1e-3, "m"}, {1e-6, "u"}, {1e-9, "n"}, {1e-12, "p"}};
    const double magnitude = std::fabs(value);
    for (const auto& p : prefixes) {
        if (magnitude >= p.scale * 0.999995 || p.scale == 1e-12) {
            const double scaled = value / p.scale;
            const int decimals = std::fabs(scaled) >= 100 ? 2 : std::fabs(scaled) >= 10 ? 3 : 4;
            char text[48];
            if (exact)
                std::snprintf(text, sizeof text, "%.6g %s%s", scaled, p.prefix, unit);
            else
                std::snprintf(text, sizeof text, "%.*f %s%s", decimals, scaled, p.prefix, unit);
            return text;
        }
    }
    return "0 " + std::string(unit);
}

namespace {

// A name as JSON holds it: valid UTF-8 as it is, every byte that is not part of a UTF-8
// sequence written as the four characters \xHH, so that the document stays valid.
std::string valid_text(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
        if (valid && length > 1) {
            // No overlong forms, no surrogates, nothing beyond U+10FFFF.
            uint32_t code = c & (0x7F >> length);
            for (size_t k = 1; k < length; ++k) code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = code >= least[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        }
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
            ++i;
        }
    }
    return out;
}

}  // namespace

std::string signed_number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.*f", decimals, value);
    return text;
}

namespace {

const char* source_option_name(int8_t source) {
    return source >= 0 && source < static_cast<int8_t>(TRIGGER_SOURCE_NAMES.size())
               ? TRIGGER_SOURCE_NAMES[static_cast<size_t>(source)].c_str()
               : nullptr;
}

// The pattern as the settings dialog shows it: 16 bits in 16 Bit Logic, the low 8 in Mixed Mode.
unsigned pattern_of(const dso_record& r) {
    return r.capture_mode == MODE_MIXED ? r.trigger_value & 0xFFu : r.trigger_value;
}

}  // namespace

std::string trigger_words(const dso_record& r) {
    char text[160];
    const char* edge = r.trigger_edge != 0 ? "falling edge" : "rising edge";
    if (is_pattern_trigger(r.capture_mode, r.trigger_source)) {
        std::snprintf(text, sizeof text, "logic inputs %s, pattern 0x%x",
                      r.capture_mode == MODE_MIXED ? "0-7" : "0-15", pattern_of(r));
    } else if (is_level_trigger(r.capture_mode, r.trigger_source)) {
        std::snprintf(text, sizeof text, "channel %c, level %d (code %u), %s",
                      r.trigger_source == TRIGGER_CHANNEL_A ? 'A' : 'B', r.trigger_value - TRIGGER_LEVEL_OFFSET, r.trigger_value, edge);
    } else if (r.trigger_source == TRIGGER_EXTERNAL) {
        std::snprintf(text, sizeof text, "external input, %s", edge);
    } else if (r.trigger_source == TRIGGER_NONE) {
        std::snprintf(text, sizeof text, "none (the capture starts at once)");
    } else {
        std::snprintf(text, sizeof text, "unknown source %d", r.trigger_source);
    }
    return text;
}

namespace {

json periodic_json(const periodic_figures& p, double rate) {
    json j;
    j["rising_edges"] = p.rising_edges;
    j["falling_edges"] = p.falling_edges;
    j["periodic"] = p.whole_periods > 0;
    j["whole_periods"] = p.whole_periods;
    if (p.whole_periods > 0) {
        j["period_samples"] = p.period_samples;
        j["period_s"] = rate > 0 ? json(p.period_samples / rate) : json(nullptr);
        j["frequency_hz"] = rate > 0 ? json(rate / p.period_samples) : json(nullptr);
        j["duty_cycle"] = p.duty_cycle;
    } else {
        j["period_samples"] = nullptr;
        j["period_s"] = nullptr;
        j["frequency_hz"] = nullptr;
        j["duty_cycle"] = nullptr;
    }
    return j;
}

json info_json(const std::string& path, const dso_record& r, double rate, const capture_measurements& measured,
               const channel_settings* channels) {
    json j;
    j["file"] = valid_text(input_name(path));
    j["capture_mode"] = r.capture_mode;
    j["mode"] = mode_option_name(r.capture_mode) ? json(mode_option_name(r.capture_mode)) : json(nullptr);
    j["mode_title"] = capture_mode_title(r.capture_mode) ? json(capture_mode_title(r.capture_mode)) : json(nullptr);
    j["sample_rate_index"] = r.sample_rate_index;
    j["sample_rate_hz"] = rate > 0 ? json(rate) : json(nullptr);
    j["sample_period_s"] = rate > 0 ? json(1.0 / rate) : json(nullptr);
    j["samples"] = measured.samples;
    j["duration_s"] = rate > 0 ? json(measured.samples / rate) : json(nullptr);

    json t;
    t["trigger_source"] = r.trigger_source;
    t["source"] = source_option_name(r.trigger_source) ? json(source_option_name(r.trigger_source)) : json(nullptr);
    t["description"] = trigger_words(r);
    t["trigger_value"] = r.trigger_value;
    t["level"] = is_level_trigger(r.capture_mode, r.trigger_source) ? json(r.trigger_value - TRIGGER_LEVEL_OFFSET) : json(nullptr);
    t["pattern"] = is_pattern_trigger(r.capture_mode, r.trigger_source) ? json(pattern_of(r)) : json(nullptr);
    // A pattern trigger and a capture without a trigger have no edge.
    const bool has_edge = !is_pattern_trigger(r.capture_mode, r.trigger_source) && r.trigger_source != TRIGGER_NONE;
    t["edge"] = has_edge ? json(r.trigger_edge != 0 ? "falling" : "rising") : json(nullptr);
    t["trigger_edge"] = r.trigger_edge;
    j["trigger"] = t;

    json p;
    p["samples"] = r.pretrigger;
    p["time_s"] = rate > 0 ? json(r.pretrigger / rate) : json(nullptr);
    j["pretrigger"] = p;

    json analogue = json::array();
    for (int c = 0; c < measured.analogue_channels; ++c) {
        const analogue_figures& a = measured.analogue[c];
        json ch;
        ch["channel"] = std::string(1, measured.analogue_name[c]);
        ch["codes"] = {{"min", a.min}, {"max", a.max}, {"peak_to_peak", a.max - a.min}, {"mean", a.mean}, {"rms", a.rms}};
        ch["relative"] = {{"min", a.min - ZERO_LEVEL},
                          {"max", a.max - ZERO_LEVEL},
                          {"peak_to_peak", a.max - a.min},
                          {"mean", a.mean - ZERO_LEVEL},
                          {"rms", a.rms_relative}};
        ch.update(periodic_json(a.periodic, rate));
        const char name[2] = {measured.analogue_name[c], '\0'};
        const analogue_channel_settings* scale = channels != nullptr ? channels->analogue_named(name) : nullptr;
        if (scale != nullptr && scale->scaled()) {
            const scaled_figures v = scaled_analogue(a, *scale);
            ch["scaled"] = {{"unit", scale->unit},
                            {"volts_per_code", scale->volts_per_code},
                            {"probe", scale->probe},
                            {"zero_code", scale->zero_code},
                            {"min", v.min},
                            {"max", v.max},
                            {"peak_to_peak", v.peak_to_peak},
                            {"mean", v.mean},
                            {"rms", v.rms}};
        }
        analogue.push_back(ch);
    }
    j["analogue"] = analogue;

    json logic = json::array();
    for (int b = 0; b < measured.logic_inputs; ++b) {
        json in;
        in["input"] = b;
        in["name"] = "D" + std::to_string(b);
        in["transitions"] = measured.logic[b].transitions;
        in.update(periodic_json(measured.logic[b].periodic, rate));
        logic.push_back(in);
    }
    j["logic"] = logic;
    return j;
}

}  // namespace

std::string periodic_words(const periodic_figures& p, double rate) {
    if (p.whole_periods == 0) return "no periodic signal";
    char text[160];
    if (rate > 0)
        std::snprintf(text, sizeof text, "%s, period %s (%d whole period%s), duty cycle %.1f %%",
                      si(rate / p.period_samples, "Hz").c_str(), si(p.period_samples / rate, "s").c_str(),
                      p.whole_periods, p.whole_periods == 1 ? "" : "s", p.duty_cycle * 100.0);
    else
        std::snprintf(text, sizeof text, "period %.1f samples (%d whole period%s), duty cycle %.1f %%",
                      p.period_samples, p.whole_periods, p.whole_periods == 1 ? "" : "s", p.duty_cycle * 100.0);
    return text;
}

scaled_figures scaled_analogue(const analogue_figures& a, const analogue_channel_settings& channel) {
    // The mean square about the zero code, from those about 0: E[(c - z)^2] = E[c^2] - 2zE[c] + z^2.
    const double z = channel.zero_code;
    const double square = a.rms * a.rms - 2 * z * a.mean + z * z;
    const double k = channel.per_code();
    return {channel.value(a.min), channel.value(a.max), (a.max - a.min) * k, channel.value(a.mean),
            std::sqrt(square > 0 ? square : 0) * k};
}

nlohmann::ordered_json capture_info_json(const std::string& name, const dso_record& r, bool ranged, int32_t first,
                                         int32_t last, const channel_settings* channels) {
    const int32_t samples = samples_in_mode(r.capture_mode);
    if (!ranged || first < 0 || last >= samples || first > last) first = 0, last = samples - 1;
    // Large: on the heap, one for each measurement, so that captures are measured at once.
    const auto measured = std::make_unique<capture_measurements>();
    measure_capture_range(r, first, last, *measured);
    const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    json j = info_json(name, r, rate, *measured, channels);
    add_pulse_json(j, r, first, last, channels);
    j["samples"] = samples;  // of the capture; the figures cover the range
    j["range"] = ranged ? json({{"first", first}, {"last", last}, {"samples", last - first + 1}}) : json(nullptr);
    const std::string damage = header_damage(r);
    j["damage"] = damage.empty() ? json(nullptr) : json(damage);
    return j;
}

nlohmann::ordered_json capture_layout_json(const dso_record& r) {
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(r, channels);
    const auto* base = reinterpret_cast<const uint8_t*>(&r);
    json list = json::array();
    for (int i = 0; i < count; ++i) {
        const capture_channel& c = channels[i];
        int bit = 0;
        while (c.kind == channel_kind::logic && bit < 8 && (c.mask >> bit) != 1) ++bit;
        list.push_back({{"name", c.name},
                        {"kind", c.kind == channel_kind::logic ? "logic" : "analogue"},
                        {"offset", c.bytes - base},
                        {"stride", c.stride},
                        {"bit", c.kind == channel_kind::logic ? json(bit) : json(nullptr)}});
    }
    const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    const char* mode = mode_option_name(r.capture_mode);
    return {{"mode", mode != nullptr ? json(mode) : json(nullptr)},
            {"samples", samples_in_mode(r.capture_mode)},
            {"rate_hz", rate > 0 ? json(rate) : json(nullptr)},
            {"header",
             {{"pretrigger", r.pretrigger},
              {"trigger_source", r.trigger_source},
              {"trigger_value", r.trigger_value},
              {"trigger_edge", r.trigger_edge},
              {"rate_index", r.sample_rate_index},
              {"mode_code", r.capture_mode}}},
            {"channels", list}};
}
