// The spectrum of a capture as the front ends ask for it (a channel, the math channel M or the
// Single Channel trace, a window, a range, the peaks), and what they show of it: the text
// spectrum prints, the JSON that spectrum --json and the API give, and the CSV of the levels.
#pragma once
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "analysis/spectrum_fftw.h"
#include "capture/dso_structure.h"
#include "services/channel_settings.h"

struct spectrum_request {
    std::string channel;  // "A", "B" or "M"; empty: M with a math expression, else the mode's first
    std::string math;     // the expression of M
    spectrum_window window = spectrum_window::blackman_harris;
    std::string range;  // FIRST:LAST as --range takes it; empty: the whole capture
    int peaks = 5;
};

constexpr int MAX_SPECTRUM_PEAKS = 100;

// What a request's words say before any capture is read: false with the field refused
// ("window", "peaks", "channel", "math") and why.
bool spectrum_request_from_text(const std::string& channel, const std::string& math, const std::string& window,
                                const std::string& range, const std::string& peaks, spectrum_request& out,
                                std::string& field, std::string& message);

struct spectrum_report {
    std::string source;  // "A", "B", "M = A-B"
    bool trace = false;  // the Single Channel trace, both converters in turn
    int8_t mode = 0;
    int32_t first = 0, last = 0;
    bool ranged = false;
    power_spectrum spectrum;
    sine_figures figures;
    std::vector<spectrum_peak> peaks;
    double full_scale = 128;  // in the source's values
    std::string unit;         // "V" where the source has a scale, else empty
    double unit_offset_db = 0;  // a level in dB of the unit (rms: dBV) is its dBFS plus this
    std::string note;           // why M stays in codes, where it does
};

// The spectrum of the request on the record (read from name): 0, or the exit status (1 a
// damaged header or a mode without that channel, 2 a mistake of the request) with the
// message.
int spectrum_report_of(const std::string& name, const dso_record& record, const spectrum_request& request,
                       const channel_settings* channels, spectrum_report& out, std::string& message);

// Reports of the same channel, length, rate and window made into one by the power average of
// their spectra, with the figures and peaks of the average. false with the message when they
// differ.
bool average_reports(std::vector<spectrum_report>& reports, int peaks, spectrum_report& out, std::string& message);

// As spectrum --json gives it; with levels, every bin's level in dBFS as one array.
nlohmann::ordered_json spectrum_json(const spectrum_report& report, const std::string& file, bool levels);
// The document's text with "levels" (a placeholder in the JSON) as the compact array.
std::string spectrum_json_text(const spectrum_report& report, const std::string& file, bool levels, int indent);

// The figures and the peaks in words, as spectrum prints them.
std::string spectrum_text(const spectrum_report& report, const std::string& file);

// Every bin: frequency_hz,level_dbfs (and level in dB of the unit where there is one).
std::string spectrum_csv(const spectrum_report& report);

// A frequency with seven significant digits and an SI prefix: "1.000012 kHz".
std::string frequency_words(double hz);
