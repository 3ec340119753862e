#include "display/paint.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "capture/dso_structure.h"
#include "display/axes.h"
#include "display/pixel_math.h"
#include "display/view_range.h"

namespace {

plot_area limit_area(const plot_area& a) {
    return {limit_coordinate(a.x_left), limit_coordinate(a.y_top), limit_coordinate(a.x_right),
            limit_coordinate(a.y_bottom)};
}

// The end (exclusive) of the samples i with i < bound, bound >= 0, within count samples.
int32_t index_end_below(double bound, int32_t count) {
    if (!(bound < static_cast<double>(count))) return count;
    // ceil, without a library call in the per-column path
    const int32_t t = static_cast<int32_t>(bound);
    return static_cast<double>(t) < bound ? t + 1 : t;
}

// Lowest and highest of n samples, folded into lo and hi.
void min_max(const uint8_t* p, int32_t n, uint8_t& lo, uint8_t& hi) {
    int32_t i = 0;
    uint8_t l = lo, h = hi;
#if defined(__SSE2__)
    if (n >= 16) {
        __m128i vl = _mm_set1_epi8(static_cast<char>(l));
        __m128i vh = _mm_set1_epi8(static_cast<char>(h));
        __m128i vl2 = vl, vh2 = vh;
        for (; i + 32 <= n; i += 32) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
            vl = _mm_min_epu8(vl, v);
            vh = _mm_max_epu8(vh, v);
            vl2 = _mm_min_epu8(vl2, v2);
            vh2 = _mm_max_epu8(vh2, v2);
        }
        vl = _mm_min_epu8(vl, vl2);
        vh = _mm_max_epu8(vh, vh2);
        if (i + 16 <= n) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            vl = _mm_min_epu8(vl, v);
            vh = _mm_max_epu8(vh, v);
        }
        // The rest as the last 16 samples, some of them seen twice.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16));
        vl = _mm_min_epu8(vl, v);
        vh = _mm_max_epu8(vh, v);
        vl = _mm_min_epu8(vl, _mm_srli_si128(vl, 8));
        vh = _mm_max_epu8(vh, _mm_srli_si128(vh, 8));
        vl = _mm_min_epu8(vl, _mm_srli_si128(vl, 4));
        vh = _mm_max_epu8(vh, _mm_srli_si128(vh, 4));
        vl = _mm_min_epu8(vl, _mm_srli_si128(vl, 2));
        vh = _mm_max_epu8(vh, _mm_srli_si128(vh, 2));
        vl = _mm_min_epu8(vl, _mm_srli_si128(vl, 1));
        vh = _mm_max_epu8(vh, _mm_srli_si128(vh, 1));
        lo = static_cast<uint8_t>(_mm_cvtsi128_si32(vl));
        hi = static_cast<uint8_t>(_mm_cvtsi128_si32(vh));
        return;
    }
#endif
    for (; i < n; ++i) {
        const uint8_t v = p[i];
        l = v < l ? v : l;
        h = v > h ? v : h;
    }
    lo = l;
    hi = h;
}

}  // namespace

int plot_layout(int8_t mode, int32_t left, int32_t top, int32_t right, int32_t bottom, plot_area areas[2]) {
    const int32_t x_left = left + 75;
    const int32_t x_right = right - 20;
    const int32_t y_top = top + 20;
    switch (mode) {
    case MODE_DUAL:
    case MODE_MIXED: {
        const int32_t y_base = bottom - (mode == MODE_DUAL ? 20 : 45);
        const int32_t h = (y_base - y_top - 20) / 2;
        areas[0] = {x_left, y_top, x_right, y_top + h};
        areas[1] = {x_left, y_base - h, x_right, y_base};
        return 2;
    }
    case MODE_SINGLE:
        areas[0] = {x_left, y_top, x_right, bottom - 20};
        return 1;
    case MODE_LOGIC16:
        areas[0] = {x_left, y_top, x_right, bottom - 45};
        return 1;
    default:
        return 0;
    }
}

namespace {

// Collects the short strokes of the min/max columns and the column marks and hands them to
// the surface in batches, which it may draw in one call each.
class segment_batch {
public:
    explicit segment_batch(canvas& surface) : surface_(surface) {}
    ~segment_batch() { flush(); }
    segment_batch(const segment_batch&) = delete;
    segment_batch& operator=(const segment_batch&) = delete;

