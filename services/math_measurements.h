// The math channel M as the front ends ask for it: an expression on a record, with the
// channels' scales (the unit both channels share, else converter codes), and its
// measurements as info prints them and as JSON.
#pragma once
#include <nlohmann/json.hpp>

#include <string>

#include "analysis/math_channel.h"
#include "capture/dso_structure.h"
#include "services/channel_settings.h"

struct math_source {
    math_op op = math_op::a_minus_b;
    math_operand_scale a, b;
    std::string unit;        // "V", "V²" for A*B; empty: converter codes
    std::string why_codes;   // why M stays in codes although a channel has a scale
    double full_scale = 128; // a full-scale sine's amplitude in M's values
};

// M of the expression on the record, with the scales of channels (nullptr: codes): 0, or the
// exit status (2 an expression that is none, 1 a capture whose mode has no such channels)
// with the message.
int math_source_of(const dso_record& record, const std::string& expression, const channel_settings* channels,
                   math_source& out, std::string& message);

// M's figures over samples first..last of the mode's sequence, as info --math --json gives
// them: the expression, unit, levels and periodic figures.
nlohmann::ordered_json math_measurements_json(const dso_record& record, const math_source& source, int32_t first,
                                              int32_t last);
math_figures measure_math_range(const dso_record& record, const math_source& source, int32_t first, int32_t last);
