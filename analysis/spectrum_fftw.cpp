#include "analysis/spectrum_fftw.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <utility>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double FLOOR_DB = -300;

// ---- windows: w[n] = sum over m of (-1)^m a[m] cos(2 pi m n / N), periodic ----

struct window_info {
    spectrum_window window;
    const char* name;
    int terms;
    double a[5];
};
const window_info WINDOWS[] = {
    {spectrum_window::rectangular, "rectangular", 1, {1}},
    {spectrum_window::hann, "hann", 2, {0.5, 0.5}},
    {spectrum_window::hamming, "hamming", 2, {0.54, 0.46}},
    {spectrum_window::blackman, "blackman", 3, {0.42, 0.5, 0.08}},
    {spectrum_window::blackman_harris, "blackman-harris", 4, {0.35875, 0.48829, 0.14128, 0.01168}},
    {spectrum_window::flat_top, "flat-top", 5, {0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368}},
};

const window_info& info_of(spectrum_window w) {
    for (const window_info& i : WINDOWS)
        if (i.window == w) return i;
    return WINDOWS[1];
}

// The window's sums over count samples: of w (its coherent gain times count) and of w^2.
double window_sum(const window_info& w, int32_t count, bool squares) {
    // Every cosine of a periodic window sums to 0 over its period, so the sums follow from
    // the coefficients: sum w = N a0, sum w^2 = N (a0^2 + sum over m >= 1 of a[m]^2 / 2), but
    // for N small enough that 2m reaches N (not met at MIN_SPECTRUM_SAMPLES).
    if (!squares) return count * w.a[0];
    double s = w.a[0] * w.a[0];
    for (int m = 1; m < w.terms; ++m) s += w.a[m] * w.a[m] / 2;
    return count * s;
}

// ---- plans and window tables, kept for the last few lengths ----

// FFTW's planner and the destruction of plans are not thread-safe; executing a plan is.
std::mutex planner_mutex;

struct fftw_deleter {
    void operator()(void* p) const { fftw_free(p); }
};
template <typename T>
using fftw_buffer = std::unique_ptr<T[], fftw_deleter>;
template <typename T>
fftw_buffer<T> fftw_array(size_t count) {
    auto* p = static_cast<T*>(fftw_malloc(sizeof(T) * (count ? count : 1)));
    if (p == nullptr) throw std::bad_alloc();
    return fftw_buffer<T>(p);
}

struct kept_plan {
    fftw_plan plan = nullptr;
    ~kept_plan() {
        std::lock_guard<std::mutex> lock(planner_mutex);
        if (plan != nullptr) fftw_destroy_plan(plan);
    }
};

struct window_table {
    std::vector<double> w;  // w[0..N/2]; the rest mirrors it
};

constexpr size_t KEPT_PLANS = 12;
constexpr size_t KEPT_WINDOWS = 4;  // up to 3 MB each

std::mutex cache_mutex;
std::list<std::pair<int32_t, std::shared_ptr<kept_plan>>> plans;  // newest first
std::list<std::pair<std::pair<int32_t, int>, std::shared_ptr<const window_table>>> tables;

template <typename List, typename Key>
typename List::value_type::second_type find_kept(List& list, const Key& key) {
    std::lock_guard<std::mutex> lock(cache_mutex);
    for (auto i = list.begin(); i != list.end(); ++i)
        if (i->first == key) {
            list.splice(list.begin(), list, i);
            return list.front().second;
        }
    return nullptr;
}

// Keeps value under key; what falls out is let go after the lock.
template <typename List, typename Key, typename Value>
Value keep(List& list, const Key& key, Value value, size_t bound) {
    List dropped;
    {
        std::lock_guard<std::mutex> lock(cache_mutex);
        for (auto i = list.begin(); i != list.end(); ++i)
            if (i->first == key) return i->second;  // another thread made it meanwhile
        list.emplace_front(key, value);
        while (list.size() > bound) dropped.splice(dropped.begin(), list, std::prev(list.end()));
    }
    return value;
}

