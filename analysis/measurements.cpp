#include "analysis/measurements.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define MEASURE_SSE2 1
#else
#define MEASURE_SSE2 0
#endif

// How the measurements stay fast: an analogue sequence is read once for its levels, 1024
// samples at a time, and each such chunk leaves its lowest and highest code in a summary.
// The Schmitt trigger then hops from one level crossing to the next: a block whose summary
// cannot reach the level the trigger waits for is passed over whole, and only the few blocks
// where the signal crosses are read again, 16 samples to a compare. Logic inputs compare
// each sample with the one before it, 64 bytes at a time, and look at single samples only
// where something changed.

namespace {

constexpr int32_t CHUNK = 1024;       // samples per pass of the level sums
constexpr int32_t MAX_BLOCKS = 768;   // summaries: a whole Single Channel trace in chunks
constexpr int PERIODIC_RANGE = 16;    // codes: a smaller range is no periodic signal
constexpr int HYSTERESIS_SHARE = 8;   // each trigger level lies range / 8 beyond the middle

bool portable_only = false;

// Lowest and highest code of each block of 2^block_shift samples of the sequence being
// measured. A block is one chunk unless the sequence is longer than a Single Channel trace.
// Each thread has its own, so that captures are measured on several at once.
thread_local uint8_t block_min[MAX_BLOCKS];
thread_local uint8_t block_max[MAX_BLOCKS];
thread_local int block_shift = 10;

bool use_sse2() { return MEASURE_SSE2 && !portable_only; }

inline int lowest_bit(unsigned v) {
#if defined(__GNUC__)
    return __builtin_ctz(v);
#else
    int b = 0;
    while (!(v & 1u)) {
        v >>= 1;
        ++b;
    }
    return b;
#endif
}

inline int highest_bit(unsigned v) {
#if defined(__GNUC__)
    return 31 - __builtin_clz(v);
#else
    int b = 31;
    while (!(v & 0x80000000u)) {
        v <<= 1;
        --b;
    }
    return b;
#endif
}

// ---- edges and whole periods ----

struct edge_tally {
    int32_t rising = 0;
    int32_t falling = 0;
    int32_t first_rise = -1;
    int32_t last_rise = -1;
    int64_t high = 0;               // samples spent high since the first rise
    int64_t high_at_last_rise = 0;  // the part of it before the last rise
};

inline void rise_at(edge_tally& t, int32_t i) {
    ++t.rising;
    if (t.first_rise < 0) t.first_rise = i;
    t.last_rise = i;
    t.high_at_last_rise = t.high;
}

inline void fall_at(edge_tally& t, int32_t i) {
    ++t.falling;
    if (t.last_rise >= 0) t.high += i - t.last_rise;
}

periodic_figures figures_of(const edge_tally& t) {
    periodic_figures f{};
    f.rising_edges = t.rising;
    f.falling_edges = t.falling;
    if (t.rising >= 2) {
        const double span = static_cast<double>(t.last_rise - t.first_rise);
        f.whole_periods = t.rising - 1;
        f.period_samples = span / f.whole_periods;
        f.duty_cycle = static_cast<double>(t.high_at_last_rise) / span;
    }
    return f;
}

// ---- analogue levels ----

struct chunk_levels {
    uint8_t min;
    uint8_t max;
    uint64_t sum;
    uint64_t sum_squares;
};

void levels_portable(const uint8_t* s, int32_t n, chunk_levels& out) {
    uint8_t lo = 255, hi = 0;
    uint32_t sum = 0, squares = 0;  // a chunk cannot overflow them
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t v = s[i];
        if (v < lo) lo = static_cast<uint8_t>(v);
        if (v > hi) hi = static_cast<uint8_t>(v);
        sum += v;
        squares += v * v;
    }
    out = {lo, hi, sum, squares};
}

#if MEASURE_SSE2
inline uint8_t horizontal_min(__m128i v) {
    v = _mm_min_epu8(v, _mm_srli_si128(v, 8));
    v = _mm_min_epu8(v, _mm_srli_si128(v, 4));
    v = _mm_min_epu8(v, _mm_srli_si128(v, 2));
    v = _mm_min_epu8(v, _mm_srli_si128(v, 1));
    return static_cast<uint8_t>(_mm_cvtsi128_si32(v));
}

inline uint8_t horizontal_max(__m128i v) {
    v = _mm_max_epu8(v, _mm_srli_si128(v, 8));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 4));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 2));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 1));
    return static_cast<uint8_t>(_mm_cvtsi128_si32(v));
}

