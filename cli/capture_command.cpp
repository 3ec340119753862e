#include "cli/capture_command.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <unistd.h>

#include "app/error_handler.h"
#include "capture/dso_file.h"
#include "capture/dso_structure.h"
#include "cli/cli_common.h"
#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"

namespace {

constexpr int MIN_LEVEL = -126;
constexpr int MAX_LEVEL = 127;
constexpr int32_t MAX_PRETRIGGER = 0x5FFFF;

// The rates of a mode as the option takes them: "50MHz", ..., "1.5625MHz".
std::string rate_list(int8_t mode) {
    std::string list;
    for (int i = 0; i <= 5; ++i) {
        char text[24];
        std::snprintf(text, sizeof text, "%gMHz", sample_rate_hz(mode, static_cast<int8_t>(i)) / 1e6);
        list += (i ? ", " : "") + std::string(text);
    }
    return list;
}

}  // namespace

int rate_index_from_text(const std::string& text, int8_t mode) {
    if (samples_in_mode(mode) == 0) return -1;
    const std::string t = lower_case(text);
    if (t.size() == 1 && t[0] >= '0' && t[0] <= '5') return t[0] - '0';
    const char* start = t.c_str();
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(start, &end);
    if (end == start || errno != 0 || !(value > 0) || !std::isfinite(value)) return -1;
    std::string unit(end);
    while (!unit.empty() && unit[0] == ' ') unit.erase(0, 1);
    double megahertz;
    if (unit == "mhz" || unit.empty()) megahertz = value;
    else if (unit == "khz") megahertz = value / 1e3;
    else if (unit == "hz") megahertz = value / 1e6;
    else return -1;
    for (int i = 0; i <= 5; ++i) {
        const double rate = sample_rate_hz(mode, static_cast<int8_t>(i)) / 1e6;
        const double shown = std::round(rate * 10.0) / 10.0;  // as the dialog lists it: 6.3 for 6.25
        if (std::fabs(megahertz - rate) <= 1e-9 * rate || std::fabs(megahertz - shown) <= 1e-9 * rate) return i;
    }
    return -1;
}

CLI::App* add_capture_command(CLI::App& app, capture_options& o) {
    CLI::App* c = app.add_subcommand(
        "capture", "Program the capture hardware, wait for the trigger, read both sample memories and "
                   "write the capture as a .dso file");
    c->add_option("--mode", o.mode, "Capture mode: dual (two analogue channels), single (channel A at twice "
                                    "the rate), logic16 (16 logic inputs), mixed (8 logic inputs and channel B)")
        ->check(CLI::IsMember(MODE_OPTION_NAMES))
        ->capture_default_str();
    c->add_option("--rate", o.rate, "Sample rate as the settings dialog lists it (50MHz, 25MHz, 12.5MHz, 6.25MHz, "
                                    "3.125MHz, 1.5625MHz; single mode: the trace rate, 100MHz down to 3.125MHz) "
                                    "or its index 0..5")
        ->capture_default_str();
    c->add_option("--trigger", o.trigger, "Trigger source: a (channel A; the logic inputs in logic16 and mixed), "
                                          "b (channel B: dual and mixed), external, none")
        ->check(CLI::IsMember(TRIGGER_SOURCE_NAMES))
        ->capture_default_str();
    c->add_option("--level", o.level, "Trigger level of an analogue source, relative to the zero level")
        ->check(CLI::Range(MIN_LEVEL, MAX_LEVEL))
        ->capture_default_str();
    c->add_option("--pattern", o.pattern, "Trigger pattern of the logic inputs in hexadecimal: 16 bits in "
                                          "logic16, 8 in mixed")
        ->type_name("0xHHHH")
        ->capture_default_str();
    c->add_option("--edge", o.edge, "Trigger edge of an analogue or external source")
        ->check(CLI::IsMember({"rising", "falling"}))
        ->capture_default_str();
    c->add_option("--pretrigger", o.pretrigger, "Samples to keep from before the trigger")
        ->check(CLI::Range(0, MAX_PRETRIGGER))
        ->capture_default_str();
    c->add_option("-o,--output", o.output, "The .dso file to write")->required()->type_name("FILE.dso");
    add_port_options(*c, o.port, o.trace);
    c->add_option("--timeout", o.timeout, "Give up when no trigger has come after this many seconds (exit status "
                                          "124)")
        ->check(CLI::Validator(
            [](std::string& text) {
                char* end = nullptr;
                const double seconds = std::strtod(text.c_str(), &end);
                if (end == text.c_str() || *end != '\0' || !(seconds > 0) || !std::isfinite(seconds))
                    return "'" + text + "' is not a positive number of seconds";
                return std::string();
            },
            "POSITIVE"))
        ->type_name("SECONDS");
    c->add_flag("-q,--quiet", o.quiet, "No progress on standard error");
    c->footer("Exit status: 0 written; 1 the capture downloaded no samples (a warning); 2 a bad command line; "
              "5, 10 or 20 the program's own errors; 124 --timeout passed; 130 interrupted (Ctrl+C). Nothing "
              "is written unless the capture completes.\n");
    return c;
}

