#include "server/instrument.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>


#include "analysis/autoset.h"
#include "app/error_handler.h"
#include "server/request_text.h"
#include "services/capture_names.h"
#include "services/capture_settings.h"
#include "services/port_setup_linux.h"
#include "services/report_line.h"
#include "services/statistics_info.h"
#include "services/text_values.h"

using json = nlohmann::json;

namespace {

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string iso_time(int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm when{};
    gmtime_r(&seconds, &when);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &when);
    char with_ms[48];
    std::snprintf(with_ms, sizeof with_ms, "%s.%03dZ", text, static_cast<int>(ms % 1000));
    return with_ms;
}

// A rate as the page's list holds it: "12.5MHz".
std::string rate_value(int8_t mode, int8_t index) {
    char value[24];
    std::snprintf(value, sizeof value, "%gMHz", sample_rate_hz(mode, index) / 1e6);
    return value;
}

const char* const SETTING_NAMES[] = {"mode", "rate", "trigger", "level", "pattern", "edge", "pretrigger"};

// A whole number of a setting, given as a number or as a text: false with the refusal.
// (The settings model judges its range.)
bool whole_setting(const std::string& key, const json& value, long long min, long long max, int64_t& out,
                   std::string& message) {
    const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
    if (!whole_number_refusal(text, INT32_MIN, INT32_MAX).empty()) {
        const std::string refusal = whole_number_refusal(text, min, max);
        message = setting_title(key) + ": " + (refusal.empty() ? "'" + text + "' is not in " + std::to_string(min) +
                                                                     ".." + std::to_string(max)
                                                               : refusal);
        return false;
    }
    out = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

// The settings as a page or a script gives them ({"mode": "dual", "trigger": "a", "level": 40,
// ...}), checked by the settings model: the header, and the settings in the names of the
// page's lists; false with the refusal in the page's words and the setting it names.
bool parse_settings(const json& settings, run_settings& header, json& normal, std::string& message,
                    std::string& field) {
    if (!settings.is_object()) {
        message = "the settings are an object: {\"mode\": \"dual\", \"trigger\": \"a\", \"level\": 40, ...}";
        return false;
    }
    capture_settings s;
    std::string edge_name = "rising";
    for (const auto& item : settings.items()) {
        const std::string& key = item.key();
        const json& value = item.value();
        field = key;
        if (std::find(std::begin(SETTING_NAMES), std::end(SETTING_NAMES), key) == std::end(SETTING_NAMES)) {
            field.clear();
            message = "'" + printable_name(key, 64) + "' is not a setting; the settings are mode, rate, trigger, level, "
                                                      "pattern, edge, pretrigger";
            return false;
        }
        if (!value.is_string() && !value.is_number()) {
            message = setting_title(key) + ": takes a number or a text";
            return false;
        }
        const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
        if (value.is_string() && text.empty()) {
            message = setting_title(key) + ": takes a value, and an empty one is none";
            return false;
        }
        if (key == "mode") {
            s.mode = mode_from_option_name(text);
            if (s.mode < 0) {
                message = "Mode: '" + printable_name(text, 64) + "' is not a mode; use dual, single, logic16 or mixed";
                return false;
            }
        } else if (key == "rate") {
            s.rate = text;
        } else if (key == "trigger") {
            const auto source = std::find(TRIGGER_SOURCE_NAMES.begin(), TRIGGER_SOURCE_NAMES.end(), lower_case(text));
            if (source == TRIGGER_SOURCE_NAMES.end()) {
                message = "Trigger: '" + printable_name(text, 64) + "' is not a trigger source; use a, b, external or none";
                return false;
            }
            s.trigger_source = static_cast<int8_t>(source - TRIGGER_SOURCE_NAMES.begin());
        } else if (key == "level") {
            if (!whole_setting(key, value, MIN_LEVEL, MAX_LEVEL, s.level, message)) return false;
            s.level_given = true;
        } else if (key == "pattern") {
            // A number is a number; a text is hexadecimal, as the dialog takes it.
            char hex[24];
            if (value.is_number_unsigned()) std::snprintf(hex, sizeof hex, "%llx", value.get<unsigned long long>());
            s.pattern = value.is_number_unsigned() ? std::string(hex) : text;
            s.pattern_given = true;
        } else if (key == "edge") {
            edge_name = lower_case(text);
            if (edge_name != "rising" && edge_name != "falling") {
                message = "Edge: '" + printable_name(text, 64) + "' is neither rising nor falling";
                return false;
            }
            s.edge = edge_name == "falling" ? 1 : 0;
            s.edge_given = true;
        } else if (!whole_setting(key, value, 0, MAX_PRETRIGGER, s.pretrigger, message)) {
            return false;
        }
    }
    setting_refusal refusal;
    if (!check_capture_settings(s, header, refusal)) {
        field = refusal.setting;
        message = page_words(refusal);
        return false;
    }
    field.clear();
    // Names as the page's lists give them, whatever case or rate spelling was typed, so that
    // every page shows the settings in its form.
    normal = {{"mode", mode_option_name(header.capture_mode)},
              {"rate", rate_value(header.capture_mode, header.sample_rate_index < 0 ? 0 : header.sample_rate_index)},
              {"trigger", TRIGGER_SOURCE_NAMES[static_cast<size_t>(header.trigger_source)]},
              {"level", s.level},
              {"pattern", s.pattern},
              {"edge", edge_name},
              {"pretrigger", s.pretrigger}};
    return true;
}

// The settings as a page or a script gives them, also as the state holds them (the draft, the
// last run's): those carry every key, and a level, pattern or edge that the trigger does not
// take, at the value the state gives such a key, is let go rather than refused.
bool parse_draft(json settings, run_settings& header, json& normal, std::string& message, std::string& field) {
    const json neutral = {{"level", 0}, {"pattern", "0"}, {"edge", "rising"}};
    for (int tries = 0; tries < 4; ++tries) {
        if (parse_settings(settings, header, normal, message, field)) return true;
        if (!settings.is_object() || !neutral.contains(field) || !settings.contains(field)) return false;
        const json& given = settings[field];
        const std::string text = given.is_string() ? lower_case(given.get<std::string>()) : given.dump();
        const json& quiet = neutral[field];
        if (text != (quiet.is_string() ? quiet.get<std::string>() : quiet.dump())) return false;
        settings.erase(field);
    }
    return false;
}

json default_settings() {
    return {{"mode", "dual"},   {"rate", "50MHz"},  {"trigger", "external"}, {"level", 0},
            {"pattern", "0"},   {"edge", "rising"}, {"pretrigger", 0}};
}

// A history entry holding a copy of the record, ready now.
std::shared_ptr<capture_entry> new_entry(const dso_record& record, bool triggered, const char* origin) {
    auto entry = std::make_shared<capture_entry>();
    entry->record = std::make_unique<dso_record>(record);
    entry->ready_ms = now_ms();
    entry->time = iso_time(entry->ready_ms);
    entry->triggered = triggered;
    entry->origin = origin;
    return entry;
}

json entry_json(const capture_entry& e) {
    const dso_record& r = *e.record;
    const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    const char* mode = mode_option_name(r.capture_mode);
    const char* title = capture_mode_title(r.capture_mode);
    return {{"id", e.id},
            {"mode", mode ? json(mode) : json(nullptr)},
            {"mode_title", title ? json(title) : json(nullptr)},
            {"rate_hz", rate > 0 ? json(rate) : json(nullptr)},
            {"samples", samples_in_mode(r.capture_mode)},
            {"time", e.time},
            {"triggered", e.triggered},
            {"origin", e.origin},
            {"name", e.name},
            {"ready_ms", e.ready_ms}};
}

// What the settings may be, for the page's lists: the modes, each mode's rates as the settings
// dialog lists them, and its trigger sources.
const json& choices() {
    static const json made = [] {
        json modes = json::array(), rates = json::object(), sources = json::object();
        for (int8_t m = MODE_DUAL; m <= MODE_MIXED; ++m) {
            const std::string name = mode_option_name(m);
            modes.push_back({{"value", name}, {"title", capture_mode_title(m)}});
            json list = json::array();
            for (int8_t i = 0; i <= 5; ++i) {
                char text[24];
                std::snprintf(text, sizeof text, "%.1f MHz", sample_rate_hz(m, i) / 1e6);
                list.push_back({{"index", i}, {"text", text}, {"value", rate_value(m, i)}});
            }
            rates[name] = list;
            const bool logic = m == MODE_LOGIC16 || m == MODE_MIXED;
            json s = json::array();
            s.push_back({{"value", "a"}, {"title", logic ? "Logic inputs (pattern)" : "Channel A"}, {"takes", logic ? "pattern" : "level"}});
            if (m == MODE_DUAL || m == MODE_MIXED) s.push_back({{"value", "b"}, {"title", "Channel B"}, {"takes", "level"}});
            s.push_back({{"value", "external"}, {"title", "External"}, {"takes", "edge"}});
            s.push_back({{"value", "none"}, {"title", "None"}, {"takes", "nothing"}});
            sources[name] = s;
        }
        return json{{"modes", modes}, {"rates", rates}, {"sources", sources}, {"level", {{"min", MIN_LEVEL}, {"max", MAX_LEVEL}}},
                    {"pretrigger", {{"min", 0}, {"max", MAX_PRETRIGGER}}}, {"history", HISTORY_SIZE}};
    }();
    return made;
}

}  // namespace