// Lowest and highest code, sum and sum of squares of 16 codes: the sum by a sum of absolute
// differences from 0, the squares by multiplying the even and the odd bytes as 16-bit words
// (each 32-bit lane gathers four squares, at most 260,100 per vector).
struct level_lanes {
    __m128i lo, hi, sum, squares;
};

inline void take_codes(level_lanes& l, __m128i x) {
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    l.lo = _mm_min_epu8(l.lo, x);
    l.hi = _mm_max_epu8(l.hi, x);
    l.sum = _mm_add_epi64(l.sum, _mm_sad_epu8(x, _mm_setzero_si128()));
    const __m128i even = _mm_and_si128(x, low_bytes);
    const __m128i odd = _mm_srli_epi16(x, 8);
    l.squares = _mm_add_epi32(l.squares, _mm_madd_epi16(even, even));
    l.squares = _mm_add_epi32(l.squares, _mm_madd_epi16(odd, odd));
}

void levels_sse2(const uint8_t* s, int32_t n, chunk_levels& out) {
    const __m128i zero = _mm_setzero_si128();
    level_lanes a{_mm_set1_epi8(-1), zero, zero, zero};
    level_lanes b = a;
    int32_t i = 0;
    for (; i + 64 <= n; i += 64) {
        take_codes(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
        take_codes(b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 16)));
        take_codes(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 32)));
        take_codes(b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 48)));
    }
    for (; i + 16 <= n; i += 16) take_codes(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));

    alignas(16) uint64_t sums[2];
    alignas(16) uint32_t squares[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_add_epi64(a.sum, b.sum));
    _mm_store_si128(reinterpret_cast<__m128i*>(squares), _mm_add_epi32(a.squares, b.squares));
    chunk_levels rest;
    levels_portable(s + i, n - i, rest);
    const uint8_t lo = horizontal_min(_mm_min_epu8(a.lo, b.lo));
    const uint8_t hi = horizontal_max(_mm_max_epu8(a.hi, b.hi));
    out.min = rest.min < lo ? rest.min : lo;
    out.max = rest.max > hi ? rest.max : hi;
    out.sum = sums[0] + sums[1] + rest.sum;
    out.sum_squares = uint64_t{squares[0]} + squares[1] + squares[2] + squares[3] + rest.sum_squares;
}
#endif

// One pass over the sequence: the totals, and the summary of every block.
void sum_levels(const uint8_t* s, int32_t count, uint64_t& sum, uint64_t& sum_squares) {
    block_shift = 10;
    while (((count - 1) >> block_shift) >= MAX_BLOCKS) ++block_shift;
    const int32_t blocks = ((count - 1) >> block_shift) + 1;
    std::memset(block_min, 0xFF, static_cast<std::size_t>(blocks));
    std::memset(block_max, 0, static_cast<std::size_t>(blocks));
    sum = 0;
    sum_squares = 0;
    const bool sse2 = use_sse2();
    (void)sse2;
    for (int32_t at = 0; at < count;) {
        const int32_t n = count - at < CHUNK ? count - at : CHUNK;
        chunk_levels c;
#if MEASURE_SSE2
        if (sse2)
            levels_sse2(s + at, n, c);
        else
#endif
            levels_portable(s + at, n, c);
        const int32_t b = at >> block_shift;
        if (c.min < block_min[b]) block_min[b] = c.min;
        if (c.max > block_max[b]) block_max[b] = c.max;
        sum += c.sum;
        sum_squares += c.sum_squares;
        at += n;
    }
}

// ---- level crossings ----

inline bool beyond(uint8_t v, uint8_t level, bool above) { return above ? v >= level : v <= level; }

#if MEASURE_SSE2
// One bit per code of x that is at or above level (above) or at or below it.
inline unsigned beyond_mask(__m128i x, __m128i level, bool above) {
    const __m128i edge = above ? _mm_max_epu8(x, level) : _mm_min_epu8(x, level);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(edge, x)));
}
#endif

// First index in [from, to) whose code is at or above level (above) or at or below it; to
// when there is none.
int32_t scan_forward(const uint8_t* s, int32_t from, int32_t to, uint8_t level, bool above) {
    int32_t i = from;
#if MEASURE_SSE2
    if (use_sse2()) {
        const __m128i l = _mm_set1_epi8(static_cast<char>(level));
        for (; i + 16 <= to; i += 16) {
            const unsigned mask = beyond_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)), l, above);
            if (mask) return i + lowest_bit(mask);
        }
    }
