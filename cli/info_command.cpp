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
#include "cli/terminal.h"
#include "services/capture_info.h"
#include "services/math_measurements.h"
#include "services/pulse_info.h"

namespace {

using json = nlohmann::ordered_json;

capture_measurements measured;  // large: static storage
capture_pulse_figures pulses;

void print_text(const std::string& path, const dso_record& r, double rate, const channel_settings* channels) {
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
        const char name[2] = {measured.analogue_name[c], '\0'};
        const analogue_channel_settings* scale = channels != nullptr ? channels->analogue_named(name) : nullptr;
        if (scale != nullptr && !scale->scaled()) scale = nullptr;
        if (scale == nullptr) {
            std::printf("\nChannel %c     codes   relative to 0x80\n", measured.analogue_name[c]);
            std::printf("  min         %6u   %+6d\n", a.min, a.min - ZERO_LEVEL);
            std::printf("  max         %6u   %+6d\n", a.max, a.max - ZERO_LEVEL);
            std::printf("  peak-peak   %6d   %6d\n", a.max - a.min, a.max - a.min);
            std::printf("  mean        %6.2f   %6s\n", a.mean, signed_number(a.mean - ZERO_LEVEL, 2).c_str());
            std::printf("  RMS         %6.2f   %6.2f\n", a.rms, a.rms_relative);
        } else {
            const scaled_figures v = scaled_analogue(a, *scale);
            const char* unit = scale->unit.c_str();
            std::printf("\nChannel %c     codes   relative to 0x80   in %s (%.6g %s a code, zero at code %d)\n",
                        measured.analogue_name[c], unit, scale->per_code(), unit, scale->zero_code);
            std::printf("  min         %6u   %+6d   %14s\n", a.min, a.min - ZERO_LEVEL, in_unit(v.min, unit).c_str());
            std::printf("  max         %6u   %+6d   %14s\n", a.max, a.max - ZERO_LEVEL, in_unit(v.max, unit).c_str());
            std::printf("  peak-peak   %6d   %6d   %14s\n", a.max - a.min, a.max - a.min,
                        in_unit(v.peak_to_peak, unit).c_str());
            std::printf("  mean        %6.2f   %6s   %14s\n", a.mean, signed_number(a.mean - ZERO_LEVEL, 2).c_str(),
                        in_unit(v.mean, unit).c_str());
            std::printf("  RMS         %6.2f   %6.2f   %14s\n", a.rms, a.rms_relative, in_unit(v.rms, unit).c_str());
        }
        std::printf("  signal      %s\n", periodic_words(a.periodic, rate).c_str());
        std::printf("  edges       %d rising, %d falling\n", a.periodic.rising_edges, a.periodic.falling_edges);
        std::fputs(analogue_pulse_text(pulses.analogue[c], rate, scale).c_str(), stdout);
    }
    if (measured.logic_inputs > 0) {
        std::printf("\nLogic input  transitions  signal\n");
        for (int b = 0; b < measured.logic_inputs; ++b) {
            const logic_figures& l = measured.logic[b];
            std::printf("  D%-2d        %11d  %s\n", b, l.transitions, periodic_words(l.periodic, rate).c_str());
            std::printf("             pulses       %s\n", logic_pulse_text(pulses.logic[b], rate).c_str());
        }
    }
}

// The math channel's block, after the channels.
void print_math(const dso_record& r, const math_source& m, double rate) {
    const math_figures f = measure_math_range(r, m, 0, samples_in_mode(r.capture_mode) - 1);
    const std::string unit = m.unit.empty() ? "codes" : m.unit;
    std::printf("\nMath M = %s  in %s%s%s\n", math_text(m.op), unit.c_str(), m.why_codes.empty() ? "" : " (",
                m.why_codes.empty() ? "" : (m.why_codes + ")").c_str());
    const auto value = [&](double v) { return m.unit.empty() ? signed_number(v, 2) : in_unit(v, m.unit); };
    std::printf("  min         %14s\n", value(f.min).c_str());
    std::printf("  max         %14s\n", value(f.max).c_str());
    std::printf("  peak-peak   %14s\n", value(f.max - f.min).c_str());
    std::printf("  mean        %14s\n", value(f.mean).c_str());
    std::printf("  RMS         %14s\n", value(f.rms).c_str());
    std::printf("  signal      %s\n", periodic_words(f.periodic, rate).c_str());
    std::printf("  edges       %d rising, %d falling\n", f.periodic.rising_edges, f.periodic.falling_edges);
}

}  // namespace

CLI::App* add_info_command(CLI::App& app, info_options& o) {
    CLI::App* c = app.add_subcommand("info", "Show a capture's settings in words and measure its channels: levels, "
                                             "frequency, period, duty cycle and edges");
    c->add_option("file", o.file, "The .dso capture file, or - for standard input")->required()->type_name("FILE.dso");
    c->add_flag("--json", o.json, "Print everything as one JSON object");
    c->add_option("--channels-config", o.channels_config, "Give the analogue measurements also in the units this "
                                                          "channel settings file gives the channels (as korvane-cli "
                                                          "serve keeps it)")
        ->type_name("FILE");
    c->add_option("--math", o.math, std::string("Measure also the math channel M of this expression, as a channel: ") +
                                        math_forms() + " (Dual Channel; Mixed Mode has -B)")
        ->type_name("EXPR")
        ->check([](const std::string& text) {
            math_op op;
            std::string message;
            return parse_math(text, op, message) ? std::string() : message;
        });
    c->footer("Exit status: 0 shown; 1 shown as far as it can be: the header is damaged (a capture this program "
              "never wrote); 5 a file that cannot be read, or standard output that cannot be written.\n");
    return c;
}

int run_info_command(const info_options& o) {
    channel_settings channels;
    if (!o.channels_config.empty())
        if (const int refused = read_channels_config(o.channels_config, channels)) return refused;
    const channel_settings* scales = o.channels_config.empty() ? nullptr : &channels;
    struct stat input;
    load_capture(o.file, input);
    const dso_record& r = dso_structure;
    const std::string damage = header_damage(r);
    measure_capture(r, measured);
    if (measured.samples > 0) measure_capture_pulses(r, 0, measured.samples - 1, pulses);
    const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    math_source math;
    if (!o.math.empty() && damage.empty()) {
        std::string message;
        if (const int refused = math_source_of(r, o.math, scales, math, message)) {
            print_message("%s", (refused == EXIT_USAGE ? message : input_name(o.file) + ": " + message).c_str());
            return refused;
        }
    }
    const bool with_math = !o.math.empty() && damage.empty();
    if (o.json) {
        json j = capture_info_json(o.file, r, false, 0, 0, scales);
        if (!o.math.empty()) j["math"] = with_math ? math_measurements_json(r, math, 0, samples_in_mode(r.capture_mode) - 1) : json(nullptr);
        std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else {
        print_text(o.file, r, rate, scales);
        if (with_math) print_math(r, math, rate);
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
