// A condition that ends a run when a capture meets it: a figure against a limit
// ("A.frequency > 1010", "D3.edges == 0"), or a decoder's annotation whose text matches a
// pattern ("decode uart:rx=D0:baudrate=115200 rx-data /ERR/"), several joined with "or".
// A condition is read and checked before the run starts; a refusal gives the character where
// the mistake is.
#pragma once
#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "analysis/figures.h"
#include "analysis/math_channel.h"
#include "capture/dso_structure.h"

// Conditions are at most this long, and a pattern at most this long.
constexpr size_t MAX_STOP_CONDITION = 1024;
constexpr size_t MAX_STOP_PATTERN = 256;

enum class stop_compare { less, less_equal, greater, greater_equal, equal, not_equal };

struct stop_term {
    bool decode = false;
    std::string text;  // the term as written
    size_t at = 0;     // its first character, from 0
    // A figure against a limit.
    std::string channel, figure;
    size_t channel_at = 0;
    stop_compare compare = stop_compare::equal;
    double limit = 0;
    // A decoder's annotation: the stack as decode -P takes it, the class (or row), the pattern.
    std::string stack, class_name, pattern;
    size_t stack_at = 0;
    std::shared_ptr<const std::regex> matcher;
};

struct stop_condition {
    std::string text;
    std::vector<stop_term> terms;
    bool uses_math = false;  // a term names M, the math channel of op
    math_op op = math_op::a_minus_b;
    bool empty() const { return terms.empty(); }
};

struct stop_refusal {
    size_t at = 0;  // the character of the mistake, from 0
    std::string message;
};

// The refusal of a condition on the math channel M given no expression for it, in one place for
// every front end.
std::string math_channel_refusal();

// Reads a condition: false with the refusal. math: the expression of M ("A-B"), read already by
// the front end, or empty where the run has no math channel.
bool parse_stop_condition(const std::string& text, stop_condition& out, stop_refusal& refusal,
                          const std::string& math = std::string());

// Checks a condition against the run's mode: its channels are the mode's, and its decoders'
// stacks are sound for it (a short decoding of a blank capture of that mode). false with the
// refusal.
bool check_stop_condition(const stop_condition& condition, int8_t capture_mode, stop_refusal& refusal);

// The term a capture meets, or -1; what showed it in detail ("A.frequency = 1012.3 Hz").
// figures: the capture's figures, measured already, or nullptr to measure them here when a
// term needs them.
int stop_condition_met(const stop_condition& condition, const dso_record& record, const capture_figures* figures,
                       std::string& detail);

// The refusal on three lines, as the terminal shows it: the message with the column, the
// condition, and a caret under the mistake.
std::string stop_refusal_text(const std::string& text, const stop_refusal& refusal);