    void add(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        if (count_ == CAPACITY) flush();
        segments_[count_++] = {x0, y0, x1, y1};
    }
    void flush() {
        if (count_ > 0) surface_.draw_segments(segments_, count_);
        count_ = 0;
    }

private:
    static constexpr int32_t CAPACITY = 512;
    canvas& surface_;
    line_segment segments_[CAPACITY];
    int32_t count_ = 0;
};

}  // namespace

void draw_analogue_trace(canvas& surface, const uint8_t* samples, int32_t count, const plot_area& plot,
                         sample_range range) {
    if (samples == nullptr || count < 2) return;
    range = limit_range(range.start, range.end, count - 1);
    const plot_area area = limit_area(plot);
    const int32_t w = area.x_right - area.x_left;
    const int32_t h = area.y_bottom - area.y_top;
    const int32_t span = range.end - range.start;

    // Samples per pixel column; a plot of no width takes every sample into its one column.
    const float d = w == 0 ? HUGE_VALF : single(static_cast<double>(span) / w);

    // y of each sample value: the scale h/256 is exact in single precision.
    const float scale = single(static_cast<double>(h) / 256.0);
    const int32_t y_mid = area.y_top + h / 2;
    int32_t y_of[256];
    for (int v = 0; v < 256; ++v) y_of[v] = y_mid + trunc_to_pixel(static_cast<double>(scale) * (128 - v));

    if (d > 10.0f) {
        // One min/max stroke per column; the column start g is carried in single precision.
        segment_batch strokes(surface);
        float g = single(range.start);
        for (int32_t x = area.x_left; x <= area.x_right; ++x) {
            const double next = static_cast<double>(g) + d;
            const int32_t i = static_cast<double>(g) < count ? static_cast<int32_t>(g) : count;
            uint8_t lo, hi;
            if (i >= count) {
                // Nothing left of the samples for this column: it shows the last one.
                lo = hi = samples[count - 1];
            } else {
                lo = hi = samples[i];
                const int32_t end = index_end_below(next, count);
                if (end > i) min_max(samples + i, end - i, lo, hi);
            }
            g = single(next);
            strokes.add(x, y_of[lo], x, y_of[hi] - 1);
        }
    } else {
        const float r = single(1.0 / static_cast<double>(d));
        surface.move_to(area.x_left, y_of[samples[range.start]]);
        for (int32_t i = range.start; i <= range.end; ++i)
            surface.line_to(area.x_left + trunc_to_pixel(static_cast<double>(i - range.start) * r),
                            y_of[samples[i]]);
    }
}

namespace {

constexpr int32_t MARK_COLUMNS = 8192;  // widest plot whose column marks take one pass

uint32_t logic_sample(const uint8_t* bytes, const uint8_t* words, int32_t i) {
    if (bytes != nullptr) return bytes[i];
    const std::size_t n = static_cast<std::size_t>(i) * 2;
    return static_cast<uint32_t>(words[n]) | (static_cast<uint32_t>(words[n + 1]) << 8);
}

// The samples of column k of the column marks: first..end-1 (none when end <= first).
void column_samples(int32_t k, float u, sample_range range, int32_t count, int32_t& first, int32_t& end) {
    const int64_t f = static_cast<int64_t>(range.start) + trunc_to_int32(static_cast<double>(k) / u);
    const float stop = single(static_cast<double>(range.start) + static_cast<double>(k + 1) / u);
    end = index_end_below(stop, count);
    first = f < end ? static_cast<int32_t>(f) : end;
}

// The bits seen high (any) and low (not all) over samples first..end-1, read eight bytes at
// a time in blocks that stop once every lane has shown both levels.
void scan_column(const uint8_t* bytes, const uint8_t* words, int32_t first, int32_t end, uint32_t lane_mask,
                 uint32_t& any_high, uint32_t& all_high) {
    constexpr int32_t BLOCK_BYTES = 512;
    const int width = bytes != nullptr ? 1 : 2;  // bytes per sample
    const uint8_t* p = bytes != nullptr ? bytes + first : words + static_cast<std::size_t>(first) * 2;
    std::size_t left = static_cast<std::size_t>(end - first) * static_cast<std::size_t>(width);
    uint64_t o = 0, a = ~uint64_t{0};
    uint32_t seen_or = 0, seen_and = lane_mask;
    while (left > 0) {
        std::size_t block = left > BLOCK_BYTES ? BLOCK_BYTES : left;
        std::size_t i = 0;
        typedef uint64_t sixteen_bytes __attribute__((vector_size(16)));
        sixteen_bytes vo = {0, 0}, va = {~uint64_t{0}, ~uint64_t{0}};
        sixteen_bytes wo = vo, wa = va;
        for (; i + 32 <= block; i += 32) {
            sixteen_bytes v, w;
            std::memcpy(&v, p + i, 16);
            std::memcpy(&w, p + i + 16, 16);
            vo |= v;
            va &= v;
            wo |= w;
            wa &= w;
        }
        vo |= wo;
        va &= wa;
        for (; i + 16 <= block; i += 16) {
            sixteen_bytes v;
            std::memcpy(&v, p + i, 16);
            vo |= v;
            va &= v;
        }
        o |= vo[0] | vo[1];
        a &= va[0] & va[1];
        for (; i + 8 <= block; i += 8) {
            uint64_t v;
            std::memcpy(&v, p + i, 8);
            o |= v;
            a &= v;
        }
        uint64_t tail_or = 0, tail_and = ~uint64_t{0};
        for (int shift = 0; i < block; ++i, shift += 8) {  // a whole number of samples, under eight bytes
            tail_or |= static_cast<uint64_t>(p[i]) << shift;
            tail_and &= ~(static_cast<uint64_t>(static_cast<uint8_t>(~p[i])) << shift);
        }
        p += block;
        left -= block;
        // Fold the lanes of the eight bytes onto one sample (little-endian words).
        uint64_t fo = o | tail_or, fa = a & tail_and;
        fo |= fo >> 32;
        fa &= fa >> 32;
        fo |= fo >> 16;
        fa &= fa >> 16;
        if (width == 1) {
            fo |= fo >> 8;
            fa &= fa >> 8;
        }
        seen_or = static_cast<uint32_t>(fo) & lane_mask;
        seen_and = static_cast<uint32_t>(fa) & lane_mask;
        if (seen_or == lane_mask && seen_and == 0) break;
    }
    any_high = seen_or;
    all_high = seen_and;
}

}  // namespace

