// One model of a capture's settings for every front end: mode, rate, trigger source, level,
// pattern, edge and pre-trigger, checked together by one routine on typed values. A refusal
// names the setting it refuses; each front end words it its own way (the command line's
// "--level: ...", a page's "Level: ...").
#pragma once
#include <cstdint>
#include <string>

#include "capture/dso_structure.h"
#include "hardware/run_loop.h"

// What the level and the pre-trigger count take.
constexpr int MIN_LEVEL = -126;
constexpr int MAX_LEVEL = 127;
constexpr int32_t MAX_PRETRIGGER = 0x5FFFF;

// The settings as a front end read them: mode, trigger source and edge by their numbers
// (MODE_..., TRIGGER_..., 0 rising or 1 falling), the rate and the pattern as given (a rate
// as the settings dialog lists it or its index; a pattern in hexadecimal), and whether the
// level, pattern and edge were given at all.
struct capture_settings {
    int8_t mode = MODE_DUAL;
    std::string rate = "0";
    int8_t trigger_source = TRIGGER_EXTERNAL;
    int64_t level = 0;
    bool level_given = false;
    std::string pattern = "0";
    bool pattern_given = false;
    int8_t edge = 0;
    bool edge_given = false;
    int64_t pretrigger = 0;
};

// A setting refused: its name ("mode", "rate", "trigger", "level", "pattern", "edge",
// "pretrigger") and why, where other settings are named as {trigger}, {pattern},
// {pretrigger}; and the same as a plain sentence for a page, which names settings and their
// choices as the page's form does ("Pre-trigger must be 0 with no trigger").
struct setting_refusal {
    std::string setting;
    std::string text;
    std::string page;
};

// The header Start Capture stores for the settings, or false with the refusal.
bool check_capture_settings(const capture_settings& settings, run_settings& header, setting_refusal& refusal);

// The refusal's text with the settings named as the command line's options (--pattern), to
// follow "--level: "; and whole, as a page words it, with no option or option value in it:
// "Level: 200 is not in -126..127", "Pre-trigger must be 0 with no trigger".
std::string terminal_words(const setting_refusal& refusal);
std::string page_words(const setting_refusal& refusal);
// A setting's name on the page: "Mode", "Sample rate", "Trigger", "Level", "Pattern", "Edge",
// "Pre-trigger".
std::string setting_title(const std::string& setting);
