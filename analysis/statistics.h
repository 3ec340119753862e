// Statistics of every figure over the captures of a run: count, mean, minimum, maximum and
// standard deviation, updated capture by capture (Welford's method, which keeps its accuracy
// over long runs where a sum of squares would not).
#pragma once
#include <cstdint>

#include "analysis/figures.h"

struct running_figure {
    int64_t count = 0;  // captures in which the figure could be had
    double mean = 0;
    double m2 = 0;  // the sum of squared deviations from the mean
    double min = 0;
    double max = 0;

    void add(double value);
    // The sample standard deviation (n - 1); 0 below two values (the caller says it cannot be had).
    double std_dev() const;
};

struct run_statistics {
    int64_t captures = 0;     // captures added since the last reset
    int8_t capture_mode = -1;  // of the captures the figures belong to
    int count = 0;             // figures
    figure_value names[MAX_FIGURES];  // the channel and figure of each (values unused)
    running_figure figures[MAX_FIGURES];

    void reset();
    // Adds a capture's figures. A capture of another mode than those before it starts the
    // statistics afresh, since its figures are other ones.
    void add(const capture_figures& capture);
};