capture_header capture_header_from_options(const CLI::App& command, const capture_options& o) {
    capture_header h{};
    h.capture_mode = mode_from_option_name(o.mode);
    const char* mode_name = o.mode.c_str();

    int rate = rate_index_from_text(o.rate, h.capture_mode);
    if (rate < 0)
        throw CLI::ValidationError("--rate", "'" + o.rate + "' is not a rate of " + mode_name + " mode; use one of " +
                                                 rate_list(h.capture_mode) + ", or an index 0..5");
    h.sample_rate_index = static_cast<int8_t>(rate);

    for (size_t i = 0; i < TRIGGER_SOURCE_NAMES.size(); ++i)
        if (TRIGGER_SOURCE_NAMES[i] == o.trigger) h.trigger_source = static_cast<int8_t>(i);
    if (h.trigger_source == TRIGGER_CHANNEL_B && !(h.capture_mode == MODE_DUAL || h.capture_mode == MODE_MIXED))
        throw CLI::ValidationError("--trigger", "channel B is not a trigger source in " + std::string(mode_name) +
                                                    " mode; use a, external or none");

    // Channel B outside Dual Channel and Mixed Mode was refused above.
    const bool analogue = is_level_trigger(h.capture_mode, h.trigger_source);
    const bool pattern = is_pattern_trigger(h.capture_mode, h.trigger_source);
    if (command.count("--level") && !analogue)
        throw CLI::ValidationError("--level", std::string("a level belongs to an analogue trigger source (") +
                                                  (h.capture_mode == MODE_MIXED ? "b" : h.capture_mode == MODE_LOGIC16 ? "none here" : "a or b") +
                                                  ")" + (pattern ? "; a logic trigger takes --pattern" : ""));
    if (command.count("--pattern") && !pattern)
        throw CLI::ValidationError("--pattern", "a pattern belongs to the logic trigger source: --trigger a in "
                                                "logic16 or mixed mode");
    if (command.count("--edge") && (pattern || h.trigger_source == TRIGGER_NONE))
        throw CLI::ValidationError("--edge", pattern ? "a pattern trigger has no edge"
                                                     : "a capture with --trigger none has no edge");
    if (o.pretrigger != 0 && h.trigger_source == TRIGGER_NONE)
        throw CLI::ValidationError("--pretrigger", "a capture with --trigger none keeps no samples from before "
                                                   "its trigger; leave --pretrigger at 0");

    h.pretrigger = o.pretrigger;
    h.trigger_edge = o.edge == "falling" ? 1 : 0;
    if (analogue) {
        h.trigger_value = static_cast<uint16_t>(o.level + TRIGGER_LEVEL_OFFSET);
    } else if (pattern) {
        const uint32_t limit = h.capture_mode == MODE_LOGIC16 ? 0xFFFF : 0xFF;
        uint32_t value = 0;
        if (!parse_hex_value(o.pattern, limit, value))
            throw CLI::ValidationError("--pattern", "'" + o.pattern + "' is not a pattern of " +
                                                        (limit == 0xFF ? "8 bits (0x0..0xff)" : "16 bits (0x0..0xffff)") +
                                                        " in hexadecimal");
        h.trigger_value = static_cast<uint16_t>(value);
    } else {
        h.trigger_value = 0;  // what a fresh settings dialog stores for these sources
    }
    return h;
}