std::shared_ptr<kept_plan> plan_for(int32_t n) {
    if (auto kept = find_kept(plans, n)) return kept;
    auto made = std::make_shared<kept_plan>();
    {
        // The planner looks at no data under FFTW_ESTIMATE; the arrays only give the
        // alignment every later buffer of fftw_malloc shares.
        fftw_buffer<double> in = fftw_array<double>(static_cast<size_t>(n));
        fftw_buffer<fftw_complex> out = fftw_array<fftw_complex>(static_cast<size_t>(n) / 2 + 1);
        std::lock_guard<std::mutex> lock(planner_mutex);
        made->plan = fftw_plan_dft_r2c_1d(n, in.get(), out.get(), FFTW_ESTIMATE);
    }
    if (made->plan == nullptr) throw std::runtime_error("FFTW could not plan a transform of " + std::to_string(n));
    return keep(plans, n, made, KEPT_PLANS);
}

std::shared_ptr<const window_table> table_for(spectrum_window window, int32_t n) {
    const std::pair<int32_t, int> key(n, static_cast<int>(window));
    if (auto kept = find_kept(tables, key)) return kept;
    auto made = std::make_shared<window_table>();
    const window_info& w = info_of(window);
    // Symmetric about N/2 (w[N - i] = w[i]): half of it is kept.
    made->w.resize(static_cast<size_t>(n / 2 + 1));
    for (int32_t i = 0; i <= n / 2; ++i) {
        const double c = std::cos(2 * PI * i / n);
        // cos(m t) from cos(t) (Chebyshev): each term without another cosine.
        double t_prev = 1, t = c, v = w.a[0];
        for (int m = 1; m < w.terms; ++m) {
            v += (m & 1 ? -w.a[m] : w.a[m]) * t;
            const double next = 2 * c * t - t_prev;
            t_prev = t;
            t = next;
        }
        made->w[static_cast<size_t>(i)] = v;
    }
    return keep(tables, key, std::shared_ptr<const window_table>(made), KEPT_WINDOWS);
}

// ---- the tone's frequency: the window's own transform fitted to its main lobe ----

// D(v) = sum over n < N of exp(-j 2 pi v n / N).
std::complex<double> dirichlet(double v, int32_t n) {
    const double s = std::sin(PI * v / n);
    const double magnitude = std::fabs(s) < 1e-300 ? n : std::sin(PI * v) / s;
    return std::polar(magnitude, -PI * v * (n - 1) / n);
}

// The window's transform at v bins.
std::complex<double> window_transform(const window_info& w, double v, int32_t n) {
    std::complex<double> sum = w.a[0] * dirichlet(v, n);
    for (int m = 1; m < w.terms; ++m) sum += (m & 1 ? -w.a[m] : w.a[m]) / 2 * (dirichlet(v - m, n) + dirichlet(v + m, n));
    return sum;
}

