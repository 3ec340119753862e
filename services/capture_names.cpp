#include "services/capture_names.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "services/text_values.h"

std::string header_damage(const dso_record& r) {
    std::string damage;
    const auto add = [&](const std::string& what) { damage += (damage.empty() ? "" : ", ") + what; };
    if (r.capture_mode < MODE_DUAL || r.capture_mode > MODE_MIXED) add("mode " + std::to_string(r.capture_mode));
    if (r.sample_rate_index < -1 || r.sample_rate_index > 5) add("rate index " + std::to_string(r.sample_rate_index));
    if (r.trigger_source < TRIGGER_EXTERNAL || r.trigger_source > TRIGGER_NONE)
        add("trigger source " + std::to_string(r.trigger_source));
    if (r.trigger_edge != 0 && r.trigger_edge != 1) add("edge " + std::to_string(r.trigger_edge));
    if (r.pretrigger < 0 || r.pretrigger > 0x5FFFF) add("pre-trigger " + std::to_string(r.pretrigger));
    return damage;
}

const std::vector<std::string> MODE_OPTION_NAMES = {"dual", "single", "logic16", "mixed"};

const char* mode_option_name(int8_t mode) {
    return mode >= MODE_DUAL && mode <= MODE_MIXED ? MODE_OPTION_NAMES[static_cast<size_t>(mode)].c_str()
                                                   : nullptr;
}

int8_t mode_from_option_name(const std::string& name) {
    for (size_t i = 0; i < MODE_OPTION_NAMES.size(); ++i)
        if (MODE_OPTION_NAMES[i] == lower_case(name)) return static_cast<int8_t>(i);
    return -1;
}

const std::vector<std::string> TRIGGER_SOURCE_NAMES = {"external", "a", "b", "none"};

bool is_pattern_trigger(int8_t mode, int8_t source) {
    return source == TRIGGER_CHANNEL_A && (mode == MODE_LOGIC16 || mode == MODE_MIXED);
}

bool is_level_trigger(int8_t mode, int8_t source) {
    return (source == TRIGGER_CHANNEL_A || source == TRIGGER_CHANNEL_B) && !is_pattern_trigger(mode, source);
}

std::string rate_list(int8_t mode) {
    std::string list;
    for (int i = 0; i <= 5; ++i) {
        char text[24];
        std::snprintf(text, sizeof text, "%gMHz", sample_rate_hz(mode, static_cast<int8_t>(i)) / 1e6);
        list += (i ? ", " : "") + std::string(text);
    }
    return list;
}

int rate_index_from_text(const std::string& text, int8_t mode) {
    if (samples_in_mode(mode) == 0) return -1;
    const std::string t = lower_case(text);
    if (t.size() == 1 && t[0] >= '0' && t[0] <= '5') return t[0] - '0';
    const char* start = t.c_str();
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(start, &end);
    if (end == start || errno != 0 || !(value > 0) || !std::isfinite(value)) return -1;
    std::string unit(end);
    while (!unit.empty() && unit[0] == ' ') unit.erase(0, 1);
    double megahertz;
    if (unit == "mhz" || unit.empty()) megahertz = value;
    else if (unit == "khz") megahertz = value / 1e3;
    else if (unit == "hz") megahertz = value / 1e6;
    else return -1;
    for (int i = 0; i <= 5; ++i) {
        const double rate = sample_rate_hz(mode, static_cast<int8_t>(i)) / 1e6;
        const double shown = std::round(rate * 10.0) / 10.0;  // as the dialog lists it: 6.3 for 6.25
        if (std::fabs(megahertz - rate) <= 1e-9 * rate || std::fabs(megahertz - shown) <= 1e-9 * rate) return i;
    }
    return -1;
}
