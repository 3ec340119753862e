// The pulse figures of a capture as info prints them and as the JSON of info --json and the
// server's measurements: times in seconds, levels in a channel's unit where its settings give
// one and in codes otherwise, and for every figure that cannot be had, null and the reason.
#pragma once
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "analysis/pulse.h"
#include "services/channel_settings.h"

// An analogue channel's "pulse" object. rate: samples a second (0 unknown); scale: the
// channel's settings when it has a scale, else nullptr.
nlohmann::ordered_json analogue_pulse_json(const analogue_pulse_figures& figures, double rate,
                                           const analogue_channel_settings* scale);
// A logic input's "pulse" object.
nlohmann::ordered_json logic_pulse_json(const logic_pulse_figures& figures, double rate);

// Adds the "pulse" objects to an info --json document (its "analogue" and "logic" lists) of
// the record, measured over samples first..last.
void add_pulse_json(nlohmann::ordered_json& document, const dso_record& record, int32_t first, int32_t last,
                    const channel_settings* channels);

// The lines info prints under an analogue channel ("  top/base    ..."), each ending in a line
// break; and a logic input's pulses on one line.
std::string analogue_pulse_text(const analogue_pulse_figures& figures, double rate,
                                const analogue_channel_settings* scale);
std::string logic_pulse_text(const logic_pulse_figures& figures, double rate);
