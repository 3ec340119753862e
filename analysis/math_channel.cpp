#include "analysis/math_channel.h"

#include <cmath>

namespace {

struct op_name {
    math_op op;
    const char* text;
};
const op_name OPS[] = {{math_op::a_plus_b, "A+B"}, {math_op::a_minus_b, "A-B"}, {math_op::b_minus_a, "B-A"},
                       {math_op::a_times_b, "A*B"}, {math_op::minus_a, "-A"},   {math_op::minus_b, "-B"},
                       {math_op::mean_a_b, "(A+B)/2"}};

constexpr int HYSTERESIS_SHARE = 8;  // as the channels' measurements
constexpr double PERIODIC_SHARE = 16;  // of the full span: 16 codes of a channel's 256

}  // namespace

const char* math_forms() { return "A+B, A-B, B-A, A*B, -A, -B, (A+B)/2"; }

const char* math_text(math_op op) {
    for (const op_name& o : OPS)
        if (o.op == op) return o.text;
    return "?";
}

bool parse_math(const std::string& text, math_op& op, std::string& message) {
    std::string compact;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (c == 'a' || c == 'b') c = static_cast<char>(c - 'a' + 'A');
        if (c == 'x' || c == 'X') c = '*';
        compact += c;
    }
    for (const op_name& o : OPS)
        if (compact == o.text) {
            op = o.op;
            return true;
        }
    // The same operations written the other way round.
    if (compact == "B+A") return op = math_op::a_plus_b, true;
    if (compact == "B*A") return op = math_op::a_times_b, true;
    if (compact == "(B+A)/2") return op = math_op::mean_a_b, true;
    if (compact == "A+B/2" || compact == "B+A/2") {
        message = "'" + text + "' adds half of one channel to the other; write (A+B)/2 for their mean, or use one of " +
                  math_forms();
        return false;
    }
    message = "'" + text + "' is not a math expression; use one of " + math_forms();
    return false;
}

bool math_uses_a(math_op op) { return op != math_op::minus_b; }
bool math_uses_b(math_op op) { return op != math_op::minus_a; }

bool math_available(const dso_record& r, math_op op, std::string& message) {
    return math_available_in(r.capture_mode, op, message);
}

bool math_available_in(int8_t capture_mode, math_op op, std::string& message) {
    if (capture_mode == MODE_DUAL) return true;
    if (capture_mode == MODE_MIXED) {
        if (!math_uses_a(op)) return true;
        message = std::string("Mixed Mode has no analogue channel A (its logic inputs take it): of the math only -B; ") +
                  math_text(op) + " needs A";
        return false;
    }
    const char* title = capture_mode_title(capture_mode);
    message = std::string("math needs channels A and B (Dual Channel) or B (Mixed Mode); a ") +
              (title != nullptr ? title : "capture of an unknown mode") + " capture has neither";
    return false;
}

void compute_math(const dso_record& r, math_op op, const math_operand_scale& sa, const math_operand_scale& sb,
                  int32_t first, int32_t last, double* out) {
    const uint8_t* a = r.channel_a + first;
    const uint8_t* b = r.channel_b + first;
    const int32_t n = last - first + 1;
    const double ka = sa.per_code, kb = sb.per_code;
    const double za = sa.zero_code, zb = sb.zero_code;
    switch (op) {
    case math_op::a_plus_b:
        for (int32_t i = 0; i < n; ++i) out[i] = (a[i] - za) * ka + (b[i] - zb) * kb;
        break;
    case math_op::a_minus_b:
        for (int32_t i = 0; i < n; ++i) out[i] = (a[i] - za) * ka - (b[i] - zb) * kb;
        break;
    case math_op::b_minus_a:
        for (int32_t i = 0; i < n; ++i) out[i] = (b[i] - zb) * kb - (a[i] - za) * ka;
        break;
    case math_op::a_times_b:
        for (int32_t i = 0; i < n; ++i) out[i] = (a[i] - za) * ka * ((b[i] - zb) * kb);
        break;
    case math_op::minus_a:
        for (int32_t i = 0; i < n; ++i) out[i] = -(a[i] - za) * ka;
        break;
    case math_op::minus_b:
        for (int32_t i = 0; i < n; ++i) out[i] = -(b[i] - zb) * kb;
        break;
    case math_op::mean_a_b:
        for (int32_t i = 0; i < n; ++i) out[i] = ((a[i] - za) * ka + (b[i] - zb) * kb) / 2;
        break;
    }
}

double math_full_scale(math_op op, const math_operand_scale& a, const math_operand_scale& b) {
    const double fa = 128 * a.per_code, fb = 128 * b.per_code;
    switch (op) {
    case math_op::minus_a: return fa;
    case math_op::minus_b: return fb;
    case math_op::a_times_b: return fa * fb;
    default: return fa > fb ? fa : fb;
    }
}

void measure_math(const double* v, int32_t n, double full_scale, math_figures& out) {
    out = math_figures{};
    if (n <= 0) return;
    double lo = v[0], hi = v[0], sum = 0, squares = 0;
    for (int32_t i = 0; i < n; ++i) {
        lo = v[i] < lo ? v[i] : lo;
        hi = v[i] > hi ? v[i] : hi;
        sum += v[i];
        squares += v[i] * v[i];
    }
    out.min = lo;
    out.max = hi;
    out.mean = sum / n;
    out.rms = std::sqrt(squares / n);

    const double range = hi - lo;
    // A tolerance of a millionth of the span keeps values one rounding apart the same level.
    if (!(range >= 2 * full_scale / PERIODIC_SHARE * (1 - 1e-9))) return;
    const double middle = (lo + hi) / 2, band = range / HYSTERESIS_SHARE;
    const double high_level = middle + band, low_level = middle - band;
    int state = 0;  // 0 not known yet, 1 high, -1 low
    int32_t last_not_above = -1, last_not_below = -1;  // the last samples at or below / above the middle
    int32_t first_rise = -1, last_rise = -1;
    int64_t high = 0, high_at_last_rise = 0;
    periodic_figures& p = out.periodic;
    for (int32_t i = 0; i < n; ++i) {
        if (v[i] <= middle) last_not_above = i;
        if (v[i] >= middle) last_not_below = i;
        if (v[i] >= high_level && state != 1) {
            if (state == -1) {
                const int32_t edge = last_not_above + 1;
                ++p.rising_edges;
                if (first_rise < 0) first_rise = edge;
                last_rise = edge;
                high_at_last_rise = high;
            }
            state = 1;
        } else if (v[i] <= low_level && state != -1) {
            if (state == 1) {
                const int32_t edge = last_not_below + 1;
                ++p.falling_edges;
                if (last_rise >= 0) high += edge - last_rise;
            }
            state = -1;
        }
    }
    if (p.rising_edges >= 2) {
        const double span = static_cast<double>(last_rise - first_rise);
        p.whole_periods = p.rising_edges - 1;
        p.period_samples = span / p.whole_periods;
        p.duty_cycle = static_cast<double>(high_at_last_rise) / span;
    }
}
