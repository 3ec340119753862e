// Capture-thread services for tests: sleeps return at once and are recorded with the
// download announcements and percentages; hooks let a test press Cancel or move a clock.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "capture/dso_structure.h"
#include "hardware/capture_services.h"

class recording_services : public capture_services {
public:
    std::vector<uint32_t> sleeps;
    std::vector<int32_t> progress;
    int download_announcements = 0;
    std::function<void(uint32_t)> on_sleep;
    std::function<void(int32_t)> on_progress;
    std::function<void()> on_download_begins;

    recording_services() {
        cancel_requested.store(0);
        set_capture_services(this);
    }
    ~recording_services() override {
        set_capture_services(nullptr);
        cancel_requested.store(0);
    }
    recording_services(const recording_services&) = delete;
    recording_services& operator=(const recording_services&) = delete;

    void sleep_ms(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        if (on_sleep) on_sleep(milliseconds);
    }
    void download_begins() override {
        ++download_announcements;
        if (on_download_begins) on_download_begins();
    }
    void report_progress(int32_t percent) override {
        progress.push_back(percent);
        if (on_progress) on_progress(percent);
    }
};

// The settings of the next capture, as the capture settings dialog writes them.
inline void set_header(int8_t mode, int8_t source, int8_t rate, int32_t edge, int32_t pretrigger, uint16_t value) {
    dso_structure.capture_mode = mode;
    dso_structure.trigger_source = source;
    dso_structure.sample_rate_index = rate;
    dso_structure.trigger_edge = edge;
    dso_structure.pretrigger = pretrigger;
    dso_structure.trigger_value = value;
}
