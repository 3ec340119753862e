// The names of a capture's settings as the command line and the page give them, and the
// checks of a header read from a file or a client.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "capture/dso_structure.h"

// A header that no capture of this program holds: a mode outside the four, a rate index
// outside -1..5 (-1: the window's "no rate chosen"), a trigger source outside 0..3, an edge
// outside 0..1, a pre-trigger count outside 0..393215. Empty for a sound header, else the
// fields in words ("mode 54, rate index 49").
std::string header_damage(const dso_record& record);

// Names of the capture modes on the command line ("dual", "single", "logic16", "mixed");
// nullptr for an unknown mode. capture_mode_title gives them as the settings dialog does.
const char* mode_option_name(int8_t mode);
// The mode for an option name, or -1.
int8_t mode_from_option_name(const std::string& name);
extern const std::vector<std::string> MODE_OPTION_NAMES;

// Names of the trigger sources on the command line, by trigger_source: "external", "a",
// "b", "none".
extern const std::vector<std::string> TRIGGER_SOURCE_NAMES;

// A source that triggers on the logic inputs' pattern: channel A in 16 Bit Logic and Mixed
// Mode. A level trigger: channel A or B otherwise (the analogue comparator).
bool is_pattern_trigger(int8_t mode, int8_t source);
bool is_level_trigger(int8_t mode, int8_t source);

// The rate index for a rate text in a mode: an index 0..5, or a rate as the settings dialog
// lists it ("50MHz", "12.5 MHz", "6.3MHz" or "6.25MHz", "1562.5kHz"; Single Channel lists the
// trace rate, twice the converters'). -1 when the mode has no such rate.
int rate_index_from_text(const std::string& text, int8_t mode);
// The rates of a mode as the option takes them: "50MHz, ..., 1.5625MHz".
std::string rate_list(int8_t mode);