// The run's reports, on the runner thread.
struct instrument::observer final : run_observer {
    instrument& owner;
    int reports_seen;
    bool counted = false;  // Normal and Auto: each capture goes into the statistics
    std::shared_ptr<const stop_condition> stop;
    std::optional<math_op> math;
    std::unique_ptr<capture_figures> figures = std::make_unique<capture_figures>();
    explicit observer(instrument& o) : owner(o), reports_seen(o.reports_) {}

    // The pages hear of the wait and of the download's progress at most every 40 ms (every
    // change of status at once): what a page shows, without a flood of states that would
    // slow the captures when many pages watch.
    int64_t told_ms = 0;
    void tell(const char* status) {
        const int64_t now = now_ms();
        if (owner.status_ != status || now - told_ms >= 40) {
            told_ms = now;
            owner.status_ = status;
            owner.changed();
        }
    }
    void waiting(double seconds, bool untriggered) override {
        std::lock_guard<std::mutex> lock(owner.state_mutex_);
        owner.waited_ = seconds;
        owner.untriggered_ = untriggered;
        tell("waiting");
    }
    void downloading(int32_t percent) override {
        std::lock_guard<std::mutex> lock(owner.state_mutex_);
        owner.percent_ = percent;
        tell("downloading");
    }
    void captured(const dso_record& record, bool triggered) override {
        auto entry = new_entry(record, triggered, "capture");
        // The figures of the run's captures, and the condition that ends it, on the copy.
        int met = -1;
        std::string detail;
        if (counted || stop) {
            measure_figures(*entry->record, *figures);
            if (math) measure_math_figures(*entry->record, *math, *figures);
            if (counted) {
                std::lock_guard<std::mutex> lock(owner.statistics_mutex_);
                owner.statistics_->add(*figures);
            }
            if (stop) met = stop_condition_met(*stop, *entry->record, figures.get(), detail);
        }
        if (owner.folder_ != nullptr) {
            int code = 0;
            std::string message, skipped;
            entry->name = owner.folder_->save(record, code, message, skipped);
            if (!skipped.empty()) print_message("save folder: %s", skipped.c_str());
            if (entry->name.empty()) {
                print_report_line(code, "save_dso_structure", message);
                owner.set_error({code, 5, "", "save_dso_structure", message});
            }
        }
        std::lock_guard<std::mutex> lock(owner.state_mutex_);
        entry->id = owner.next_id_++;
        owner.history_.push_front(entry);
        if (owner.history_.size() > HISTORY_SIZE) owner.history_.pop_back();
        ++owner.taken_;
        ++owner.run_taken_;
        owner.status_ = "idle";
        if (met >= 0) {
            owner.stopped_by_ = {{"condition", stop->terms[static_cast<size_t>(met)].text},
                                 {"term", met},
                                 {"capture", entry->id},
                                 {"detail", detail}};
            stop_run();
        }
        owner.changed();
    }
    bool failed() override {
        std::string message;
        if (port_failed(message)) {
            print_report_line(13, "port_bus", message);
            owner.set_error({13, 10, "", "port_bus", message});
            return true;
        }
        std::lock_guard<std::mutex> lock(owner.state_mutex_);
        if (owner.reports_ == reports_seen) return false;
        reports_seen = owner.reports_;
        return true;  // the core reported a failure of the capture (no samples downloaded)
    }
};