#endif
    for (; i < to; ++i)
        if (beyond(s[i], level, above)) return i;
    return to;
}

// Last index in [from, to) whose code is at or above level (above) or at or below it;
// from - 1 when there is none.
int32_t scan_backward(const uint8_t* s, int32_t from, int32_t to, uint8_t level, bool above) {
    int32_t i = to;
#if MEASURE_SSE2
    if (use_sse2()) {
        const __m128i l = _mm_set1_epi8(static_cast<char>(level));
        for (; i - 16 >= from; i -= 16) {
            const unsigned mask = beyond_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 16)), l, above);
            if (mask) return i - 16 + highest_bit(mask);
        }
    }
#endif
    while (--i >= from)
        if (beyond(s[i], level, above)) return i;
    return from - 1;
}

// The block summaries reach the level somewhere in block b.
inline bool block_reaches(int32_t b, uint8_t level, bool above) {
    return above ? block_max[b] >= level : block_min[b] <= level;
}

// As scan_forward and scan_backward, passing over the blocks that cannot hold such a code.
int32_t find_forward(const uint8_t* s, int32_t from, int32_t to, uint8_t level, bool above) {
    while (from < to) {
        const int32_t b = from >> block_shift;
        const int32_t block_end = (b + 1) << block_shift;
        const int32_t end = block_end < to ? block_end : to;
        if (block_reaches(b, level, above)) {
            const int32_t at = scan_forward(s, from, end, level, above);
            if (at < end) return at;
        }
        from = end;
    }
    return to;
}

int32_t find_backward(const uint8_t* s, int32_t from, int32_t to, uint8_t level, bool above) {
    while (to > from) {
        const int32_t b = (to - 1) >> block_shift;
        const int32_t block_start = b << block_shift;
        const int32_t start = block_start > from ? block_start : from;
        if (block_reaches(b, level, above)) {
            const int32_t at = scan_backward(s, start, to, level, above);
            if (at >= start) return at;
        }
        to = start;
    }
    return from - 1;
}

// The Schmitt trigger over the sequence whose blocks sum_levels has just summarised.
void find_analogue_edges(const uint8_t* s, int32_t count, uint8_t min, uint8_t max, edge_tally& t) {
    const int range = max - min;
    if (range < PERIODIC_RANGE) return;
    const int twice_middle = min + max;
    const int band = range / HYSTERESIS_SHARE;
    const uint8_t middle_down = static_cast<uint8_t>(twice_middle / 2);  // highest code not above it
    const uint8_t middle_up = static_cast<uint8_t>((twice_middle + 1) / 2);  // lowest not below it
    const uint8_t high_level = static_cast<uint8_t>(middle_up + band);
    const uint8_t low_level = static_cast<uint8_t>(middle_down - band);

    // The first level the signal reaches sets the state.
    const int32_t first_high = find_forward(s, 0, count, high_level, true);
    const int32_t first_low = find_forward(s, 0, first_high, low_level, false);
    bool high = first_low == first_high;
    int32_t at = high ? first_high : first_low;  // where the state was last confirmed
    for (;;) {
        const int32_t next = find_forward(s, at + 1, count, high ? low_level : high_level, !high);
        if (next >= count) break;
        // The edge is the first sample beyond the middle after the last one short of it;
        // the confirming sample at `at` lies short of it, so the search always ends.
        if (high)
            fall_at(t, find_backward(s, at, next, middle_up, true) + 1);
        else
            rise_at(t, find_backward(s, at, next, middle_down, false) + 1);
        high = !high;
        at = next;
    }
}

// ---- logic inputs ----

inline unsigned logic_sample(const uint8_t* s, int width, int32_t i) {
    return width == 2 ? s[2 * i] | unsigned{s[2 * i + 1]} << 8 : s[i];
}

// Sample i differs from sample i - 1.
inline void take_change(edge_tally* tally, const uint8_t* s, int width, int32_t i) {
    const unsigned now = logic_sample(s, width, i);
    unsigned changed = now ^ logic_sample(s, width, i - 1);
    while (changed) {
        const int b = lowest_bit(changed);
        if (now >> b & 1u)
            rise_at(tally[b], i);
        else
            fall_at(tally[b], i);
        changed &= changed - 1;
    }
}

