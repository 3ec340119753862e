// The spectrum's own cost: spectrum_of_codes (the window, FFTW's real transform, the power of
// every bin and the fit of the strongest tone) against FFTW's planned real-to-complex
// transform alone on the same length (BM_FftwAlone), for a Dual Channel record (393,216
// samples) and a Single Channel trace (786,432). The goal: at most 1.3 times the transform.
// BM_SineFigures adds what spectrum prints: the figures and the peaks.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <vector>

#include "analysis/spectrum_fftw.h"

namespace {

std::vector<uint8_t> sine_codes(int32_t n) {
    std::vector<uint8_t> codes(static_cast<size_t>(n));
    uint32_t seed = 0x73706563u;
    for (int32_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>((seed >> 16) % 5) - 2;
        codes[static_cast<size_t>(i)] = static_cast<uint8_t>(std::lround(128 + 100 * std::sin(i * 0.0123456) + noise));
    }
    return codes;
}

void BM_FftwAlone(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t> codes = sine_codes(n);
    double* in = fftw_alloc_real(static_cast<size_t>(n));
    fftw_complex* out = fftw_alloc_complex(static_cast<size_t>(n) / 2 + 1);
    const fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    for (int32_t i = 0; i < n; ++i) in[i] = codes[static_cast<size_t>(i)] - 128.0;
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out[1][0]);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwAlone)->Arg(393216)->Arg(786432)->Unit(benchmark::kMillisecond);

void BM_Spectrum(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t> codes = sine_codes(n);
    power_spectrum s;
    for (auto _ : state) {
        spectrum_of_codes(codes.data(), n, 1, 128, 128, 50e6, spectrum_window::blackman_harris, s);
        benchmark::DoNotOptimize(s.power[1]);
    }
}
BENCHMARK(BM_Spectrum)->Arg(393216)->Arg(786432)->Unit(benchmark::kMillisecond);

void BM_SineFigures(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t> codes = sine_codes(n);
    power_spectrum s;
    spectrum_of_codes(codes.data(), n, 1, 128, 128, 50e6, spectrum_window::blackman_harris, s);
    for (auto _ : state) {
        const sine_figures f = sine_figures_of(s, false);
        const std::vector<spectrum_peak> peaks = spectrum_peaks(s, 5);
        benchmark::DoNotOptimize(f.snr_db);
        benchmark::DoNotOptimize(peaks.data());
    }
}
BENCHMARK(BM_SineFigures)->Arg(393216)->Arg(786432)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
