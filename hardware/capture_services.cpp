#include "hardware/capture_services.h"

#include <chrono>
#include <thread>

namespace {

// Outside the Windows program (and until its shell installs its own): a real sleep and
// nobody to tell about the download.
struct plain_capture_services final : capture_services {
    void sleep_ms(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    void download_begins() override {}
    void report_progress(int32_t) override {}
};

plain_capture_services plain_services;

}  // namespace

capture_services* active_capture_services = &plain_services;
std::atomic<int> cancel_requested{0};

void set_capture_services(capture_services* services) {
    active_capture_services = services ? services : &plain_services;
}

void request_cancel() { cancel_requested.store(1); }
