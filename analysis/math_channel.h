// The math channel M: one operation on the analogue channels A and B, sample by sample, on
// their values relative to the zero code (0x80 unless the channel's scale says otherwise),
// in the channels' unit where both have the same one, else in converter codes. And M's
// measurements, as a channel's: levels, and frequency, period and duty cycle from the same
// Schmitt trigger rules as analysis/measurements.h.
#pragma once
#include <cstdint>
#include <string>

#include "analysis/measurements.h"
#include "capture/dso_structure.h"

enum class math_op { a_plus_b, a_minus_b, b_minus_a, a_times_b, minus_a, minus_b, mean_a_b };

// The forms an expression is written in, for messages: "A+B, A-B, B-A, A*B, -A, -B, (A+B)/2".
const char* math_forms();
// The expression's own text: "A-B", "(A+B)/2".
const char* math_text(math_op op);
// Reads an expression (spaces anywhere, a or b in lower case too, x for *): false with the
// refusal naming the accepted forms.
bool parse_math(const std::string& text, math_op& op, std::string& message);

bool math_uses_a(math_op op);
bool math_uses_b(math_op op);

// Whether the record's mode gives the channels op needs: Dual Channel has A and B, Mixed
// Mode B alone; the other modes have no math. false with the reason.
bool math_available(const dso_record& record, math_op op, std::string& message);
bool math_available_in(int8_t capture_mode, math_op op, std::string& message);

// How a channel's codes become values: (code - zero_code) * per_code.
struct math_operand_scale {
    int zero_code = ZERO_LEVEL;
    double per_code = 1;
};

// M's values for samples first..last of the mode's sequence (math_available must hold), into
// out (last - first + 1 values).
void compute_math(const dso_record& record, math_op op, const math_operand_scale& a, const math_operand_scale& b,
                  int32_t first, int32_t last, double* out);

// The amplitude of a full-scale sine in M's values (0 dBFS): that of a channel (128 codes
// times its scale) for -A, -B, A+B, A-B, B-A and (A+B)/2 (the larger channel's scale where
// the two differ), and the product of the two for A*B.
double math_full_scale(math_op op, const math_operand_scale& a, const math_operand_scale& b);

struct math_figures {
    double min, max, mean, rms;  // rms about 0
    periodic_figures periodic;
};

// M's figures. Edges as an analogue channel's: a Schmitt trigger around (min + max) / 2 with
// levels range / 8 beyond it; a range below 1/16 of full_scale * 2 (16 codes of a channel)
// is no periodic signal.
void measure_math(const double* values, int32_t count, double full_scale, math_figures& out);