// The squared residual of the best sine at f bins (and, with dc, a constant) over bins
// first..last of x: X[k] = c W(k - f) + conj(c) W(k + f) + d W(k), linear in Re c, Im c, d.
double fit_residual(const fftw_complex* x, int32_t first, int32_t last, double f, const std::complex<double>* dc_basis,
                    const window_info& w, int32_t n) {
    const bool dc = dc_basis != nullptr;
    double ata[3][3] = {}, atb[3] = {}, bb = 0;
    const int unknowns = dc ? 3 : 2;
    for (int32_t k = first; k <= last; ++k) {
        const std::complex<double> minus = window_transform(w, k - f, n), plus = window_transform(w, k + f, n);
        const std::complex<double> basis[3] = {minus + plus, std::complex<double>(0, 1) * (minus - plus),
                                               dc ? dc_basis[k - first] : 0.0};
        const std::complex<double> b(x[k][0], x[k][1]);
        for (int i = 0; i < unknowns; ++i) {
            for (int j = 0; j < unknowns; ++j) ata[i][j] += std::real(std::conj(basis[i]) * basis[j]);
            atb[i] += std::real(std::conj(basis[i]) * b);
        }
        bb += std::norm(b);
    }
    // Gaussian elimination with partial pivoting on the small normal equations.
    double m[3][4];
    for (int i = 0; i < unknowns; ++i) {
        for (int j = 0; j < unknowns; ++j) m[i][j] = ata[i][j];
        m[i][unknowns] = atb[i];
    }
    for (int c = 0; c < unknowns; ++c) {
        int pivot = c;
        for (int r = c + 1; r < unknowns; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
        for (int j = 0; j <= unknowns; ++j) std::swap(m[c][j], m[pivot][j]);
        if (std::fabs(m[c][c]) < 1e-300) return bb;
        for (int r = 0; r < unknowns; ++r) {
            if (r == c) continue;
            const double factor = m[r][c] / m[c][c];
            for (int j = c; j <= unknowns; ++j) m[r][j] -= factor * m[c][j];
        }
    }
    // The residual of a least-squares solution: |b|^2 - b'A(A'A)^-1 A'b.
    double explained = 0;
    for (int i = 0; i < unknowns; ++i) explained += atb[i] * m[i][unknowns] / m[i][i];
    return bb - explained;
}

double fitted_tone(const fftw_complex* x, int32_t n, int32_t peak, const window_info& w) {
    const int32_t half = n / 2;
    // Bins either side that the fit reads: the model is exact on every bin, and the nearest
    // hold the most of the tone against the noise.
    const int reach = 2;
    const int32_t first = std::max<int32_t>(0, peak - reach), last = std::min<int32_t>(half, peak + reach);
    // The DC's own transform reaches only the first few bins of a periodic window; it does not
    // depend on the tone's frequency.
    std::complex<double> dc_basis[2 * reach + 1];
    const bool dc_near = first <= w.terms + 1;
    for (int32_t k = first; dc_near && k <= last; ++k) dc_basis[k - first] = window_transform(w, k, n);
    const std::complex<double>* dc = dc_near ? dc_basis : nullptr;
    double lo = std::max(0.0, peak - 1.0), hi = std::min(static_cast<double>(half), peak + 1.0);
    // Golden-section search for the least residual.
    const double g = (std::sqrt(5.0) - 1) / 2;
    double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
    double fa = fit_residual(x, first, last, a, dc, w, n), fb = fit_residual(x, first, last, b, dc, w, n);
    for (int i = 0; i < 80 && hi - lo > 1e-7; ++i) {
        if (fa < fb) {
            hi = b, b = a, fb = fa;
            a = hi - g * (hi - lo);
            fa = fit_residual(x, first, last, a, dc, w, n);
        } else {
            lo = a, a = b, fa = fb;
            b = lo + g * (hi - lo);
            fb = fit_residual(x, first, last, b, dc, w, n);
        }
    }
    return (lo + hi) / 2;
}

// The transform of windowed samples already in `in`, into out.
template <typename Fill>
void transform(int32_t n, double full_scale, double rate, spectrum_window window, power_spectrum& out, Fill fill) {
    if (n < MIN_SPECTRUM_SAMPLES) throw std::invalid_argument("a spectrum needs at least 16 samples");
    const std::shared_ptr<kept_plan> plan = plan_for(n);
    const std::shared_ptr<const window_table> table = table_for(window, n);
    const size_t bins = static_cast<size_t>(n) / 2 + 1;
    // Each thread keeps its buffers at the largest length it has transformed (a Single
    // Channel trace at most): fresh pages for every record would cost as much as the
    // transform.
    thread_local fftw_buffer<double> in;
    thread_local fftw_buffer<fftw_complex> x;
    thread_local size_t held = 0;
    if (held < static_cast<size_t>(n)) {
        in.reset();
        x.reset();
        held = 0;
        in = fftw_array<double>(static_cast<size_t>(n));
        x = fftw_array<fftw_complex>(bins);
        held = static_cast<size_t>(n);
    }
    fill(in.get(), table->w.data());
    fftw_execute_dft_r2c(plan->plan, in.get(), x.get());

    const window_info& w = info_of(window);
    const double s2 = window_sum(w, n, true);
    out.samples = n;
    out.rate_hz = rate;
    out.window = window;
    out.records = 1;
    out.noise_bandwidth = n * s2 / (window_sum(w, n, false) * window_sum(w, n, false));
    out.power.resize(bins);
    // p[k] = c |X[k]|^2 / (N sum w^2) / (full_scale^2 / 2), c = 2 but at DC and Nyquist.
    const double scale = 2 / (n * s2 * full_scale * full_scale / 2);
    double* p = out.power.data();
    const fftw_complex* xs = x.get();
    // In the same pass, the strongest bin beyond the DC's main lobe.
    const size_t from = static_cast<size_t>(window_half_width(window)) + 1;
    int32_t peak = -1;
    double highest = 0;
    for (size_t k = 0; k < bins; ++k) {
        const double power = scale * (xs[k][0] * xs[k][0] + xs[k][1] * xs[k][1]);
        p[k] = power;
        if (power > highest && k >= from) highest = power, peak = static_cast<int32_t>(k);
    }
    p[0] /= 2;
    if (n % 2 == 0) p[bins - 1] /= 2;
    if (peak == static_cast<int32_t>(bins) - 1 && n % 2 == 0) {
        // The Nyquist bin halved may no longer be the strongest.
        peak = -1, highest = 0;
        for (size_t k = from; k < bins; ++k)
            if (p[k] > highest) highest = p[k], peak = static_cast<int32_t>(k);
    }
    out.tone_bin = peak < 0 ? -1 : fitted_tone(xs, n, peak, w);
}

// in[i] = value(i) * w[i] for i < n, from the half window w[0..n/2].
template <typename Value>
void mirrored_window(int32_t n, const double* w, Value value, double* in) {
    const int32_t half = n / 2;
    for (int32_t i = 0; i <= half; ++i) in[i] = value(i) * w[i];
    for (int32_t i = half + 1; i < n; ++i) in[i] = value(i) * w[n - i];
}

int32_t nearest_bin(double f) { return static_cast<int32_t>(std::lround(f)); }

// f folded into 0..N/2 bins.
double folded(double f, int32_t n) {
    double x = std::fmod(f, static_cast<double>(n));
    if (x < 0) x += n;
    return x > n / 2.0 ? n - x : x;
}

double db_of_power(double p) { return p > 0 ? std::max(FLOOR_DB, 10 * std::log10(p)) : FLOOR_DB; }

}  // namespace