instrument::instrument(std::string port_name, std::string save_dir, save_folder* folder, const channel_settings& channels,
                       std::string channels_path)
    : port_name_(std::move(port_name)),
      save_dir_(std::move(save_dir)),
      folder_(folder),
      settings_(default_settings()),
      draft_(default_settings()),
      channels_(channels),
      channels_json_(channel_settings_json(channels)),
      channels_path_(std::move(channels_path)) {
    runner_ = std::thread([this] { runner(); });
}

instrument::~instrument() { shut_down(); }

void instrument::runner() {
    std::unique_lock<std::mutex> lock(run_mutex_);
    for (;;) {
        run_wanted_.wait(lock, [this] { return pending_ || ending_; });
        if (ending_) return;
        pending_ = false;
        const run_mode mode = pending_mode_;
        const run_settings settings = pending_settings_;
        const double holdoff = pending_holdoff_;
        std::shared_ptr<const stop_condition> stop = std::move(pending_stop_);
        const std::optional<math_op> math = pending_math_;
        running_ = true;
        lock.unlock();
        {
            std::lock_guard<std::mutex> port(port_mutex_);
            observer watcher(*this);
            watcher.counted = mode != run_mode::single;
            watcher.stop = std::move(stop);
            watcher.math = math;
            run_captures(mode, settings, holdoff, watcher);
        }
        lock.lock();
        running_ = false;
        std::lock_guard<std::mutex> state(state_mutex_);
        if (!pending_) run_mode_ = "stopped";
        status_ = "idle";
        changed();
    }
}