void draw_logic_traces(canvas& surface, const uint8_t* bytes, const uint8_t* words, int32_t count,
                       const plot_area& plot, sample_range range) {
    if ((bytes == nullptr && words == nullptr) || count < 2) return;
    range = limit_range(range.start, range.end, count - 1);
    const plot_area area = limit_area(plot);
    const int lanes = bytes != nullptr ? 8 : 16;
    const uint32_t lane_mask = (1u << lanes) - 1;
    const int32_t w = area.x_right - area.x_left;
    const int32_t h = area.y_bottom - area.y_top;
    const int32_t span = range.end - range.start;

    // Lane geometry in single precision: n lanes of height A and n + 1 gaps of B fill h.
    const float lane_height = single(static_cast<double>(h) / (lanes + 2));
    const float gap = single(2.0 * lane_height / (lanes + 1));
    const float pitch = single(static_cast<double>(lane_height) + gap);
    int32_t y_hi[16], y_lo[16];
    for (int l = 0; l < lanes; ++l) {
        y_hi[l] = trunc_to_pixel(static_cast<double>(area.y_top) + gap + static_cast<double>(l) * pitch);
        y_lo[l] = trunc_to_pixel(static_cast<double>(y_hi[l]) + lane_height);
    }

    // Pixels per sample.
    const float u = single(static_cast<double>(w) / span);

    if (u >= 1.0f) {
        // Steps: a vertical edge where the bit changes, a horizontal run to the next sample.
        for (int l = 0; l < lanes; ++l) {
            uint32_t state = (logic_sample(bytes, words, range.start) >> l) & 1;
            surface.move_to(area.x_left, state ? y_hi[l] : y_lo[l]);
            for (int32_t i = range.start; i < range.end; ++i) {
                const float x_i = single(static_cast<double>(area.x_left) +
                                                     static_cast<double>(i - range.start) * u);
                const uint32_t bit = (logic_sample(bytes, words, i) >> l) & 1;
                const int32_t level = bit ? y_hi[l] : y_lo[l];
                if (bit != state) surface.line_to(trunc_to_pixel(x_i), level);
                surface.line_to(trunc_to_pixel(static_cast<double>(x_i) + u), level);
                state = bit;
            }
        }
        return;
    }

    // Column marks. Every lane of a column covers the same samples, so one pass over the
    // column gives the levels seen on all lanes; the marks still go out lane by lane. The
    // buffers are each thread's own: pictures of several captures are drawn at once.
    const int32_t columns = w > 0 ? w : 0;
    thread_local uint16_t seen_high[MARK_COLUMNS];
    thread_local uint16_t seen_low[MARK_COLUMNS];
    const bool one_pass = columns <= MARK_COLUMNS;
    if (one_pass) {
        for (int32_t k = 0; k < columns; ++k) {
            int32_t first, end;
            column_samples(k, u, range, count, first, end);
            uint32_t any_high = 0, all_high = lane_mask;
            if (first < end) scan_column(bytes, words, first, end, lane_mask, any_high, all_high);
            seen_high[k] = static_cast<uint16_t>(any_high);
            seen_low[k] = static_cast<uint16_t>(first < end ? ~all_high & lane_mask : 0);
        }
    }
    thread_local uint8_t lane_marks[MARK_COLUMNS];
    for (int l = 0; l < lanes; ++l) {
        const uint32_t mask = 1u << l;
        surface.move_to(area.x_left, (logic_sample(bytes, words, range.start) & mask) ? y_hi[l] : y_lo[l]);
        for (int32_t chunk = 0; chunk < columns; chunk += MARK_COLUMNS) {
            const int32_t n = columns - chunk < MARK_COLUMNS ? columns - chunk : MARK_COLUMNS;
            if (one_pass) {
                for (int32_t k = 0; k < n; ++k)
                    lane_marks[k] = static_cast<uint8_t>(((seen_high[k] >> l) & 1) * MARK_ONE |
                                                         ((seen_low[k] >> l) & 1) * MARK_ZERO);
            } else {
                for (int32_t k = 0; k < n; ++k) {
                    int32_t first, end;
                    column_samples(chunk + k, u, range, count, first, end);
                    bool one = false, zero = false;
                    for (int32_t i = first; i < end && !(one && zero); ++i) {
                        if (logic_sample(bytes, words, i) & mask)
                            one = true;
                        else
                            zero = true;
                    }
                    lane_marks[k] = static_cast<uint8_t>((one ? MARK_ONE : 0) | (zero ? MARK_ZERO : 0));
                }
            }
            surface.draw_column_marks(area.x_left + chunk, y_hi[l], y_lo[l], lane_marks, n);
        }
    }
}

