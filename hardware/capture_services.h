// The capture-thread seam: what the capture sequence needs of the thread it runs on and of
// the progress dialog, and the cancel flag that the user-interface thread sets.
#pragma once
#include <atomic>
#include <cstdint>

struct capture_services {
    virtual ~capture_services() = default;
    virtual void sleep_ms(uint32_t milliseconds) = 0;
    // The trigger has come and the download begins; returns once the dialog has shown it.
    virtual void download_begins() = 0;
    // Download progress 0..99; returns once the dialog has shown it.
    virtual void report_progress(int32_t percent) = 0;
};

// Installs the services; nullptr restores the plain ones (a real sleep, no reports).
void set_capture_services(capture_services* services);
extern capture_services* active_capture_services;

// Set by the user-interface thread (Cancel), read afresh by the capture thread before each
// of its waits.
extern std::atomic<int> cancel_requested;
void request_cancel();