namespace {

// What a signal may do: before the trigger it cancels (as the dialog's Cancel does); during the
// download, which the dialog cannot cancel, it ends the program at once; while the file is
// written it waits for the file.
enum capture_phase : int { PHASE_WAITING, PHASE_DOWNLOADING, PHASE_SAVING };
std::atomic<int> phase{PHASE_WAITING};
volatile sig_atomic_t interrupted = 0;

void on_signal(int) {
    if (phase.load() == PHASE_DOWNLOADING) {
        static const char message[] = "\nkorvane-cli: capture interrupted during the download; nothing written\n";
        ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
        (void)ignored;
        _exit(EXIT_INTERRUPTED);
    }
    interrupted = 1;
    if (phase.load() == PHASE_WAITING) request_cancel();
}

void install_signal_handlers(bool on) {
    struct sigaction action {};
    action.sa_handler = on ? on_signal : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a signal ends a sleep at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

using steady = std::chrono::steady_clock;

// The capture thread's services on a terminal: sleeps that a signal or the timeout ends,
// and the progress on standard error.
struct terminal_services final : capture_services {
    bool show = true;
    bool live = false;  // standard error is a terminal: one line, redrawn
    double timeout = 0;
    bool timed_out = false;
    bool waiting_shown = false;
    int percent_shown = -1;
    steady::time_point start = steady::now();

    double elapsed() const { return std::chrono::duration<double>(steady::now() - start).count(); }

    void show_waiting() {
        if (!show) return;
        if (live) {
            std::fprintf(stderr, "\r\033[KWaiting For Trigger  %.1f s", elapsed());
            std::fflush(stderr);
        } else if (!waiting_shown) {
            std::fprintf(stderr, "Waiting For Trigger\n");
        }
        waiting_shown = true;
    }

    void sleep_ms(uint32_t milliseconds) override {
        show_waiting();
        steady::time_point end = steady::now() + std::chrono::milliseconds(milliseconds);
        const steady::time_point deadline =
            start + std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(timeout));
        if (timeout > 0 && deadline < end) end = deadline;
        for (;;) {
            if (cancel_requested.load()) return;
            const steady::time_point now = steady::now();
            if (now >= end) break;
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - now).count();
            struct timespec pause = {static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
            nanosleep(&pause, nullptr);  // a signal ends it early
        }
        if (timeout > 0 && steady::now() >= deadline) {
            timed_out = true;
            request_cancel();
            return;
        }
        show_waiting();
    }

    void download_begins() override {
        phase.store(PHASE_DOWNLOADING);
        if (!show) return;
        if (live) std::fprintf(stderr, "\r\033[KDownloading Captured Data");
        else std::fprintf(stderr, "Downloading Captured Data\n");
        std::fflush(stderr);
    }

    void report_progress(int32_t percent) override {
        if (!show || !live || percent == percent_shown) return;
        percent_shown = percent;
        char bar[41];
        const int filled = percent * 40 / 100;
        for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
        bar[40] = '\0';
        std::fprintf(stderr, "\r\033[KDownloading Captured Data  [%s] %d %%", bar, percent);
        std::fflush(stderr);
    }

    void end_line() {
        if (show && live) std::fprintf(stderr, "\r\033[K");
    }
};

terminal_services services;

}  // namespace

int run_capture_command(const capture_options& o, const capture_header& h) {
    port_choice port;
    parse_port_option(o.port, port);

    // The record starts as the window's does; the header then takes the settings.
    clear_channels();
    dso_record& r = dso_structure;
    r.pretrigger = h.pretrigger;
    r.trigger_source = h.trigger_source;
    r.trigger_value = h.trigger_value;
    r.trigger_edge = h.trigger_edge;
    r.sample_rate_index = h.sample_rate_index;
    r.capture_mode = h.capture_mode;

    open_port(port, o.trace);
    // The port must read its data lines, as at the window's start.
    set_port_address(port.base, false);
    const bool bidirectional = check_bidirectional();
    check_port_failures();
    if (!bidirectional) error_handler(10, "Main", "");

    services.show = !o.quiet;
    services.live = isatty(STDERR_FILENO) == 1;
    services.timeout = o.timeout;
    services.start = steady::now();
    set_capture_services(&services);
    cancel_requested.store(0);
    phase.store(PHASE_WAITING);
    install_signal_handlers(true);

    const int warnings_before = warnings_reported();
    const bool completed = !interrupted && run_capture();
    services.end_line();
    phase.store(PHASE_SAVING);
    check_port_failures();

    int status = EXIT_SUCCESS_STATUS;
    if (!completed) {
        if (services.timed_out) {
            print_message("no trigger within %g s; capture cancelled, nothing written", o.timeout);
            status = EXIT_TIMEOUT;
        } else {
            print_message("capture cancelled; nothing written");
            status = EXIT_INTERRUPTED;
        }
    } else if (warnings_reported() != warnings_before) {
        print_message("the capture downloaded no samples; nothing written to %s", o.output.c_str());
        status = EXIT_WARNING;
    }
    close_port();
    if (status == EXIT_SUCCESS_STATUS) {
        save_dso_structure(o.output.c_str());  // a failure ends the program with status 5
        if (!o.quiet) {
            const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
            std::fprintf(stderr, "Captured %d samples (%s, %g MHz) in %.1f s: %s\n", samples_in_mode(r.capture_mode),
                         capture_mode_title(r.capture_mode), rate / 1e6, services.elapsed(), o.output.c_str());
        }
    }
    install_signal_handlers(false);
    set_capture_services(nullptr);
    return status;
}
