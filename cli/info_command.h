// korvane-cli info: a capture's settings in words and the measurements of its channels.
#pragma once
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "capture/dso_structure.h"

#include <string>

struct info_options {
    std::string file;
    bool json = false;
};

CLI::App* add_info_command(CLI::App& app, info_options& options);

// The info --json document of a record, under name. With ranged, the measurements cover
// samples first..last of the mode's sequence (brought within it) and "range" says so. The
// measurements share module buffers: one at a time.
nlohmann::ordered_json capture_info_json(const std::string& name, const dso_record& record, bool ranged = false,
                                         int32_t first = 0, int32_t last = 0);
int run_info_command(const info_options& options);