const char* window_name(spectrum_window window) { return info_of(window).name; }

const char* window_names() { return "rectangular, hann, hamming, blackman, blackman-harris, flat-top"; }

bool window_from_name(const std::string& text, spectrum_window& window) {
    std::string t;
    for (char c : text) t += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c == '_' ? '-' : c);
    static const std::pair<const char*, spectrum_window> other[] = {
        {"rect", spectrum_window::rectangular},     {"none", spectrum_window::rectangular},
        {"hanning", spectrum_window::hann},          {"bh4", spectrum_window::blackman_harris},
        {"blackmanharris", spectrum_window::blackman_harris}, {"flattop", spectrum_window::flat_top}};
    for (const window_info& i : WINDOWS)
        if (t == i.name) return window = i.window, true;
    for (const auto& o : other)
        if (t == o.first) return window = o.second, true;
    return false;
}

int window_half_width(spectrum_window window) { return info_of(window).terms; }

double window_noise_bandwidth(spectrum_window window, int32_t samples) {
    const window_info& w = info_of(window);
    const double s1 = window_sum(w, samples, false);
    return samples * window_sum(w, samples, true) / (s1 * s1);
}

double power_spectrum::level_db(int32_t k) const {
    const bool edge = k == 0 || (samples % 2 == 0 && k == samples / 2);
    return db_of_power(power[static_cast<size_t>(k)] * noise_bandwidth / (edge ? 2 : 1));
}

void spectrum_of(const double* values, int32_t count, double zero, double full_scale, double rate_hz,
                 spectrum_window window, power_spectrum& out) {
    transform(count, full_scale, rate_hz, window, out, [&](double* in, const double* w) {
        mirrored_window(count, w, [&](int32_t i) { return values[i] - zero; }, in);
    });
}

