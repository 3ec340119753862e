// Every figure of a capture by name, "A.frequency", "D3.edges": the measurements and the pulse
// figures of each channel of the record's mode, in the units a condition or a statistic takes
// them. Levels are codes relative to the zero level 0x80 (as --level takes them), times
// seconds, frequencies Hz, duty cycle, overshoot and undershoot percent, slew codes a second.
#pragma once
#include <cstdint>

#include "analysis/math_channel.h"
#include "capture/dso_structure.h"

struct figure_name {
    const char* name;  // "frequency"
    const char* unit;  // "Hz"; "" for a count
};

// The figures of an analogue channel and of a logic input, in the order a capture lists them.
constexpr int ANALOGUE_FIGURES = 21;
constexpr int LOGIC_FIGURES = 9;
extern const figure_name analogue_figure_names[ANALOGUE_FIGURES];
extern const figure_name logic_figure_names[LOGIC_FIGURES];

// The math channel M has the first of an analogue channel's figures, min to falling_edges.
constexpr int MATH_FIGURES = 11;

constexpr int MAX_FIGURES = 2 * ANALOGUE_FIGURES + 16 * LOGIC_FIGURES + MATH_FIGURES;

struct figure_value {
    char channel[4];  // "A", "B", "D0".."D15"
    const figure_name* figure;
    double value;
    bool known;  // false: the figure cannot be had (a flat line, no whole period, no sample rate...)
};

struct capture_figures {
    int8_t capture_mode = -1;
    int count = 0;
    figure_value figures[MAX_FIGURES];
};

// Measures every channel of the record's mode over the whole capture.
void measure_figures(const dso_record& record, capture_figures& out);

// M's figures for op, appended to out as channel "M" (the record's mode must give op's
// channels: math_available): levels in codes relative to the zero level, as A's and B's are.
void measure_math_figures(const dso_record& record, math_op op, capture_figures& out);

// The figure of channel by name in out ("M", "rms"), or nullptr.
const figure_value* find_figure(const capture_figures& out, const char* channel, const char* figure);

// The index of figure in the list of channel ("A", "D3") of a record of that mode, or -1 when
// the mode has no such channel or the channel no such figure. has_channel tells which.
int figure_index(int8_t capture_mode, const char* channel, const char* figure, bool& has_channel);
