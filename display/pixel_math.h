// Conversions of the display arithmetic: truncation toward zero into pixel coordinates and
// sample indices, kept in range so that an absurd window size or view range can never turn
// into an undefined conversion. Sane values pass through unchanged.
#pragma once
#include <cfloat>
#include <cstdint>

// Client coordinates are taken within +-PIXEL_LIMIT; computed coordinates within
// +-PIXEL_RANGE, far beyond anything a window shows and far from overflowing a sum.
constexpr int32_t PIXEL_LIMIT = 1 << 20;
constexpr int32_t PIXEL_RANGE = 1 << 30;

inline int32_t limit_coordinate(int32_t v) {
    if (v > PIXEL_LIMIT) return PIXEL_LIMIT;
    if (v < -PIXEL_LIMIT) return -PIXEL_LIMIT;
    return v;
}

// trunc(v) toward zero; NaN gives 0, values beyond +-PIXEL_RANGE give that bound.
inline int32_t trunc_to_pixel(double v) {
    if (v >= static_cast<double>(PIXEL_RANGE)) return PIXEL_RANGE;
    if (v <= -static_cast<double>(PIXEL_RANGE)) return -PIXEL_RANGE;
    if (v != v) return 0;
    return static_cast<int32_t>(v);
}

// trunc(v) toward zero for a 32-bit value; NaN gives 0, values beyond the type give its bounds.
inline int32_t trunc_to_int32(double v) {
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    if (v != v) return 0;
    return static_cast<int32_t>(v);
}

// A value held in single precision. Where float arithmetic runs in the wider x87 registers
// (32-bit x86 code without SSE) the value is passed through memory so that it really is
// rounded to single precision, as it is everywhere else.
inline float single(double v) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0
    volatile float rounded = static_cast<float>(v);
    return rounded;
#else
    return static_cast<float>(v);
#endif
}
