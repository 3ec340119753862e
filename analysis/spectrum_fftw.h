// The spectrum of a sequence of samples through FFTW's real-to-complex transform, and what it
// shows of a sine: the converter figures of IEEE 1241 (fundamental, THD, SNR, SINAD, ENOB,
// SFDR, noise floor), the largest peaks, and in a Single Channel trace the spurs of the two
// interleaved converters. Power spectra of several records average into one.
//
// Levels are relative to a full-scale sine (0 dBFS), whose amplitude the caller gives in
// the samples' values (128 for converter codes relative to 0x80). The windows are the
// periodic cosine sums; a bin's level is read with the window's coherent gain (a sine on a
// bin reads its amplitude), and powers summed over bins with its noise bandwidth (a sine's
// power is the same under every window).
//
// FFTW plans each length once and the plan is kept (the last few lengths), as is each
// window's table; records of different lengths are transformed on several threads at once.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class spectrum_window { rectangular, hann, hamming, blackman, blackman_harris, flat_top };

// "hann", "blackman-harris"...
const char* window_name(spectrum_window window);
// A name in any case; "rect", "bh4", "flattop" too.
bool window_from_name(const std::string& text, spectrum_window& window);
// For messages: "rectangular, hann, hamming, blackman, blackman-harris, flat-top".
const char* window_names();
// Bins either side of a tone's own bin that its main lobe covers (1 rectangular .. 5
// flat-top): the bins a tone's power is summed over, and kept out of the noise.
int window_half_width(spectrum_window window);
// The window's equivalent noise bandwidth, in bins (1.5 for Hann).
double window_noise_bandwidth(spectrum_window window, int32_t samples);

// The fewest samples a spectrum is taken of.
constexpr int32_t MIN_SPECTRUM_SAMPLES = 16;

// One-sided power spectrum of count samples: power[k] for k = 0..count/2 is the mean square
// in bin k, relative to that of a full-scale sine (1 = 0 dBFS of power).
struct power_spectrum {
    int32_t samples = 0;
    double rate_hz = 0;  // samples per second
    spectrum_window window = spectrum_window::hann;
    int records = 0;      // averaged over
    std::vector<double> power;
    double noise_bandwidth = 1;  // the window's, in bins
    // The strongest tone (above the DC bins): its frequency in bins, found by fitting the
    // window's own transform of a sine (and of the DC) to the bins of its main lobe; -1 when
    // there is none. Averaged with the records.
    double tone_bin = -1;

    double bin_hz() const { return rate_hz / samples; }
    // The level of bin k in dBFS, read with the window's coherent gain (floored at -300).
    double level_db(int32_t k) const;
};

// The spectrum of values[0..count-1] (count >= MIN_SPECTRUM_SAMPLES), minus the zero level,
// whose full-scale sine has amplitude full_scale; or of converter codes (stride bytes apart).
void spectrum_of(const double* values, int32_t count, double zero, double full_scale, double rate_hz,
                 spectrum_window window, power_spectrum& out);
void spectrum_of_codes(const uint8_t* codes, int32_t count, int32_t stride, double zero, double full_scale,
                       double rate_hz, spectrum_window window, power_spectrum& out);

// The power average of spectra of the same length, rate and window: false (out untouched)
// when they differ or there are none.
bool average_spectra(const std::vector<const power_spectrum*>& spectra, power_spectrum& out);

struct spectrum_tone {
    bool found = false;
    double frequency_hz = 0;
    double level_dbfs = 0;  // from the power summed over its main lobe
};

struct spectrum_peak {
    double frequency_hz;
    double level_dbfs;  // between bins: the top of a parabola through the log levels
    int32_t bin;
};

// The count largest peaks above the DC bins, strongest first, each a local maximum at least a
// main lobe from a stronger one.
std::vector<spectrum_peak> spectrum_peaks(const power_spectrum& spectrum, int count);

constexpr int HARMONICS = 5;  // 2nd to 6th

struct sine_figures {
    bool found = false;  // false: no tone stands above the rest, and nothing below holds
    std::string why_not;
    spectrum_tone fundamental;
    spectrum_tone harmonics[HARMONICS];  // 2..6, at their frequencies folded into 0..fs/2
    double thd_db = 0;        // harmonics against the fundamental, dBc
    double snr_db = 0;        // the fundamental against the noise (all but DC and harmonics)
    double sinad_db = 0;      // the fundamental against noise and harmonics
    double enob_bits = 0;     // (SINAD - 1.76) / 6.02
    double sfdr_db = 0;       // the fundamental above the largest spur, dBc
    spectrum_tone spur;       // that spur: a harmonic, or the highest bin of the rest
    double noise_floor_dbfs = 0;  // the noise's mean power a bin
    double noise_dbfs = 0;        // the noise's whole power
    int noise_bins = 0;
    // A Single Channel trace (interleaved): the spur of the converters' offset at fs/2, and of
    // their gain and timing at fs/2 - fin; each counts as noise in the figures above.
    bool interleaved = false;
    spectrum_tone offset_spur;
    spectrum_tone interleave_spur;
};

// The figures of the strongest tone as a sine; interleaved for a Single Channel trace.
sine_figures sine_figures_of(const power_spectrum& spectrum, bool interleaved);

// The spectrum's levels in dB into text: each rounded to 0.01 dB, comma separated (a JSON
// array's inside), with offset_db added (0 for dBFS).
void append_levels(const power_spectrum& spectrum, double offset_db, std::string& out);