bool instrument::run(const std::string& mode, const json& settings, double holdoff, std::string& message,
                     std::string& field, const std::string& stop_when, size_t* stop_at, const std::string& math) {
    field.clear();
    run_mode m;
    if (mode == "single") m = run_mode::single;
    else if (mode == "normal") m = run_mode::normal;
    else if (mode == "auto") m = run_mode::automatic;
    else {
        message = "'" + mode + "' is not a run mode; use single, normal or auto";
        return false;
    }
    if (!(holdoff > 0)) {
        message = "holdoff: the hold-off of Auto is a number of seconds above 0";
        return false;
    }
    run_settings header{};
    json normal;
    if (!parse_draft(settings, header, normal, message, field)) return false;
    std::optional<math_op> math_channel;
    if (!math.empty()) {
        math_op op;
        if (!parse_math(math, op, message) || !math_available_in(header.capture_mode, op, message)) {
            message = "Math: " + message;
            field = "math";
            return false;
        }
        math_channel = op;
    }
    std::shared_ptr<stop_condition> stop;
    if (!stop_when.empty()) {
        field = "stop_when";
        if (m == run_mode::single) {
            message = "Stop when: a condition ends a Normal or Auto run; Single takes one capture";
            return false;
        }
        stop = std::make_shared<stop_condition>();
        stop_refusal refusal;
        if (!parse_stop_condition(stop_when, *stop, refusal, math) || !check_stop_condition(*stop, header.capture_mode, refusal)) {
            message = "Stop when: " + refusal.message + " (at character " + std::to_string(refusal.at + 1) + ")";
            if (stop_at != nullptr) *stop_at = refusal.at + 1;
            return false;
        }
        field.clear();
    }
    {
        // New settings begin new statistics.
        std::lock_guard<std::mutex> lock(statistics_mutex_);
        json counted_settings = normal;
        if (math_channel) counted_settings["math"] = math_text(*math_channel);
        if (m != run_mode::single && statistics_settings_ != counted_settings) {
            statistics_->reset();
            statistics_settings_ = counted_settings;
        }
    }
    std::lock_guard<std::mutex> lock(run_mutex_);
    if (ending_) {
        message = "the server is ending";
        return false;
    }
    if (running_) stop_run();  // the runner takes the new run once this one has ended
    pending_ = true;
    pending_mode_ = m;
    pending_settings_ = header;
    pending_holdoff_ = holdoff;
    pending_stop_ = stop;
    pending_math_ = math_channel;
    {
        std::lock_guard<std::mutex> state(state_mutex_);
        stop_when_ = stop_when;
        stopped_by_ = nullptr;
        settings_ = normal;
        draft_ = normal;  // the settings a run starts with are every page's form
        run_mode_ = mode;
        run_taken_ = 0;
        run_started_ms_ = now_ms();
        has_error_ = false;
        status_ = "waiting";
        waited_ = 0;
        untriggered_ = false;
        changed();
    }
    run_wanted_.notify_all();
    return true;
}

