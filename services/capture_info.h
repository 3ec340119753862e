// A capture's settings in words and the measurements of its channels, as info prints them and
// as the JSON document that info --json and the server give.
#pragma once
#include <nlohmann/json.hpp>

#include <string>

#include "analysis/measurements.h"
#include "capture/dso_structure.h"
#include "services/channel_settings.h"

// The info --json document of a record, under name. With ranged, the measurements cover
// samples first..last of the mode's sequence (brought within it) and "range" says so.
// Records are measured on several threads at once. With channels, an analogue channel that
// has a scale also gives its figures in its unit ("scaled").
nlohmann::ordered_json capture_info_json(const std::string& name, const dso_record& record, bool ranged = false,
                                         int32_t first = 0, int32_t last = 0,
                                         const channel_settings* channels = nullptr);

// A channel's levels in its unit: min, max, peak-to-peak, mean, and the RMS about its zero
// code.
struct scaled_figures {
    double min, max, peak_to_peak, mean, rms;
};
scaled_figures scaled_analogue(const analogue_figures& figures, const analogue_channel_settings& channel);

// Where a capture's .dso bytes hold what: its mode, samples and rate, the header's fields, and
// each channel with its name ("D3", "A"), kind ("logic", "analogue"), the byte offset of its
// first sample in the file, the stride between samples in bytes, and a logic input's bit in
// its byte (null for an analogue channel): sample k of a channel is the byte at
// offset + k * stride. Any reader of the file needs nothing else.
nlohmann::ordered_json capture_layout_json(const dso_record& record);

// value with an SI prefix and five significant digits ("1.0000 kHz", "20.000 us"), or, when
// exact, as few as it needs ("50 MHz", "81.92 us").
std::string si(double value, const char* unit, bool exact = false);
// A value in a channel's unit: with an SI prefix ("20.400 V", "78.900 mV"), unless the unit
// has one of its own ("mA", "kV", "µA"), which takes the number as it is.
std::string in_unit(double value, const std::string& unit);
// A number with its sign, to decimals places: "+0.09".
std::string signed_number(double value, int decimals);
// "channel A, level 40 (code 167), rising edge".
std::string trigger_words(const dso_record& record);
// "1.0000 kHz, period 1.0000 ms (6 whole periods), duty cycle 50.0 %" or, without a known
// rate, the period in samples; "no periodic signal".
std::string periodic_words(const periodic_figures& figures, double rate);