void spectrum_of_codes(const uint8_t* codes, int32_t count, int32_t stride, double zero, double full_scale,
                       double rate_hz, spectrum_window window, power_spectrum& out) {
    transform(count, full_scale, rate_hz, window, out, [&](double* in, const double* w) {
        if (stride == 1)
            mirrored_window(count, w, [&](int32_t i) { return codes[i] - zero; }, in);
        else
            mirrored_window(count, w, [&](int32_t i) { return codes[static_cast<size_t>(i) * stride] - zero; }, in);
    });
}

bool average_spectra(const std::vector<const power_spectrum*>& spectra, power_spectrum& out) {
    if (spectra.empty()) return false;
    const power_spectrum& first = *spectra.front();
    for (const power_spectrum* s : spectra)
        if (s->samples != first.samples || s->rate_hz != first.rate_hz || s->window != first.window) return false;
    power_spectrum sum = first;
    double tones = 0;
    int toned = 0;
    sum.records = 0;
    std::fill(sum.power.begin(), sum.power.end(), 0.0);
    for (const power_spectrum* s : spectra) {
        for (size_t k = 0; k < sum.power.size(); ++k) sum.power[k] += s->power[k];
        sum.records += s->records;
        if (s->tone_bin >= 0) tones += s->tone_bin, ++toned;
    }
    for (double& p : sum.power) p /= static_cast<double>(spectra.size());
    sum.tone_bin = toned > 0 ? tones / toned : -1;
    out = std::move(sum);
    return true;
}

std::vector<spectrum_peak> spectrum_peaks(const power_spectrum& s, int count) {
    std::vector<spectrum_peak> peaks;
    const int32_t bins = static_cast<int32_t>(s.power.size());
    const int half_width = window_half_width(s.window);
    if (count <= 0 || bins < 3) return peaks;
    const double* p = s.power.data();
    std::vector<int32_t> candidates;
    for (int32_t k = half_width + 1; k < bins; ++k)
        if (p[k] > 0 && p[k] >= p[k - 1] && (k + 1 == bins || p[k] > p[k + 1])) candidates.push_back(k);
    // Enough of the strongest that count of them stand apart.
    const size_t keep = std::min(candidates.size(), static_cast<size_t>(count) * (2 * half_width + 3) + 16);
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(keep), candidates.end(),
                      [&](int32_t a, int32_t b) { return p[a] > p[b]; });
    for (size_t i = 0; i < keep && static_cast<int>(peaks.size()) < count; ++i) {
        const int32_t k = candidates[i];
        bool apart = true;
        for (const spectrum_peak& q : peaks) apart = apart && std::abs(q.bin - k) > half_width;
        if (!apart) continue;
        double delta = 0, level = s.level_db(k);
        if (k > 0 && k + 1 < bins && p[k - 1] > 0 && p[k + 1] > 0) {
            // A parabola through the three log levels (a Gaussian through the magnitudes).
            const double a = s.level_db(k - 1), b = level, c = s.level_db(k + 1);
            const double d = a - 2 * b + c;
            if (d < 0) {
                delta = std::max(-0.5, std::min(0.5, 0.5 * (a - c) / d));
                level = b - 0.25 * (a - c) * delta;
            }
        }
        peaks.push_back({(k + delta) * s.bin_hz(), level, k});
    }
    return peaks;
}

