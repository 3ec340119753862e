#include "analysis/statistics.h"

#include <cmath>

void running_figure::add(double value) {
    ++count;
    if (count == 1) {
        mean = min = max = value;
        m2 = 0;
        return;
    }
    const double delta = value - mean;
    mean += delta / static_cast<double>(count);
    m2 += delta * (value - mean);
    if (value < min) min = value;
    if (value > max) max = value;
}

double running_figure::std_dev() const { return count > 1 ? std::sqrt(m2 / static_cast<double>(count - 1)) : 0; }

void run_statistics::reset() {
    captures = 0;
    capture_mode = -1;
    count = 0;
}

void run_statistics::add(const capture_figures& capture) {
    if (capture.capture_mode != capture_mode || capture.count != count) {
        reset();
        capture_mode = capture.capture_mode;
        count = capture.count;
        for (int i = 0; i < count; ++i) {
            names[i] = capture.figures[i];
            figures[i] = running_figure{};
        }
    }
    ++captures;
    for (int i = 0; i < count; ++i)
        if (capture.figures[i].known) figures[i].add(capture.figures[i].value);
}