void find_logic_edges(const uint8_t* s, int32_t count, int width, edge_tally* tally) {
    int32_t i = 1;
#if MEASURE_SSE2
    if (use_sse2()) {
        // Byte p against byte p - width: a zero difference everywhere means no change.
        const int64_t bytes = int64_t{count} * width;
        const __m128i zero = _mm_setzero_si128();
        auto difference = [s, width](int64_t p) {
            return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p - width)));
        };
        auto take_vector = [&](__m128i d, int64_t p) {
            unsigned changed = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(d, zero))) & 0xFFFFu;
            if (width == 2) changed = (changed | changed >> 1) & 0x5555u;  // p is even
            while (changed) {
                take_change(tally, s, width, static_cast<int32_t>((p + lowest_bit(changed)) / width));
                changed &= changed - 1;
            }
        };
        int64_t p = width;
        for (; p + 64 <= bytes; p += 64) {
            const __m128i d0 = difference(p), d1 = difference(p + 16);
            const __m128i d2 = difference(p + 32), d3 = difference(p + 48);
            const __m128i any = _mm_or_si128(_mm_or_si128(d0, d1), _mm_or_si128(d2, d3));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) == 0xFFFF) continue;
            take_vector(d0, p);
            take_vector(d1, p + 16);
            take_vector(d2, p + 32);
            take_vector(d3, p + 48);
        }
        for (; p + 16 <= bytes; p += 16) take_vector(difference(p), p);
        i = static_cast<int32_t>(p / width);
    }
#endif
    for (; i < count; ++i)
        if (logic_sample(s, width, i) != logic_sample(s, width, i - 1)) take_change(tally, s, width, i);
}

void add_analogue(capture_measurements& out, char name, const uint8_t* samples, int32_t count) {
    const int c = out.analogue_channels++;
    out.analogue_name[c] = name;
    measure_analogue(samples, count, out.analogue[c]);
}

}  // namespace

void measure_analogue(const uint8_t* samples, int32_t count, analogue_figures& out) {
    out = analogue_figures{};
    if (count < 1) return;
    uint64_t sum, sum_squares;
    sum_levels(samples, count, sum, sum_squares);
    const int32_t blocks = ((count - 1) >> block_shift) + 1;
    uint8_t lo = 255, hi = 0;
    for (int32_t b = 0; b < blocks; ++b) {
        if (block_min[b] < lo) lo = block_min[b];
        if (block_max[b] > hi) hi = block_max[b];
    }
    const double n = count;
    // Sum of (v - 0x80)^2 = sum of v^2 - 0x100 * sum of v + 0x4000 * count, exactly.
    const int64_t relative_squares = static_cast<int64_t>(sum_squares) - 256 * static_cast<int64_t>(sum) +
                                     16384 * int64_t{count};
    out.min = lo;
    out.max = hi;
    out.mean = static_cast<double>(sum) / n;
    out.rms = std::sqrt(static_cast<double>(sum_squares) / n);
    out.rms_relative = std::sqrt(static_cast<double>(relative_squares) / n);
    edge_tally t;
    find_analogue_edges(samples, count, lo, hi, t);
    out.periodic = figures_of(t);
}

void measure_logic(const uint8_t* samples, int32_t count, int inputs, logic_figures out[]) {
    if (inputs > 16) inputs = 16;
    edge_tally tally[16];
    if (count > 1) find_logic_edges(samples, count, inputs > 8 ? 2 : 1, tally);
    for (int b = 0; b < inputs; ++b) {
        out[b].transitions = tally[b].rising + tally[b].falling;
        out[b].periodic = figures_of(tally[b]);
    }
}

void measure_capture(const dso_record& record, capture_measurements& out) {
    measure_capture_range(record, 0, samples_in_mode(record.capture_mode) - 1, out);
}

void measure_capture_range(const dso_record& record, int32_t first, int32_t last, capture_measurements& out) {
    out = capture_measurements{};
    const int32_t count = last - first + 1;
    if (count <= 0) return;
    out.samples = count;
    switch (record.capture_mode) {
    case MODE_DUAL:
        add_analogue(out, 'A', record.channel_a + first, count);
        add_analogue(out, 'B', record.channel_b + first, count);
        break;
    case MODE_SINGLE:
        add_analogue(out, 'A', record.sample_area + first, count);
        break;
    case MODE_LOGIC16:
        out.logic_inputs = 16;
        measure_logic(record.sample_area + 2 * first, count, 16, out.logic);
        break;
    case MODE_MIXED:
        add_analogue(out, 'B', record.channel_b + first, count);
        out.logic_inputs = 8;
        measure_logic(record.channel_a + first, count, 8, out.logic);
        break;
    default:
        out.samples = 0;
        break;
    }
}

void set_measurements_portable(bool portable) { portable_only = portable; }
