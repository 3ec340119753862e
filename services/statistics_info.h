// The statistics of a run as the terminal prints them and as JSON (capture --count --json,
// GET /api/statistics).
#pragma once
#include <nlohmann/json.hpp>

#include <string>

#include "analysis/statistics.h"

// {"captures": N, "mode": "dual", "figures": [{"name": "A.frequency", "channel": "A", "figure":
// "frequency", "unit": "Hz", "count": N, "mean": ..., "min": ..., "max": ..., "std_dev": ...}]}:
// a figure never had is null throughout, a standard deviation of fewer than two values null.
nlohmann::ordered_json statistics_json(const run_statistics& statistics);

// A table: a line for each figure, its unit, count, mean, minimum, maximum and standard
// deviation; "—" where a figure was never had.
std::string statistics_text(const run_statistics& statistics);