void instrument::stop() {
    std::lock_guard<std::mutex> lock(run_mutex_);
    pending_ = false;
    if (running_) stop_run();
    std::lock_guard<std::mutex> state(state_mutex_);
    if (!running_) {
        run_mode_ = "stopped";
        status_ = "idle";
    }
    changed();
}

void instrument::shut_down() {
    {
        std::lock_guard<std::mutex> lock(run_mutex_);
        if (ending_ && !runner_.joinable()) return;
        ending_ = true;
        pending_ = false;
        if (running_) stop_run();
    }
    run_wanted_.notify_all();
    if (runner_.joinable()) runner_.join();
    std::lock_guard<std::mutex> state(state_mutex_);
    changed();
}

void instrument::changed() {
    ++version_;
    state_changed_.notify_all();
}

uint64_t instrument::version() const {
    std::lock_guard<std::mutex> lock(state_mutex_);
    return version_;
}

uint64_t instrument::wait_for_change(uint64_t seen, int timeout_ms) const {
    std::unique_lock<std::mutex> lock(state_mutex_);
    state_changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return version_ != seen; });
    return version_;
}

json instrument::state() const {
    std::lock_guard<std::mutex> lock(state_mutex_);
    json status = {{"state", status_}};
    if (status_ == "waiting") {
        status["seconds"] = waited_;
        status["untriggered"] = untriggered_;
    } else if (status_ == "downloading") {
        status["percent"] = percent_;
    }
    json captures = json::array();
    for (const auto& e : history_) captures.push_back(entry_json(*e));
    const double minutes = (now_ms() - run_started_ms_) / 60000.0;
    json error = nullptr;
    if (has_error_) {
        error = {{"code", error_.code}, {"level", error_.level}, {"text", error_.text},
                 {"function", error_.function}, {"info", error_.info}};
    }
    return {{"version", version_},
            {"settings", settings_},
            {"draft", draft_},
            {"channels", channels_json_},
            {"run", run_mode_},
            {"status", status},
            {"taken", taken_},
            {"run_taken", run_taken_},
            {"per_minute", run_taken_ > 0 && minutes > 0 ? json(run_taken_ / minutes) : json(nullptr)},
            {"captures", captures},
            {"latest", history_.empty() ? json(nullptr) : json(history_.front()->id)},
            {"error", error},
            {"port", port_name_},
            {"save_dir", save_dir_.empty() ? json(nullptr) : json(save_dir_)},
            {"io_available", !running_},
            {"stop_when", stop_when_.empty() ? json(nullptr) : json(stop_when_)},
            {"stopped_by", stopped_by_},
            {"choices", choices()}};
}

