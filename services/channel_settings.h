// The user's settings of each channel, for every front end: the analogue channels' labels,
// colours, scales (volts per code, zero code, probe, unit) and their place on the screen,
// and the logic inputs' labels and colours. One JSON object, as the server keeps it in its
// configuration file and gives it to every page, and as info and export read it with
// --channels-config. A refusal names the field it refuses ("analogue.0.colour").
//
// A channel's scaled value of code c is (c - zero_code) * volts_per_code * probe, in unit;
// a channel without volts_per_code stays in converter codes.
#pragma once
#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

constexpr int ANALOGUE_CHANNELS = 2;  // A and B
constexpr int LOGIC_INPUTS = 16;      // D0..D15
constexpr size_t MAX_LABEL_BYTES = 32;
constexpr size_t MAX_UNIT_CHARACTERS = 8;
constexpr double MAX_POSITION = 5;  // divisions either way from the middle
// A settings file is read up to this many bytes; a larger one is damaged.
constexpr size_t MAX_CHANNEL_SETTINGS_BYTES = 64 * 1024;

struct analogue_channel_settings {
    std::string id;  // "A" or "B"
    std::string label;
    std::string colour;  // "#rrggbb", in lower case
    bool on = true;
    double volts_per_code = 0;  // 0: no scale, the channel is read in codes
    int zero_code = 0x80;
    int probe = 1;  // 1, 10 or 100
    std::string unit = "V";
    double per_div = 32;   // units (codes where not scaled) per vertical division
    double position = 0;   // divisions, -5..5

    bool scaled() const { return volts_per_code > 0; }
    // Units a code step is worth (1 where not scaled).
    double per_code() const { return scaled() ? volts_per_code * probe : 1; }
    // The value of a code (or of a mean of codes) in the channel's unit.
    double value(double code) const { return (code - zero_code) * volts_per_code * probe; }
};

struct logic_input_settings {
    std::string id;  // "D0".."D15"
    std::string label;
    std::string colour;
};

struct channel_settings {
    analogue_channel_settings analogue[ANALOGUE_CHANNELS];
    logic_input_settings logic[LOGIC_INPUTS];

    // The analogue channel of that id ("A", "B"); nullptr for any other name.
    const analogue_channel_settings* analogue_named(const char* id) const;
};

channel_settings default_channel_settings();

// The settings a JSON document gives, over the defaults: a key that is missing keeps its
// default, and an array may list fewer channels than there are (each entry is the channel
// its "id" names, else the one at its place). false with the field refused
// ("analogue.1.volts_per_code", "logic.3.label"; "" for the document itself) and why, in
// words that name the channel ("Channel A colour: ...").
bool channel_settings_from_json(const nlohmann::json& document, channel_settings& out, std::string& field,
                                std::string& message);

nlohmann::ordered_json channel_settings_json(const channel_settings& settings);

// Reads a settings file. Returns 0 with the settings; 1 when the file does not exist (out
// holds the defaults; message says so); 2 when the file is damaged or refused (out holds the
// defaults; message says where and why); 5 when it cannot be read (message gives the
// system's reason).
int read_channel_settings_file(const std::string& path, channel_settings& out, std::string& message);

// Writes the settings to the file by safe replacement, making its folder where it is
// missing: false with the reason, the old file untouched.
bool write_channel_settings_file(const std::string& path, const channel_settings& settings, std::string& message);

// Where the user's channel settings live: $XDG_CONFIG_HOME/korvane/channels.json, or
// ~/.config/korvane/channels.json; empty when neither is known.
std::string default_channel_settings_path();
