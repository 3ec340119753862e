// The instrument behind korvane-cli serve: one port, one run of captures at a time (Single,
// Normal, Auto through the run loop), the last captures of the session, and the state every
// page sees. Commands come from any thread and are taken in turn.
#pragma once
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capture/dso_structure.h"
#include "analysis/statistics.h"
#include "hardware/run_loop.h"
#include "server/save_folder.h"
#include "services/channel_settings.h"
#include "services/stop_condition.h"

constexpr size_t HISTORY_SIZE = 32;

struct capture_entry {
    int id;
    std::unique_ptr<dso_record> record;
    std::string time;      // when it was taken or opened, ISO 8601 in UTC
    bool triggered;        // false: Auto's capture without a trigger
    std::string origin;    // "capture" or "upload"
    std::string name;      // an upload's file name; a capture's --save-dir file
    int64_t ready_ms;      // when it was ready, milliseconds since 1970 (the page measures from it)
};

// The record as the window starts: Dual Channel, external trigger, every sample at the zero
// level; id 0, not in the history. The page shows it until the first capture.
std::shared_ptr<const capture_entry> startup_capture();

// The program's own report of a failure, as the pages show it.
struct instrument_error {
    int32_t code = 0;
    int32_t level = 0;
    std::string text;
    std::string function;
    std::string info;
};

class instrument {
public:
    // The port must be open already; save_dir is empty or a folder to write every capture to,
    // opened already. The channel settings are those read from channels_path, where every
    // change is kept (empty: kept in memory only).
    instrument(std::string port_name, std::string save_dir, save_folder* folder,
               const channel_settings& channels = default_channel_settings(), std::string channels_path = "");
    ~instrument();
    instrument(const instrument&) = delete;
    instrument& operator=(const instrument&) = delete;

    // Starts a run with settings named as the capture command's options ({"mode": "dual",
    // "level": 40, ...}), checked by the settings model. A run in progress is stopped first.
    // false with the refusal in the page's words, and the setting it names (field; empty
    // where it names none).
    // stop_when: a condition that ends a Normal or Auto run at the first capture that meets it
    // (empty: none); one that cannot be read is refused with field "stop_when" and stop_at, the
    // character of the mistake counted from 1.
    bool run(const std::string& mode, const nlohmann::json& settings, double holdoff, std::string& message,
             std::string& field, const std::string& stop_when = "", size_t* stop_at = nullptr,
             const std::string& math = std::string());

    // The statistics of every figure over the captures of Normal and Auto runs since the
    // settings last changed (or the last reset), as GET /api/statistics gives them.
    nlohmann::json statistics() const;
    void reset_statistics();
    // The settings as a page last edited them (the draft every page's form shows): checked as
    // run() checks them; false with the refusal in the page's words and the field, the draft
    // unchanged.
    bool set_draft(const nlohmann::json& settings, std::string& message, std::string& field);
    nlohmann::json draft() const;

    // The channel settings: stored in the file first (false with the reason, nothing
    // changed), then given to every page.
    bool set_channels(const channel_settings& channels, std::string& message);
    channel_settings channels() const;

    // Takes a capture to find the strongest analogue signal (only that channel: "A" or "B";
    // empty: either) and makes the draft the settings that show it. Returns 200 with the
    // answer's document, 409 while a run or the Hardware IO panel holds the port, 422 when
    // there is no signal to set up on (the draft unchanged), with message.
    int autoset(const std::string& channel, nlohmann::json& answer, std::string& message);

    // Ends the run: a wait is cancelled as Cancel does; a download finishes first.
    void stop();
    // Stops for good (at the end of the server).
    void shut_down();

    // The state as JSON, and a counter that grows with every change.
    nlohmann::json state() const;
    uint64_t version() const;
    // Waits until the version differs from seen (or the timeout, or shut_down); the version now.
    uint64_t wait_for_change(uint64_t seen, int timeout_ms) const;

    // The state as the WebSocket pushes it ({"type": "state", "state": ...}), made once for
    // every page that sends it, with its version; and the newest capture's id (0: none yet)
    // and when it was ready.
    std::shared_ptr<const std::string> state_message(uint64_t& version) const;
    int latest(int64_t& ready_ms) const;

    // A capture of the history by id (-1: the newest); null when it is not held.
    std::shared_ptr<const capture_entry> capture(int id) const;
    // Adds a capture from the user's machine; its id.
    int add_upload(const dso_record& record, const std::string& name);

    // The port for the Hardware IO panel: false while a run holds it. While held, nothing else
    // uses the port.
    bool try_hold_port();
    void release_port();

    // A report of the core during a run (the download's "no samples" warning).
    void report(const instrument_error& error);

private:
    struct observer;
    void runner();
    void changed();  // with state_mutex_ held
    void set_error(const instrument_error& error);

    std::string port_name_;
    std::string save_dir_;
    save_folder* folder_;

    mutable std::mutex state_mutex_;
    mutable std::condition_variable state_changed_;
    uint64_t version_ = 1;
    nlohmann::json settings_;
    nlohmann::json draft_;
    channel_settings channels_;
    nlohmann::json channels_json_;
    std::string channels_path_;
    std::mutex channels_file_mutex_;  // one write of the file at a time, in the order of the changes
    std::string run_mode_ = "stopped";  // of the run in progress
    std::string status_ = "idle";       // idle, waiting, downloading
    double waited_ = 0;
    bool untriggered_ = false;
    int percent_ = 0;
    int taken_ = 0;
    int run_taken_ = 0;
    int64_t run_started_ms_ = 0;
    int next_id_ = 1;
    std::deque<std::shared_ptr<const capture_entry>> history_;  // newest first
    bool has_error_ = false;
    instrument_error error_;
    int reports_ = 0;  // reports of the core since the start
    mutable std::mutex message_mutex_;
    mutable uint64_t message_version_ = 0;
    mutable std::shared_ptr<const std::string> message_;

    // The run asked for, taken by the runner thread.
    std::mutex run_mutex_;
    std::condition_variable run_wanted_;
    bool pending_ = false;
    run_mode pending_mode_ = run_mode::single;
    run_settings pending_settings_{};
    double pending_holdoff_ = 1;
    bool running_ = false;
    bool ending_ = false;

    // The statistics, the settings they belong to, and the run's stop condition with what
    // stopped it.
    mutable std::mutex statistics_mutex_;
    std::unique_ptr<run_statistics> statistics_ = std::make_unique<run_statistics>();
    nlohmann::json statistics_settings_;
    std::shared_ptr<const stop_condition> pending_stop_;
    std::optional<math_op> pending_math_;  // the run's math channel, whose figures join each capture's
    std::string stop_when_;     // of the run in progress or the last one (state_mutex_)
    nlohmann::json stopped_by_;  // null, or what stopped it (state_mutex_)

    std::mutex port_mutex_;  // held by a run and by the Hardware IO panel
    std::thread runner_;
};
