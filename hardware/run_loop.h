// Runs of captures for a front end that is not the window: Single takes one capture, Normal
// re-arms after each capture and waits for each trigger until it is stopped, Auto re-arms too
// and, when no trigger comes within a hold-off, takes a capture without one, as a scope's
// Auto does. Every capture is the window's own capture sequence, unchanged; the window keeps
// its own capture thread and does not use this module.
#pragma once
#include <cstdint>
#include <mutex>

#include "capture/dso_structure.h"

enum class run_mode { single, normal, automatic };

// The header of the run's captures, as Start Capture stores it.
struct run_settings {
    int32_t pretrigger;
    int8_t trigger_source;
    uint16_t trigger_value;
    int32_t trigger_edge;
    int8_t sample_rate_index;
    int8_t capture_mode;
};

// Puts the header into the capture record, as Start Capture does before the sequence runs.
void store_run_header(const run_settings& header);

// What a run tells its front end, on the run's thread.
struct run_observer {
    virtual ~run_observer() = default;
    // Waiting for the trigger: seconds since the trigger was armed (0 during the pre-trigger
    // time). untriggered: this is Auto's capture without a trigger, after the hold-off.
    virtual void waiting(double seconds, bool untriggered) = 0;
    // The download: 0 when it begins, then its progress.
    virtual void downloading(int32_t percent) = 0;
    // A capture is in dso_structure (record_mutex() is held); triggered is false for Auto's
    // capture taken without a trigger.
    virtual void captured(const dso_record& record, bool triggered) = 0;
    // After each capture, taken or not, before it is delivered: true when the port or the
    // capture failed (a port fault, a download with no samples); the run then ends without
    // delivering it. The front end knows why.
    virtual bool failed() = 0;
};

enum class run_end { done, stopped, failed };

// Runs captures with the settings on the calling thread until the run ends: after Single's
// capture (done), after stop_run (stopped), or when the observer reports a failure (failed).
// In Auto, a wait that has seen no trigger holdoff_seconds after arming, plus the time the
// memories take to fill after a trigger, is cancelled as the dialog's Cancel does, and a
// capture with trigger source none and no pre-trigger samples is taken; the next capture is
// armed with the settings again.
//
// The capture record belongs to the run while it holds record_mutex(): it holds it throughout,
// except while it sleeps and while it tells the observer of the wait and of the download's
// progress (the download fills its own buffer, not the record, until its end). Each time it
// takes the mutex back it writes its header into the record again, since another thread may
// have put another capture there meanwhile. Take record_mutex() before record_buffers_guard,
// never after.
run_end run_captures(run_mode mode, const run_settings& settings, double holdoff_seconds, run_observer& observer);

// From any thread: ends the run at the next chance. A wait is cancelled as the dialog's Cancel
// does (no port access follows); a download finishes and its capture is delivered first. A stop
// before a run has begun does not reach it: every run starts afresh.
void stop_run();

// Guards dso_structure, and the view range and display preferences that renderers set, between
// the run's thread and the other threads of a front end.
std::mutex& record_mutex();