sine_figures sine_figures_of(const power_spectrum& s, bool interleaved) {
    sine_figures f;
    f.interleaved = interleaved;
    const int32_t bins = static_cast<int32_t>(s.power.size()), n = s.samples, half = n / 2;
    const int L = window_half_width(s.window);
    if (s.tone_bin < 0) {
        f.why_not = "no tone: the samples hold nothing but their mean";
        return f;
    }
    const double* p = s.power.data();
    std::vector<char> claimed(static_cast<size_t>(bins), 0);
    // The power of the bins about centre not claimed before, claiming them.
    const auto take = [&](double centre, char by) {
        double sum = 0;
        const int32_t c = nearest_bin(centre);
        for (int32_t k = std::max(0, c - L); k <= std::min(bins - 1, c + L); ++k)
            if (!claimed[static_cast<size_t>(k)]) sum += p[k], claimed[static_cast<size_t>(k)] = by;
        return sum;
    };
    const auto lobe = [&](double centre) {  // the same without claiming
        double sum = 0;
        const int32_t c = nearest_bin(centre);
        for (int32_t k = std::max(0, c - L); k <= std::min(bins - 1, c + L); ++k) sum += p[k];
        return sum;
    };
    take(0, 1);  // the DC
    const double fundamental = take(s.tone_bin, 2);
    const double f0 = s.tone_bin;
    f.fundamental = {true, f0 * s.bin_hz(), db_of_power(fundamental)};
    double harmonic_power = 0;
    for (int h = 2; h < 2 + HARMONICS; ++h) {
        const double at = folded(h * f0, n);
        spectrum_tone& t = f.harmonics[h - 2];
        t.frequency_hz = at * s.bin_hz();
        // One that falls on the DC, the fundamental or an earlier harmonic cannot be told from it.
        t.found = !claimed[static_cast<size_t>(nearest_bin(at))];
        const double power = take(at, 3);
        t.level_dbfs = db_of_power(power);
        harmonic_power += power;
    }
    double noise = 0;
    int noise_bins = 0;
    int32_t spur_bin = -1;
    for (int32_t k = 0; k < bins; ++k)
        if (!claimed[static_cast<size_t>(k)]) {
            noise += p[k], ++noise_bins;
            if (spur_bin < 0 || p[k] > p[spur_bin]) spur_bin = k;
        }
    if (noise_bins == 0) {
        f.why_not = "too few samples: the tone's and the DC's bins leave none for the noise";
        return f;
    }
    f.noise_bins = noise_bins;
    f.noise_dbfs = db_of_power(noise);
    f.noise_floor_dbfs = db_of_power(noise / noise_bins);
    if (!(fundamental > noise)) {
        f.why_not = "no sine: the strongest tone stands no higher than the noise";
        return f;
    }
    const double all = noise + harmonic_power;
    f.thd_db = harmonic_power > 0 ? 10 * std::log10(harmonic_power / fundamental) : FLOOR_DB;
    f.snr_db = noise > 0 ? 10 * std::log10(fundamental / noise) : -FLOOR_DB;
    f.sinad_db = all > 0 ? 10 * std::log10(fundamental / all) : -FLOOR_DB;
    f.enob_bits = (f.sinad_db - 1.76) / 6.02;
    // The largest spur: a harmonic's power, or the highest other bin as it reads.
    f.spur = {spur_bin >= 0, spur_bin * s.bin_hz(), spur_bin >= 0 ? s.level_db(spur_bin) : FLOOR_DB};
    for (const spectrum_tone& t : f.harmonics)
        if (t.found && t.level_dbfs > f.spur.level_dbfs) f.spur = t;
    f.sfdr_db = f.fundamental.level_dbfs - f.spur.level_dbfs;
    if (interleaved) {
        // A tone on the Nyquist bin has twice the power of a sine of its amplitude: its level
        // reads as the amplitude, as the bin's own level does.
        f.offset_spur = {true, half * s.bin_hz(), db_of_power(lobe(half) / (n % 2 == 0 ? 2 : 1))};
        const double image = folded(half - f0, n);
        f.interleave_spur = {true, image * s.bin_hz(), db_of_power(lobe(image))};
    }
    f.found = true;
    return f;
}

void append_levels(const power_spectrum& s, double offset_db, std::string& out) {
    const int32_t bins = static_cast<int32_t>(s.power.size());
    out.reserve(out.size() + static_cast<size_t>(bins) * 8);
    char text[32];
    for (int32_t k = 0; k < bins; ++k) {
        const long hundredths = std::lround((s.level_db(k) + offset_db) * 100);
        // "-45.23": the hundredths as a whole number, with the point put in.
        const unsigned long magnitude = static_cast<unsigned long>(hundredths < 0 ? -hundredths : hundredths);
        char* end = text + sizeof text;
        char* at = end;
        unsigned long v = magnitude;
        for (int digit = 0; digit < 3 || v > 0; ++digit) {
            if (digit == 2) *--at = '.';
            *--at = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        if (hundredths < 0) *--at = '-';
        if (k > 0) out += ',';
        out.append(at, static_cast<size_t>(end - at));
    }
}
