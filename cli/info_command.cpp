// korvane-cli info FILE.dso [--json]: the header in words and the measurements of every
// channel, as text or as one JSON object.
#include "cli/info_command.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <string>

#include "analysis/measurements.h"
#include "capture/dso_structure.h"
#include "cli/cli_common.h"

namespace {

using json = nlohmann::ordered_json;

capture_measurements measured;  // large: static storage

// value with an SI prefix and five significant digits ("1.0000 kHz", "20.000 us"), or, when
// exact, as few as it needs ("50 MHz", "81.92 us").
std::string si(double value, const char* unit, bool exact = false) {
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

std::string signed_number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.*f", decimals, value);
    return text;
}

const char* source_option_name(int8_t source) {
    return source >= 0 && source < static_cast<int8_t>(TRIGGER_SOURCE_NAMES.size())
               ? TRIGGER_SOURCE_NAMES[static_cast<size_t>(source)].c_str()
               : nullptr;
}

// The pattern as the settings dialog shows it: 16 bits in 16 Bit Logic, the low 8 in Mixed Mode.
unsigned pattern_of(const dso_record& r) {
    return r.capture_mode == MODE_MIXED ? r.trigger_value & 0xFFu : r.trigger_value;
}

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

json info_json(const std::string& path, const dso_record& r, double rate) {
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

// "1.0000 kHz, period 1.0000 ms" or, without a known rate, the period in samples.
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

void print_text(const std::string& path, const dso_record& r, double rate) {
    std::printf("File         %s\n", input_name(path).c_str());
    if (capture_mode_title(r.capture_mode))
        std::printf("Mode         %s\n", capture_mode_title(r.capture_mode));
    else
        std::printf("Mode         %d, which this program does not know: no channels\n", r.capture_mode);
    if (rate > 0) {
        std::printf("Sample rate  %s, %s per sample\n", si(rate, "Hz", true).c_str(), si(1.0 / rate, "s", true).c_str());
        std::printf("Samples      %d, %s\n", measured.samples, si(measured.samples / rate, "s", true).c_str());
    } else {
        if (r.sample_rate_index >= 0 && r.sample_rate_index <= 5)
            std::printf("Sample rate  index %d, unknown in an unknown mode: times and frequencies unknown\n",
                        r.sample_rate_index);
        else
            std::printf("Sample rate  index %d, not one of the six rates: times and frequencies unknown\n",
                        r.sample_rate_index);
        std::printf("Samples      %d\n", measured.samples);
    }
    std::printf("Trigger      %s\n", trigger_words(r).c_str());
    if (rate > 0)
        std::printf("Pre-trigger  %s, %s\n", count_of(r.pretrigger, "sample").c_str(), si(r.pretrigger / rate, "s", true).c_str());
    else
        std::printf("Pre-trigger  %s\n", count_of(r.pretrigger, "sample").c_str());

    for (int c = 0; c < measured.analogue_channels; ++c) {
        const analogue_figures& a = measured.analogue[c];
        std::printf("\nChannel %c     codes   relative to 0x80\n", measured.analogue_name[c]);
        std::printf("  min         %6u   %+6d\n", a.min, a.min - ZERO_LEVEL);
        std::printf("  max         %6u   %+6d\n", a.max, a.max - ZERO_LEVEL);
        std::printf("  peak-peak   %6d   %6d\n", a.max - a.min, a.max - a.min);
        std::printf("  mean        %6.2f   %6s\n", a.mean, signed_number(a.mean - ZERO_LEVEL, 2).c_str());
        std::printf("  RMS         %6.2f   %6.2f\n", a.rms, a.rms_relative);
        std::printf("  signal      %s\n", periodic_words(a.periodic, rate).c_str());
        std::printf("  edges       %d rising, %d falling\n", a.periodic.rising_edges, a.periodic.falling_edges);
    }
    if (measured.logic_inputs > 0) {
        std::printf("\nLogic input  transitions  signal\n");
        for (int b = 0; b < measured.logic_inputs; ++b) {
            const logic_figures& l = measured.logic[b];
            std::printf("  D%-2d        %11d  %s\n", b, l.transitions, periodic_words(l.periodic, rate).c_str());
        }
    }
}

}  // namespace

nlohmann::ordered_json capture_info_json(const std::string& name, const dso_record& r, bool ranged, int32_t first,
                                         int32_t last) {
    const int32_t samples = samples_in_mode(r.capture_mode);
    if (!ranged || first < 0 || last >= samples || first > last) first = 0, last = samples - 1;
    measure_capture_range(r, first, last, measured);
    const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    json j = info_json(name, r, rate);
    j["samples"] = samples;  // of the capture; the figures cover the range
    j["range"] = ranged ? json({{"first", first}, {"last", last}, {"samples", last - first + 1}}) : json(nullptr);
    const std::string damage = header_damage(r);
    j["damage"] = damage.empty() ? json(nullptr) : json(damage);
    return j;
}

CLI::App* add_info_command(CLI::App& app, info_options& o) {
    CLI::App* c = app.add_subcommand("info", "Show a capture's settings in words and measure its channels: levels, "
                                             "frequency, period, duty cycle and edges");
    c->add_option("file", o.file, "The .dso capture file, or - for standard input")->required()->type_name("FILE.dso");
    c->add_flag("--json", o.json, "Print everything as one JSON object");
    c->footer("Exit status: 0 shown; 1 shown as far as it can be: the header is damaged (a capture this program "
              "never wrote); 5 a file that cannot be read, or standard output that cannot be written.\n");
    return c;
}

int run_info_command(const info_options& o) {
    struct stat input;
    load_capture(o.file, input);
    const dso_record& r = dso_structure;
    const std::string damage = header_damage(r);
    measure_capture(r, measured);
    const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    if (o.json) {
        const json j = capture_info_json(o.file, r);
        std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else {
        print_text(o.file, r, rate);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        print_report_line(7, "info", std::string("standard output: ") + std::strerror(errno));
        return EXIT_FILE;
    }
    if (!damage.empty()) {
        print_header_damage(o.file, damage);
        return EXIT_WARNING;
    }
    return EXIT_SUCCESS_STATUS;
}
