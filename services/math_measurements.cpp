#include "services/math_measurements.h"

#include <vector>

#include "services/exit_status.h"

namespace {

using json = nlohmann::ordered_json;

json periodic_of(const periodic_figures& p, double rate) {
    json j;
    j["rising_edges"] = p.rising_edges;
    j["falling_edges"] = p.falling_edges;
    j["periodic"] = p.whole_periods > 0;
    j["whole_periods"] = p.whole_periods;
    const bool known = p.whole_periods > 0;
    j["period_samples"] = known ? json(p.period_samples) : json(nullptr);
    j["period_s"] = known && rate > 0 ? json(p.period_samples / rate) : json(nullptr);
    j["frequency_hz"] = known && rate > 0 ? json(rate / p.period_samples) : json(nullptr);
    j["duty_cycle"] = known ? json(p.duty_cycle) : json(nullptr);
    return j;
}

}  // namespace

int math_source_of(const dso_record& r, const std::string& expression, const channel_settings* channels,
                   math_source& out, std::string& message) {
    out = math_source();
    if (!parse_math(expression, out.op, message)) {
        message = "--math: " + message;
        return EXIT_USAGE;
    }
    if (!math_available(r, out.op, message)) return EXIT_WARNING;
    const analogue_channel_settings* sa = channels != nullptr ? channels->analogue_named("A") : nullptr;
    const analogue_channel_settings* sb = channels != nullptr ? channels->analogue_named("B") : nullptr;
    const bool uses_a = math_uses_a(out.op), uses_b = math_uses_b(out.op);
    const bool scaled_a = sa != nullptr && sa->scaled(), scaled_b = sb != nullptr && sb->scaled();
    // In units only where every channel M takes has one, the same one.
    bool units = (!uses_a || scaled_a) && (!uses_b || scaled_b);
    if (units && uses_a && uses_b && sa->unit != sb->unit) {
        units = false;
        out.why_codes = "in codes: A is in " + sa->unit + " and B in " + sb->unit;
    } else if (!units && ((uses_a && scaled_a) || (uses_b && scaled_b))) {
        out.why_codes = std::string("in codes: channel ") + (uses_a && !scaled_a ? "A" : "B") + " has no scale";
    }
    if (units) {
        if (uses_a) out.a = {sa->zero_code, sa->per_code()};
        if (uses_b) out.b = {sb->zero_code, sb->per_code()};
        out.unit = uses_a ? sa->unit : sb->unit;
        if (out.op == math_op::a_times_b) out.unit += "\u00b2";
    }
    out.full_scale = math_full_scale(out.op, out.a, out.b);
    return EXIT_SUCCESS_STATUS;
}

math_figures measure_math_range(const dso_record& r, const math_source& s, int32_t first, int32_t last) {
    std::vector<double> values(static_cast<size_t>(last - first + 1));
    compute_math(r, s.op, s.a, s.b, first, last, values.data());
    math_figures f;
    measure_math(values.data(), static_cast<int32_t>(values.size()), s.full_scale, f);
    return f;
}

nlohmann::ordered_json math_measurements_json(const dso_record& r, const math_source& s, int32_t first,
                                              int32_t last) {
    const math_figures f = measure_math_range(r, s, first, last);
    const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    json j;
    j["channel"] = "M";
    j["expression"] = math_text(s.op);
    j["unit"] = s.unit.empty() ? json("codes") : json(s.unit);
    j["note"] = s.why_codes.empty() ? json(nullptr) : json(s.why_codes);
    j["min"] = f.min;
    j["max"] = f.max;
    j["peak_to_peak"] = f.max - f.min;
    j["mean"] = f.mean;
    j["rms"] = f.rms;
    j.update(periodic_of(f.periodic, rate));
    return j;
}
