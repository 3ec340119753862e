#include "hardware/run_loop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>

#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"

void store_run_header(const run_settings& header) {
    dso_record& r = dso_structure;
    r.pretrigger = header.pretrigger;
    r.trigger_source = header.trigger_source;
    r.trigger_value = header.trigger_value;
    r.trigger_edge = header.trigger_edge;
    r.sample_rate_index = header.sample_rate_index;
    r.capture_mode = header.capture_mode;
}

namespace {

using steady = std::chrono::steady_clock;

std::mutex record_lock;
std::mutex stop_lock;
std::condition_variable stop_wake;
bool stop_wanted = false;
// The download has begun: a stop no longer cancels, it waits for the capture.
std::atomic<bool> downloading{false};

double seconds_since(steady::time_point start) { return std::chrono::duration<double>(steady::now() - start).count(); }

// The capture thread's services for a run: sleeps that a stop ends at once, with the record
// given up meanwhile, and the hold-off of Auto.
struct run_services final : capture_services {
    run_observer* observer = nullptr;
    run_settings header{};     // of the capture under way
    bool untriggered = false;  // Auto's capture without a trigger
    double holdoff = 0;        // seconds after arming; 0: none
    double fill = 0;           // the time the memories take to fill after a trigger
    int sleeps = 0;
    steady::time_point armed;
    bool deadline_passed = false;
    bool held_off = false;  // the hold-off cancelled the wait

    void begin(const run_settings& h, bool without_trigger, double holdoff_seconds) {
        header = h;
        untriggered = without_trigger;
        holdoff = holdoff_seconds;
        const int8_t rate = h.sample_rate_index < 0 ? int8_t{0} : h.sample_rate_index;
        const double hz = sample_rate_hz(h.capture_mode, rate);
        fill = hz > 0 ? samples_in_mode(h.capture_mode) / hz : 0;
        sleeps = 0;
        deadline_passed = false;
        held_off = false;
        armed = steady::now();
    }

    void put_header() { store_run_header(header); }

    void sleep_ms(uint32_t milliseconds) override {
        // The second sleep is the first poll: the trigger was armed right before it.
        if (++sleeps == 2) armed = steady::now();
        const bool counting = sleeps >= 2 && holdoff > 0;
        // The deadline passed at the last sleep, and the status read since showed no completion.
        if (counting && deadline_passed) {
            held_off = true;
            request_cancel();
            return;
        }
        double wait = milliseconds / 1000.0;
        if (counting) {
            const double left = holdoff + fill - seconds_since(armed);
            if (left <= wait) {
                wait = left > 0 ? left : 0;
                deadline_passed = true;
            }
        }
        const double waited = sleeps >= 2 ? seconds_since(armed) : 0;
        record_lock.unlock();
        observer->waiting(waited, untriggered);
        {
            std::unique_lock<std::mutex> lock(stop_lock);
            stop_wake.wait_for(lock, std::chrono::microseconds(static_cast<long long>(wait * 1e6)),
                               [] { return stop_wanted; });
        }
        record_lock.lock();
        put_header();
    }

    void download_begins() override {
        {
            std::lock_guard<std::mutex> lock(stop_lock);
            downloading.store(true);
        }
        tell(0);
    }

    void report_progress(int32_t percent) override { tell(percent); }

    void tell(int32_t percent) {
        record_lock.unlock();
        observer->downloading(percent);
        record_lock.lock();
        put_header();
    }
};

run_services services;

bool stop_asked() {
    std::lock_guard<std::mutex> lock(stop_lock);
    return stop_wanted;
}

}  // namespace

std::mutex& record_mutex() { return record_lock; }

void stop_run() {
    std::lock_guard<std::mutex> lock(stop_lock);
    stop_wanted = true;
    // During a wait the stop cancels as the dialog's Cancel does; a download runs to its end.
    if (!downloading.load()) request_cancel();
    stop_wake.notify_all();
}

run_end run_captures(run_mode mode, const run_settings& settings, double holdoff_seconds, run_observer& observer) {
    {
        std::lock_guard<std::mutex> lock(stop_lock);
        stop_wanted = false;
        downloading.store(false);
    }
    std::lock_guard<std::mutex> record(record_lock);
    services.observer = &observer;
    set_capture_services(&services);
    run_end end = run_end::stopped;
    bool without_trigger = false;
    for (;;) {
        run_settings header = settings;
        if (without_trigger) {
            header.trigger_source = TRIGGER_NONE;
            header.pretrigger = 0;
        }
        {
            std::lock_guard<std::mutex> lock(stop_lock);
            if (stop_wanted) break;
            cancel_requested.store(0);
            downloading.store(false);
        }
        services.begin(header, without_trigger, mode == run_mode::automatic && !without_trigger ? holdoff_seconds : 0);
        services.put_header();
        const bool taken = run_capture();
        {
            std::lock_guard<std::mutex> lock(stop_lock);
            downloading.store(false);
        }
        // A capture that failed (a port fault, no samples) is no capture.
        if (observer.failed()) {
            end = run_end::failed;
            break;
        }
        if (taken) observer.captured(dso_structure, !without_trigger);
        if (taken && mode == run_mode::single) {
            end = run_end::done;
            break;
        }
        // Auto: a wait the hold-off ended is followed by a capture without a trigger.
        without_trigger = !taken && services.held_off && !stop_asked();
    }
    set_capture_services(nullptr);
    return end;
}