std::shared_ptr<const std::string> instrument::state_message(uint64_t& version) const {
    std::lock_guard<std::mutex> lock(message_mutex_);
    const uint64_t now = this->version();
    if (!message_ || message_version_ != now) {
        const json state = this->state();
        message_version_ = state["version"].get<uint64_t>();
        message_ = std::make_shared<const std::string>(
            json({{"type", "state"}, {"state", state}}).dump(-1, ' ', false, json::error_handler_t::replace));
    }
    version = message_version_;
    return message_;
}

int instrument::latest(int64_t& ready_ms) const {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (history_.empty()) return 0;
    ready_ms = history_.front()->ready_ms;
    return history_.front()->id;
}

std::shared_ptr<const capture_entry> instrument::capture(int id) const {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (history_.empty()) return nullptr;
    if (id < 0) return history_.front();
    for (const auto& e : history_)
        if (e->id == id) return e;
    return nullptr;
}

std::shared_ptr<const capture_entry> startup_capture() {
    static const std::shared_ptr<const capture_entry> made = [] {
        auto record = std::make_unique<dso_record>();
        std::memset(record.get(), 0, sizeof(dso_record));
        std::memset(record->sample_area, ZERO_LEVEL, sizeof record->sample_area);
        record->capture_mode = MODE_DUAL;
        record->trigger_source = TRIGGER_EXTERNAL;
        auto entry = new_entry(*record, true, "startup");
        entry->id = 0;
        return std::shared_ptr<const capture_entry>(std::move(entry));
    }();
    return made;
}

int instrument::add_upload(const dso_record& record, const std::string& name) {
    auto entry = new_entry(record, true, "upload");
    entry->name = name;
    std::lock_guard<std::mutex> lock(state_mutex_);
    entry->id = next_id_++;
    history_.push_front(entry);
    if (history_.size() > HISTORY_SIZE) history_.pop_back();
    changed();
    return entry->id;
}

bool instrument::try_hold_port() { return port_mutex_.try_lock(); }
void instrument::release_port() { port_mutex_.unlock(); }

void instrument::report(const instrument_error& error) {
    set_error(error);
    std::lock_guard<std::mutex> lock(state_mutex_);
    ++reports_;
}

void instrument::set_error(const instrument_error& error) {
    std::lock_guard<std::mutex> lock(state_mutex_);
    has_error_ = true;
    error_ = error;
    if (error_.text.empty())
        for (const error_entry& e : error_table)
            if (e.code == error_.code) error_.text = e.code == 13 ? "Parallel port access failed" : e.text;
    changed();
}

bool instrument::set_draft(const json& settings, std::string& message, std::string& field) {
    run_settings header{};
    json normal;
    if (!parse_draft(settings, header, normal, message, field)) return false;
    std::lock_guard<std::mutex> lock(state_mutex_);
    draft_ = normal;
    changed();
    return true;
}

json instrument::draft() const {
    std::lock_guard<std::mutex> lock(state_mutex_);
    return draft_;
}

bool instrument::set_channels(const channel_settings& channels, std::string& message) {
    std::lock_guard<std::mutex> file(channels_file_mutex_);
    if (!channels_path_.empty() && !write_channel_settings_file(channels_path_, channels, message)) return false;
    const json document = channel_settings_json(channels);
    std::lock_guard<std::mutex> lock(state_mutex_);
    channels_ = channels;
    channels_json_ = document;
    changed();
    return true;
}

channel_settings instrument::channels() const {
    std::lock_guard<std::mutex> lock(state_mutex_);
    return channels_;
}

namespace {

// A capture is taken at once with no trigger; one that has not come within this many
// seconds of arming is given up.
constexpr double AUTOSET_WAIT_SECONDS = 5;

// The run of autoset's capture: the record copied out, a failure of the port or the capture
// noticed, a wait that lasts too long stopped.
struct autoset_observer final : run_observer {
    dso_record& record;
    bool taken = false;
    bool gave_up = false;
    bool port_fault = false;
    std::string message;
    explicit autoset_observer(dso_record& r) : record(r) {}
    void waiting(double seconds, bool) override {
        if (seconds > AUTOSET_WAIT_SECONDS && !gave_up) {
            gave_up = true;
            stop_run();
        }
    }
    void downloading(int32_t) override {}
    void captured(const dso_record& r, bool) override {
        std::memcpy(&record, &r, sizeof record);
        taken = true;
    }
    bool failed() override {
        port_fault = port_failed(message);
        return port_fault;
    }
};

}  // namespace

