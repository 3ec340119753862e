#include "services/spectrum_report.h"

#include <cmath>
#include <cstdio>

#include "services/capture_info.h"
#include "services/capture_names.h"
#include "services/exit_status.h"
#include "services/math_measurements.h"
#include "services/text_values.h"

namespace {

using json = nlohmann::ordered_json;

constexpr char LEVELS_PLACEHOLDER[] = "\x01levels\x01";

json tone_json(const spectrum_tone& t) {
    if (!t.found) return nullptr;
    return {{"frequency_hz", t.frequency_hz}, {"level_dbfs", t.level_dbfs}};
}

std::string db(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

const char* const ORDINALS[] = {"2nd", "3rd", "4th", "5th", "6th"};

// The fundamental's own peak reads as the fitted fundamental, so that one tone has one frequency
// and one level wherever it is shown.
void peaks_agree_with_fundamental(spectrum_report& r) {
    if (!r.figures.found) return;
    const spectrum_tone& f = r.figures.fundamental;
    for (spectrum_peak& p : r.peaks) {
        if (std::abs(p.frequency_hz - f.frequency_hz) < 1.5 * r.spectrum.bin_hz()) {
            p.frequency_hz = f.frequency_hz;
            p.level_dbfs = f.level_dbfs;
        }
    }
}

}  // namespace

std::string frequency_words(double hz) {
    static const struct {
        double scale;
        const char* prefix;
    } prefixes[] = {{1e9, "G"}, {1e6, "M"}, {1e3, "k"}, {1, ""}, {1e-3, "m"}};
    for (const auto& p : prefixes)
        // 999.99999 Hz rounds to 1.000000 kHz, not to 1000.0000 Hz.
        if (std::fabs(hz) >= p.scale * (1 - 5e-7) || p.scale == 1e-3) {
            const double v = hz / p.scale;
            const int whole = std::fabs(v) >= 100 ? 3 : std::fabs(v) >= 10 ? 2 : 1;
            char text[48];
            std::snprintf(text, sizeof text, "%.*f %sHz", 7 - whole, v, p.prefix);
            return text;
        }
    return "0 Hz";
}

bool spectrum_request_from_text(const std::string& channel, const std::string& math, const std::string& window,
                                const std::string& range, const std::string& peaks, spectrum_request& out,
                                std::string& field, std::string& message) {
    out = spectrum_request();
    out.channel = channel;
    for (char& c : out.channel) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (!out.channel.empty() && out.channel != "A" && out.channel != "B" && out.channel != "M") {
        field = "channel";
        message = "'" + channel + "' is not an analogue channel; use A, B or M (the math channel)";
        return false;
    }
    out.math = math;
    if (!math.empty()) {
        math_op op;
        if (!parse_math(math, op, message)) return field = "math", false;
        if (!out.channel.empty() && out.channel != "M") {
            field = "channel";
            message = "the math expression is channel M; give M or no channel with it";
            return false;
        }
    } else if (out.channel == "M") {
        field = "math";
        message = std::string("channel M is the math channel: give its expression, one of ") + math_forms();
        return false;
    }
    if (!window.empty() && !window_from_name(window, out.window)) {
        field = "window";
        message = "'" + window + "' is not a window; use one of " + window_names();
        return false;
    }
    out.range = range;
    if (!range.empty()) {
        int64_t first = 0, last = 0;
        if (!parse_sample_range(range, first, last)) return field = "range", message = range_not_a_range(range), false;
    }
    if (!peaks.empty()) {
        message = whole_number_refusal(peaks, 0, MAX_SPECTRUM_PEAKS);
        if (!message.empty()) return field = "peaks", false;
        out.peaks = std::stoi(peaks);
    }
    return true;
}

int spectrum_report_of(const std::string& name, const dso_record& r, const spectrum_request& q,
                       const channel_settings* channels, spectrum_report& out, std::string& message) {
    out = spectrum_report();
    const std::string damage = header_damage(r);
    if (!damage.empty()) {
        message = input_name(name) + ": not a capture this program wrote, or a damaged one: " + damage;
        return EXIT_WARNING;
    }
    const int8_t mode = r.capture_mode;
    out.mode = mode;
    const double rate = sample_rate_hz(mode, r.sample_rate_index);
    const char* title = capture_mode_title(mode);
    if (mode == MODE_LOGIC16 || title == nullptr) {
        message = input_name(name) + ": a " + (title != nullptr ? title : "capture of an unknown mode") +
                  " capture has no analogue channel";
        return EXIT_WARNING;
    }
    if (rate <= 0) {
        message = input_name(name) + ": the capture names no sample rate (rate index " +
                  std::to_string(r.sample_rate_index) + "), so it has no frequencies";
        return EXIT_WARNING;
    }
    std::string channel = q.channel.empty() ? (!q.math.empty() ? "M" : mode == MODE_MIXED ? "B" : "A") : q.channel;
    if ((channel == "A" && mode == MODE_MIXED) || (channel == "B" && mode == MODE_SINGLE)) {
        message = std::string("--channel: a ") + title + " capture has no analogue channel " + channel + " (it has " +
                  (mode == MODE_MIXED ? "B" : "A, the trace of both converters") + ")";
        return EXIT_USAGE;
    }
    int32_t first = 0, last = 0;
    if (!samples_of_range(q.range, mode, first, last, message)) return EXIT_USAGE;
    const int32_t count = last - first + 1;
    if (count < MIN_SPECTRUM_SAMPLES) {
        message = "--range: a spectrum needs at least " + std::to_string(MIN_SPECTRUM_SAMPLES) + " samples; " + q.range +
                  " holds " + std::to_string(count);
        return EXIT_USAGE;
    }
    out.first = first;
    out.last = last;
    out.ranged = !q.range.empty();
    if (channel == "M") {
        math_source m;
        if (const int refused = math_source_of(r, q.math, channels, m, message)) {
            if (refused != EXIT_USAGE) message = input_name(name) + ": " + message;
            return refused;
        }
        std::vector<double> values(static_cast<size_t>(count));
        compute_math(r, m.op, m.a, m.b, first, last, values.data());
        spectrum_of(values.data(), count, 0, m.full_scale, rate, q.window, out.spectrum);
        out.source = std::string("M = ") + math_text(m.op);
        out.full_scale = m.full_scale;
        out.note = m.why_codes;
        if (!m.unit.empty() && m.op != math_op::a_times_b) {
            out.unit = m.unit;
            out.unit_offset_db = 20 * std::log10(m.full_scale / std::sqrt(2.0));
        }
    } else {
        const uint8_t* codes = (mode == MODE_SINGLE ? r.sample_area : channel == "A" ? r.channel_a : r.channel_b) + first;
        const analogue_channel_settings* scale = channels != nullptr ? channels->analogue_named(channel.c_str()) : nullptr;
        const bool scaled = scale != nullptr && scale->scaled();
        spectrum_of_codes(codes, count, 1, scaled ? scale->zero_code : ZERO_LEVEL, 128, rate, q.window, out.spectrum);
        out.source = channel;
        out.trace = mode == MODE_SINGLE;
        if (scaled) {
            out.unit = scale->unit;
            out.unit_offset_db = 20 * std::log10(128 * scale->per_code() / std::sqrt(2.0));
        }
    }
    out.figures = sine_figures_of(out.spectrum, out.trace);
    out.peaks = spectrum_peaks(out.spectrum, q.peaks);
    peaks_agree_with_fundamental(out);
    return EXIT_SUCCESS_STATUS;
}

bool average_reports(std::vector<spectrum_report>& reports, int peaks, spectrum_report& out, std::string& message) {
    if (reports.empty()) return message = "no spectra to average", false;
    std::vector<const power_spectrum*> spectra;
    for (const spectrum_report& r : reports) {
        if (r.source != reports.front().source || r.trace != reports.front().trace) {
            message = "the captures give different channels (" + reports.front().source + ", " + r.source + ")";
            return false;
        }
        spectra.push_back(&r.spectrum);
    }
    power_spectrum average;
    if (!average_spectra(spectra, average)) {
        message = "the captures differ in their length or sample rate, so their spectra do not average";
        return false;
    }
    out = reports.front();
    out.spectrum = std::move(average);
    out.figures = sine_figures_of(out.spectrum, out.trace);
    out.peaks = spectrum_peaks(out.spectrum, peaks);
    peaks_agree_with_fundamental(out);
    return true;
}

nlohmann::ordered_json spectrum_json(const spectrum_report& r, const std::string& file, bool levels) {
    const power_spectrum& s = r.spectrum;
    json j;
    j["file"] = file;
    j["channel"] = r.source;
    j["single_channel_trace"] = r.trace;
    j["mode"] = mode_option_name(r.mode) ? json(mode_option_name(r.mode)) : json(nullptr);
    j["window"] = window_name(s.window);
    j["range"] = r.ranged ? json({{"first", r.first}, {"last", r.last}}) : json(nullptr);
    j["samples"] = s.samples;
    j["records"] = s.records;
    j["sample_rate_hz"] = s.rate_hz;
    j["bin_hz"] = s.bin_hz();
    j["noise_bandwidth_bins"] = s.noise_bandwidth;
    j["full_scale"] = r.full_scale;
    j["unit"] = r.unit.empty() ? json(nullptr)
                               : json({{"unit", r.unit}, {"db_unit", "dB" + r.unit}, {"offset_db", r.unit_offset_db}});
    j["note"] = r.note.empty() ? json(nullptr) : json(r.note);
    const sine_figures& f = r.figures;
    if (f.found) {
        json harmonics = json::array();
        for (int h = 0; h < HARMONICS; ++h) {
            json one = tone_json(f.harmonics[h]);
            if (one.is_null()) one = {{"frequency_hz", f.harmonics[h].frequency_hz}, {"level_dbfs", nullptr}};
            json entry = {{"order", h + 2}};
            entry.update(one);
            harmonics.push_back(entry);
        }
        json figures = {{"fundamental", tone_json(f.fundamental)},
                        {"harmonics", harmonics},
                        {"thd_db", f.thd_db},
                        {"snr_db", f.snr_db},
                        {"sinad_db", f.sinad_db},
                        {"enob_bits", f.enob_bits},
                        {"sfdr_db", f.sfdr_db},
                        {"spur", tone_json(f.spur)},
                        {"noise_floor_dbfs", f.noise_floor_dbfs},
                        {"noise_dbfs", f.noise_dbfs}};
        figures["interleaving"] = f.interleaved ? json({{"offset_spur", tone_json(f.offset_spur)},
                                                        {"gain_timing_spur", tone_json(f.interleave_spur)}})
                                                : json(nullptr);
        j["figures"] = figures;
        j["figures_unavailable"] = nullptr;
    } else {
        j["figures"] = nullptr;
        j["figures_unavailable"] = f.why_not;
    }
    json peaks = json::array();
    for (const spectrum_peak& p : r.peaks) peaks.push_back({{"frequency_hz", p.frequency_hz}, {"level_dbfs", p.level_dbfs}});
    j["peaks"] = peaks;
    if (levels)
        j["levels"] = {{"unit", "dBFS"}, {"first_hz", 0}, {"step_hz", s.bin_hz()}, {"count", s.power.size()},
                       {"db", LEVELS_PLACEHOLDER}};
    return j;
}

std::string spectrum_json_text(const spectrum_report& r, const std::string& file, bool levels, int indent) {
    std::string text = spectrum_json(r, file, levels).dump(indent, ' ', false, json::error_handler_t::replace);
    if (!levels) return text;
    const std::string quoted = json(LEVELS_PLACEHOLDER).dump();
    const size_t at = text.find(quoted);
    std::string array = "[";
    append_levels(r.spectrum, 0, array);
    array += "]";
    text.replace(at, quoted.size(), array);
    return text;
}

std::string spectrum_text(const spectrum_report& r, const std::string& file) {
    const power_spectrum& s = r.spectrum;
    std::string t;
    char line[256];
    const auto with_unit = [&](double dbfs) {
        std::string v = db(dbfs) + " dBFS";
        if (!r.unit.empty()) v += " (" + db(dbfs + r.unit_offset_db) + " dB" + r.unit + ")";
        return v;
    };
    std::snprintf(line, sizeof line, "File         %s\n", input_name(file).c_str());
    t += line;
    std::string what = r.trace ? "channel A, the Single Channel trace of both converters" : "channel " + r.source;
    std::snprintf(line, sizeof line, "Spectrum     %s, %s window, %s\n", what.c_str(), window_name(s.window),
                  r.ranged ? ("samples " + std::to_string(r.first) + ".." + std::to_string(r.last)).c_str()
                           : "the whole capture");
    t += line;
    if (!r.note.empty()) t += "             " + r.note + "\n";
    std::snprintf(line, sizeof line, "Samples      %d at %s, bins of %s%s\n", s.samples, si(s.rate_hz, "Hz", true).c_str(),
                  si(s.bin_hz(), "Hz").c_str(),
                  s.records > 1 ? (", power average of " + std::to_string(s.records) + " captures").c_str() : "");
    t += line;
    const sine_figures& f = r.figures;
    if (!f.found) {
        t += "Figures      none: " + f.why_not + "\n";
    } else {
        t += "Fundamental  " + frequency_words(f.fundamental.frequency_hz) + "  " + with_unit(f.fundamental.level_dbfs) + "\n";
        for (int h = 0; h < HARMONICS; ++h) {
            const spectrum_tone& x = f.harmonics[h];
            std::snprintf(line, sizeof line, "  %s        %s  %s\n", ORDINALS[h], frequency_words(x.frequency_hz).c_str(),
                          x.found ? (db(x.level_dbfs) + " dBFS").c_str() : "falls on the DC or a tone before it");
            t += line;
        }
        std::snprintf(line, sizeof line,
                      "THD          %s dBc\nSNR          %s dB\nSINAD        %s dB\nENOB         %.2f bits\n",
                      db(f.thd_db).c_str(), db(f.snr_db).c_str(), db(f.sinad_db).c_str(), f.enob_bits);
        t += line;
        t += "SFDR         " + db(f.sfdr_db) + " dBc, the spur at " + frequency_words(f.spur.frequency_hz) + "\n";
        t += "Noise floor  " + db(f.noise_floor_dbfs) + " dBFS a bin, " + db(f.noise_dbfs) + " dBFS in all\n";
        if (f.interleaved) {
            t += "Interleaving the converters' offset: " + with_unit(f.offset_spur.level_dbfs) + " at fs/2, " +
                 frequency_words(f.offset_spur.frequency_hz) + "\n";
            t += "             their gain and timing: " + with_unit(f.interleave_spur.level_dbfs) + " at fs/2 - fin, " +
                 frequency_words(f.interleave_spur.frequency_hz) + "\n";
        }
    }
    if (!r.peaks.empty()) {
        t += "Peaks        frequency          level\n";
        for (size_t i = 0; i < r.peaks.size(); ++i) {
            std::snprintf(line, sizeof line, "  %-10zu %-18s %s\n", i + 1, frequency_words(r.peaks[i].frequency_hz).c_str(),
                          with_unit(r.peaks[i].level_dbfs).c_str());
            t += line;
        }
    }
    return t;
}

std::string spectrum_csv(const spectrum_report& r) {
    const power_spectrum& s = r.spectrum;
    std::string out = "frequency_hz,level_dbfs";
    if (!r.unit.empty()) out += ",level_db" + r.unit;
    out += "\n";
    char line[96];
    for (int32_t k = 0; k < static_cast<int32_t>(s.power.size()); ++k) {
        const double level = s.level_db(k);
        if (r.unit.empty())
            std::snprintf(line, sizeof line, "%.9g,%.2f\n", k * s.bin_hz(), level);
        else
            std::snprintf(line, sizeof line, "%.9g,%.2f,%.2f\n", k * s.bin_hz(), level, level + r.unit_offset_db);
        out += line;
    }
    return out;
}