void draw_pretrigger_marker(canvas& surface, const plot_area& plot, sample_range range) {
    draw_pretrigger_marker(surface, plot, range, dso_structure, display_preferences);
}

void draw_pretrigger_marker(canvas& surface, const plot_area& plot, sample_range range, const dso_record& record,
                            const display_preferences_flags& preferences) {
    if (preferences.show_pretrigger_position == 0) return;
    // Compared as unsigned values, so that a negative pretrigger is never shown.
    const uint32_t p = static_cast<uint32_t>(record.pretrigger);
    const uint32_t start = static_cast<uint32_t>(range.start);
    const uint32_t end = static_cast<uint32_t>(range.end);
    if (p < start || p > end) return;
    const plot_area area = limit_area(plot);
    int32_t x = area.x_left;
    if (end != start)
        x += trunc_to_pixel(static_cast<double>(area.x_right - area.x_left) / static_cast<double>(end - start) *
                            static_cast<double>(p - start));
    surface.move_to(x, area.y_top);
    surface.line_to(x, area.y_bottom);
}

void draw_trigger_level(canvas& surface, const plot_area& plot, int channel) {
    draw_trigger_level(surface, plot, channel, dso_structure, display_preferences);
}

void draw_trigger_level(canvas& surface, const plot_area& plot, int channel, const dso_record& record,
                        const display_preferences_flags& preferences) {
    if (preferences.show_trigger_level == 0) return;
    const int8_t mode = record.capture_mode;
    switch (record.trigger_source) {
    case TRIGGER_EXTERNAL:
    case TRIGGER_NONE:
        return;
    case TRIGGER_CHANNEL_A:
        if (!((mode == MODE_DUAL || mode == MODE_SINGLE) && channel == 1)) return;
        break;
    case TRIGGER_CHANNEL_B:
        if (channel != 2) return;
        break;
    default:
        break;
    }
    const plot_area area = limit_area(plot);
    const float scale = 1.0f / 256.0f;
    const int32_t y = area.y_top + trunc_to_pixel(static_cast<double>(area.y_bottom - area.y_top) *
                                                   (255 - static_cast<int32_t>(record.trigger_value)) *
                                                   scale);
    surface.move_to(area.x_left, y);
    surface.line_to(area.x_right, y);
}

void paint_client(canvas& surface, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    // The capture thread holds the same guard while it lays a download into the buffers.
    record_buffers_guard guard;
    paint_record(surface, dso_structure, window_view(), left, top, right, bottom);
}