int instrument::autoset(const std::string& channel, json& answer, std::string& message) {
    {
        std::lock_guard<std::mutex> lock(run_mutex_);
        if (running_ || pending_ || ending_) {
            message = ending_ ? "the server is ending" : "a run is on: stop it, then autoset";
            return 409;
        }
    }
    if (!port_mutex_.try_lock()) {
        message = "the port is in use (a run, another autoset or the Hardware IO panel): try again in a moment";
        return 409;
    }
    std::lock_guard<std::mutex> port(port_mutex_, std::adopt_lock);
    auto record = std::make_unique<dso_record>();
    autoset_finding finding;
    run_settings proposal{};
    autoset_step step = autoset_step::no_signal;
    for (const int8_t rate : {int8_t{0}, int8_t{5}}) {
        int reports_before;
        {
            std::lock_guard<std::mutex> lock(state_mutex_);
            reports_before = reports_;
        }
        autoset_observer watcher(*record);
        const run_end end = run_captures(run_mode::single, autoset_probe(rate), 1, watcher);
        int reports_after;
        {
            std::lock_guard<std::mutex> lock(state_mutex_);
            reports_after = reports_;
        }
        if (watcher.port_fault) {
            print_report_line(13, "port_bus", watcher.message);
            set_error({13, 10, "", "port_bus", watcher.message});
            message = "the port failed during autoset's capture: " + watcher.message;
            return 500;
        }
        if (end != run_end::done || !watcher.taken || reports_after != reports_before) {
            message = watcher.gave_up ? "autoset's capture did not come within " + std::to_string(static_cast<int>(AUTOSET_WAIT_SECONDS)) + " s"
                      : reports_after != reports_before ? "autoset's capture downloaded no samples"
                                                        : "autoset's capture was stopped";
            return 503;
        }
        step = autoset_from_capture(*record, channel.empty() ? 0 : channel[0], finding, proposal);
        if (step != autoset_step::slower) break;
    }
    const std::string where = channel.empty() ? "channel A or B" : "channel " + channel;
    if (step != autoset_step::proposed) {
        message = finding.channel == 0
                      ? "no signal to set up on: " + where + " stays within " +
                            std::to_string(AUTOSET_MIN_PEAK_TO_PEAK - 1) + " codes"
                      : "no signal to set up on: channel " + std::string(1, finding.channel) +
                            " does not repeat within the slowest rate's capture";
        return 422;
    }
    const json settings = {{"mode", mode_option_name(proposal.capture_mode)},
                           {"rate", proposal.sample_rate_index},
                           {"trigger", proposal.trigger_source == TRIGGER_CHANNEL_A ? "a" : "b"},
                           {"level", static_cast<int>(proposal.trigger_value) - TRIGGER_LEVEL_OFFSET},
                           {"edge", "rising"},
                           {"pretrigger", proposal.pretrigger}};
    run_settings header{};
    json normal;
    std::string field;
    if (!parse_settings(settings, header, normal, message, field)) return 500;  // never: the proposal is in range
    std::lock_guard<std::mutex> lock(state_mutex_);
    answer = {{"draft", normal},
              {"previous", draft_},
              {"found",
               {{"channel", std::string(1, finding.channel)},
                {"frequency", finding.frequency_hz},
                {"low", finding.low},
                {"high", finding.high},
                {"level", proposal.trigger_value}}}};
    draft_ = normal;
    changed();
    return 200;
}

json instrument::statistics() const {
    std::lock_guard<std::mutex> lock(statistics_mutex_);
    json document = statistics_json(*statistics_);
    document["settings"] = statistics_settings_;
    return document;
}

void instrument::reset_statistics() {
    std::lock_guard<std::mutex> lock(statistics_mutex_);
    statistics_->reset();
}
