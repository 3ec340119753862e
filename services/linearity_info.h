// The code-density test's results as linearity prints them, as JSON (linearity --json and
// GET /api/captures/N/linearity).
#pragma once
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "analysis/linearity.h"

// The analogue channels of a record's mode that the test can take ("AB", "A", "B", "").
std::string linearity_channels(const dso_record& record);

nlohmann::ordered_json capture_linearity_json(const capture_linearity& result);
std::string capture_linearity_text(const capture_linearity& result);

// "sine" or "triangle" (lower case), false for anything else.
bool linearity_signal_from_name(const std::string& name, linearity_signal& signal);