void paint_record(canvas& surface, const dso_record& record, const record_view& view, int32_t left, int32_t top,
                  int32_t right, int32_t bottom) {
    const display_preferences_flags& preferences = view.preferences;
    left = limit_coordinate(left);
    top = limit_coordinate(top);
    right = limit_coordinate(right);
    bottom = limit_coordinate(bottom);

    surface.select_new_pen(COLOUR_WHITE);
    surface.fill_background(left, top, right, bottom);

    const int8_t mode = record.capture_mode;
    plot_area areas[2];
    const int area_count = plot_layout(mode, left, top, right, bottom, areas);
    const sample_range range = range_to_paint(view, mode);
    const plot_area& upper = areas[0];
    const plot_area& lower = areas[1];

    surface.select_new_pen(COLOUR_BLUE);
    if (area_count > 0) {
        switch (mode) {
        case MODE_DUAL:
            draw_analogue_trace(surface, record.channel_a, FIFO_SIZE, upper, range);
            draw_analogue_trace(surface, record.channel_b, FIFO_SIZE, lower, range);
            break;
        case MODE_SINGLE:
            draw_analogue_trace(surface, record.sample_area, SAMPLE_AREA_SIZE, upper, range);
            break;
        case MODE_LOGIC16:
            draw_logic_traces(surface, nullptr, record.sample_area, SAMPLE_AREA_SIZE / 2, upper, range);
            break;
        default:  // MODE_MIXED
            draw_analogue_trace(surface, record.channel_b, FIFO_SIZE, upper, range);
            draw_logic_traces(surface, record.channel_a, nullptr, FIFO_SIZE, lower, range);
            break;
        }
    }

    surface.select_new_pen(COLOUR_GREEN);
    if (area_count > 0) {
        switch (mode) {
        case MODE_DUAL:
            draw_pretrigger_marker(surface, upper, range, record, preferences);
            draw_pretrigger_marker(surface, lower, range, record, preferences);
            draw_trigger_level(surface, upper, 1, record, preferences);
            draw_trigger_level(surface, lower, 2, record, preferences);
            break;
        case MODE_SINGLE:
            draw_pretrigger_marker(surface, upper, range, record, preferences);
            draw_trigger_level(surface, upper, 1, record, preferences);
            break;
        case MODE_LOGIC16:
            draw_pretrigger_marker(surface, upper, range, record, preferences);
            break;
        default:  // MODE_MIXED
            draw_pretrigger_marker(surface, upper, range, record, preferences);
            draw_pretrigger_marker(surface, lower, range, record, preferences);
            draw_trigger_level(surface, upper, 2, record, preferences);
            break;
        }
    }

    surface.select_new_pen(COLOUR_RED);
    if (area_count > 0) {
        const int32_t h = upper.y_bottom - upper.y_top;
        const int8_t rate = record.sample_rate_index;
        const bool times = preferences.show_time_on_x_axis != 0;
        switch (mode) {
        case MODE_DUAL:
            draw_x_axis(surface, upper.x_left, upper.x_right, upper.y_top + h / 2, range, mode, rate, times);
            draw_x_axis(surface, lower.x_left, lower.x_right, lower.y_top + h / 2, range, mode, rate, times);
            draw_analogue_y_axis(surface, upper.x_left, upper.y_top, upper.y_bottom);
            draw_analogue_y_axis(surface, lower.x_left, lower.y_top, lower.y_bottom);
            break;
        case MODE_SINGLE:
            draw_x_axis(surface, upper.x_left, upper.x_right, upper.y_top + h / 2, range, mode, rate, times);
            draw_analogue_y_axis(surface, upper.x_left, upper.y_top, upper.y_bottom);
            break;
        case MODE_LOGIC16:
            draw_x_axis(surface, upper.x_left, upper.x_right, upper.y_bottom, range, mode, rate, times);
            draw_logic_y_axis(surface, upper.x_left, upper.y_top, upper.y_bottom, 16);
            break;
        default:  // MODE_MIXED
            draw_x_axis(surface, upper.x_left, upper.x_right, upper.y_top + h / 2, range, mode, rate, times);
            draw_x_axis(surface, lower.x_left, lower.x_right, lower.y_bottom, range, mode, rate, times);
            draw_analogue_y_axis(surface, upper.x_left, upper.y_top, upper.y_bottom);
            draw_logic_y_axis(surface, lower.x_left, lower.y_top, lower.y_bottom, 8);
            break;
        }
    }

    surface.restore_initial_pen();
}
