// Autoset: from a capture taken with no trigger, the strongest analogue signal and the
// settings that show it on the screen, which shows a whole capture over its ten divisions:
// a rate at which a few periods fill it, a trigger on that channel at the middle of its
// range on the rising edge, and the trigger a quarter of the way in.
#pragma once
#include <cstdint>

#include "capture/dso_structure.h"
#include "hardware/run_loop.h"

// The periods a proposal aims to show over the whole capture; the rates halve from one to
// the next, so the one chosen shows between 2.8 and 5.7 of them where any rate can.
constexpr double AUTOSET_PERIODS = 4;
// Below this peak-to-peak (in codes) a channel holds no signal: the measurements find no
// edges in it.
constexpr int AUTOSET_MIN_PEAK_TO_PEAK = 16;

// The capture autoset looks at: Dual Channel at the rate of that index, no trigger, no
// pre-trigger. It starts at the fastest rate (index 0).
run_settings autoset_probe(int8_t rate_index);

struct autoset_finding {
    char channel = 0;  // 'A' or 'B'; 0: no signal
    uint8_t low = 0;   // codes
    uint8_t high = 0;
    uint8_t middle = 0;           // the trigger's code: halfway, rounded up
    int32_t whole_periods = 0;    // between the first and the last rising edge
    double period_samples = 0;    // mean, at the probe's rate
    double frequency_hz = 0;
};

enum class autoset_step {
    proposed,   // the proposal is made
    slower,     // no signal, or one too slow to show two periods: look again with autoset_probe(5)
    no_signal,  // no channel holds a signal (or, at the slowest rate, no repeating one)
};

// Looks at the probe's capture (a Dual Channel record): only 'A' or 'B', or 0 for the
// channel of the wider peak-to-peak. With proposed, proposal holds the settings (Dual
// Channel, level as the capture settings take it: the trigger's code - 127).
autoset_step autoset_from_capture(const dso_record& record, char only, autoset_finding& finding,
                                  run_settings& proposal);
