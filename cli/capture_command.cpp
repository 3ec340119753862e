#include "cli/capture_command.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <sys/ioctl.h>
#include <unistd.h>

#include "analysis/autoset.h"
#include "app/error_handler.h"
#include "capture/dso_structure.h"
#include "cli/terminal.h"
#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"
#include "cli/output_options.h"
#include "cli/render_command.h"
#include "display/view_range.h"
#include "services/capture_info.h"
#include "services/statistics_info.h"
#include "analysis/figures.h"
#include "analysis/statistics.h"

namespace {

using steady = std::chrono::steady_clock;

}  // namespace

CLI::App* add_capture_command(CLI::App& app, capture_options& o) {
    CLI::App* c = app.add_subcommand(
        "capture", "Program the capture hardware, wait for the trigger, read both sample memories and "
                   "write the capture: as a .dso file, and in any format export and render write");
    c->add_option("--mode", o.mode, "Capture mode: dual (two analogue channels), single (channel A at twice "
                                    "the rate), logic16 (16 logic inputs), mixed (8 logic inputs and channel B)")
        ->check(CLI::IsMember(MODE_OPTION_NAMES, CLI::ignore_case))
        ->capture_default_str();
    c->add_option("--rate", o.rate, "Sample rate as the settings dialog lists it (50MHz, 25MHz, 12.5MHz, 6.25MHz, "
                                    "3.125MHz, 1.5625MHz; single mode: the trace rate, 100MHz down to 3.125MHz) "
                                    "or its index 0..5")
        ->capture_default_str();
    c->add_option("--trigger", o.trigger, "Trigger source: a (channel A; the logic inputs in logic16 and mixed), "
                                          "b (channel B: dual and mixed), external, none")
        ->check(CLI::IsMember(TRIGGER_SOURCE_NAMES, CLI::ignore_case))
        ->capture_default_str();
    c->add_option("--level", o.level, "Trigger level of an analogue source, relative to the zero level; the capture "
                                      "stores it as code level + 127, as the window does")
        ->check(whole_number(MIN_LEVEL, MAX_LEVEL))
        ->capture_default_str();
    c->add_option("--pattern", o.pattern, "Trigger pattern of the logic inputs in hexadecimal: 16 bits in "
                                          "logic16, 8 in mixed")
        ->type_name("0xHHHH")
        ->capture_default_str();
    c->add_option("--edge", o.edge, "Trigger edge of an analogue or external source")
        ->check(CLI::IsMember({"rising", "falling"}, CLI::ignore_case))
        ->capture_default_str();
    c->add_option("--pretrigger", o.pretrigger, "Samples to keep from before the trigger")
        ->check(whole_number(0, MAX_PRETRIGGER))
        ->capture_default_str();
    c->add_option("-o,--output", o.outputs, "A file to write, in the format its name ends in: .dso (the default), "
                                            ".csv, .vcd, .wav, .sr, .png, .svg, .pdf; - for standard output. May be "
                                            "given more than once")
        ->type_name("FILE");
    c->add_option("--format", o.format, "The format of the outputs whose names do not end in one: dso, csv, vcd, "
                                        "wav, sr, png, svg, pdf");
    c->add_option("--size", o.size, "The window's client area that a png, svg or pdf output shows")
        ->type_name("WIDTHxHEIGHT")
        ->capture_default_str();
    add_port_options(*c, o.port, o.trace, o.port_wait);
    c->add_option("--timeout", o.timeout, "Give up when no trigger has come after this many seconds of waiting "
                                          "for it (exit status 124); the download does not count")
        ->check(seconds_value(false))
        ->type_name("SECONDS");
    c->add_flag("-q,--quiet", o.quiet, "No progress on standard error");
    CLI::Option* autoset = c->add_flag("--autoset", o.autoset, "Take a capture first to find the strongest analogue "
                                                               "signal, then capture with the settings that show a few "
                                                               "of its periods, triggered at its middle on the rising "
                                                               "edge (printed as options on standard error)");
    for (const char* setting : {"--mode", "--rate", "--trigger", "--level", "--pattern", "--edge", "--pretrigger"})
        autoset->excludes(c->get_option(setting));
    CLI::Option* count = c->add_option("--count", o.count, "Take up to this many captures as Normal mode does (re-armed "
                                                           "after each); each -o name takes the capture's number as "
                                                           "printf writes it (-o 'run-%04d.dso'); the statistics of "
                                                           "every measurement are printed at the end")
                             ->check(whole_number(1, 1000000))
                             ->type_name("N");
    CLI::Option* stop_when = c->add_option("--stop-when", o.stop_when,
                                           "Capture as Normal mode does until a capture meets this condition, keep "
                                           "that one (-o) and stop: 'A.frequency > 1010', 'D3.edges == 0', "
                                           "'decode uart:rx=D0:baudrate=115200 rx-data /ERR/', several joined with "
                                           "or; --count bounds the captures it tries (exit status 3 when none met it)")
                                 ->type_name("CONDITION");
    CLI::Option* math = c->add_option("--math", o.math, "With --count or --stop-when: the math channel M of this "
                                                       "expression (A+B, A-B, B-A, A*B, -A, -B, (A+B)/2, in codes "
                                                       "relative to 0x80); its figures join the statistics, and a "
                                                       "condition may name it: 'M.rms > 20'")
                            ->type_name("EXPR");
    c->add_flag("--json", o.json, "With --count or --stop-when: the statistics (and what stopped the run) as one JSON "
                                  "object");
    autoset->excludes(count);
    autoset->excludes(stop_when);
    autoset->excludes(math);
    c->footer("Exit status: 0 written; 1 the capture downloaded no samples (a warning); 2 a bad command line; "
              "5 a file that could not be written (every output is checked before the port is touched); with --autoset, 1 "
              "also when no channel holds a repeating signal to set up on (nothing written); 10 or 20 "
              "the program's own errors (10: the port); 3 --stop-when: no capture of --count met the condition (the "
              "statistics are printed, nothing written); 75 the port stayed held by another program; 124 --timeout "
              "passed; 130 interrupted (Ctrl+C, SIGTERM, SIGHUP) while waiting: nothing written.\n");
    return c;
}

capture_outputs capture_outputs_from_options(const CLI::App& command, const capture_options& o,
                                             const capture_header& h) {
    static const std::vector<output_format> ALL = {output_format::dso, output_format::csv, output_format::vcd,
                                                   output_format::wav, output_format::sr,  output_format::png,
                                                   output_format::svg, output_format::pdf};
    capture_outputs outputs;
    const bool run = o.count > 0 || !o.stop_when.empty();
    if (o.outputs.empty() && !run) throw CLI::RequiredError("--output");
    if (o.json && !run) throw CLI::ValidationError("--json", "the statistics come with --count or --stop-when");
    if (!o.math.empty()) {
        if (!run) throw CLI::ValidationError("--math", "the math channel's figures come with --count or --stop-when");
        std::string message;
        if (!parse_math(o.math, outputs.math, message) || !math_available_in(h.capture_mode, outputs.math, message))
            throw CLI::ValidationError("--math", message);
        outputs.with_math = true;
    }
    if (!o.stop_when.empty()) {
        stop_refusal refusal;
        if (!parse_stop_condition(o.stop_when, outputs.stop, refusal, o.math) ||
            !check_stop_condition(outputs.stop, h.capture_mode, refusal))
            throw CLI::ValidationError("--stop-when", stop_refusal_text(o.stop_when, refusal));
    }
    bool picture = false;
    for (const std::string& given : o.outputs) {
        // A run that keeps every capture numbers its files; one that stops keeps one capture,
        // which a number in the name may name.
        int conversions = 0;
        const std::string refusal = number_pattern_refusal(given, conversions);
        if (!refusal.empty()) throw CLI::ValidationError("--output", "'" + given + "': " + refusal);
        if (o.count > 1 && o.stop_when.empty() && conversions == 0)
            throw CLI::ValidationError("--output", "'" + given + "': --count keeps every capture, so a name needs its "
                                                   "number: run-%04d.dso");
        outputs.patterns.push_back(given);
        const std::string name = numbered_name(given, 1);
        const output_format format = output_format_for(name, o.format, ALL, static_cast<int>(output_format::dso));
        if (format == output_format::wav && h.capture_mode == MODE_LOGIC16)
            throw CLI::ValidationError("--output", "a 16 Bit Logic Analyser capture has no analogue channel for a "
                                                   "wav file ('" + name + "')");
        if (format == output_format::png || format == output_format::svg || format == output_format::pdf) {
            int32_t width = 0, height = 0;
            parse_picture_size(o.size, format, width, height);
            outputs.width = width;
            outputs.height = height;
            picture = true;
        }
        outputs.files.push_back({name, format, {}});
    }
    if (command.count("--size") && !picture)
        throw CLI::ValidationError("--size", "the size is that of a picture; no output is a png, svg or pdf file");
    return outputs;
}

std::string number_pattern_refusal(const std::string& name, int& conversions) {
    conversions = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') continue;
        if (i + 1 < name.size() && name[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        if (j < name.size() && name[j] == '0') ++j;
        const size_t digits = j;
        while (j < name.size() && name[j] >= '0' && name[j] <= '9') ++j;
        if (j >= name.size() || name[j] != 'd' || j - digits > 2)
            return "a % in a name is the capture's number, %d or %04d (up to 99 digits); %% is a %";
        ++conversions;
        i = j;
    }
    return conversions > 1 ? "one number in a name, not " + std::to_string(conversions) : "";
}

std::string numbered_name(const std::string& name, int64_t number) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            out += name[i];
            continue;
        }
        if (i + 1 < name.size() && name[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        const size_t end = name.find('d', i);
        if (end == std::string::npos) return out + name.substr(i);  // refused before: never
        const std::string spec = name.substr(i + 1, end - i - 1);  // "", "4" or "04"
        const int width = spec.empty() ? 0 : std::atoi(spec.c_str());
        char text[128];
        if (!spec.empty() && spec[0] == '0')
            std::snprintf(text, sizeof text, "%0*lld", width, static_cast<long long>(number));
        else
            std::snprintf(text, sizeof text, "%*lld", width, static_cast<long long>(number));
        out += text;
        i = end;
    }
    return out;
}

capture_header capture_header_from_options(const CLI::App& command, const capture_options& o) {
    capture_settings settings;
    settings.mode = mode_from_option_name(o.mode);
    settings.rate = o.rate;
    for (size_t i = 0; i < TRIGGER_SOURCE_NAMES.size(); ++i)
        if (TRIGGER_SOURCE_NAMES[i] == lower_case(o.trigger)) settings.trigger_source = static_cast<int8_t>(i);
    settings.level = o.level;
    settings.level_given = command.count("--level") > 0;
    settings.pattern = o.pattern;
    settings.pattern_given = command.count("--pattern") > 0;
    settings.edge = lower_case(o.edge) == "falling" ? 1 : 0;
    settings.edge_given = command.count("--edge") > 0;
    settings.pretrigger = o.pretrigger;
    capture_header h{};
    setting_refusal refusal;
    if (!check_capture_settings(settings, h, refusal)) throw CLI::ValidationError("--" + refusal.setting, terminal_words(refusal));
    return h;
}

namespace {

// What a signal may do: before the trigger it cancels (as the dialog's Cancel does); during the
// download, which the dialog cannot cancel, it ends the program at once; while the files are
// written it waits for them. While the port is claimed, the claim's wait sees the signal.
enum capture_phase : int { PHASE_CLAIMING, PHASE_WAITING, PHASE_DOWNLOADING, PHASE_SAVING };
std::atomic<int> phase{PHASE_CLAIMING};

void on_interrupt(int) {
    if (phase.load() == PHASE_DOWNLOADING) {
        static const char message[] = "\nkorvane-cli: capture interrupted during the download; nothing written\n";
        ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
        (void)ignored;
        remove_temp_files_now();
        _exit(EXIT_INTERRUPTED);
    }
    if (phase.load() == PHASE_WAITING) request_cancel();
}

// The columns of the terminal on standard error; 80 when it does not say.
int terminal_width() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// The capture thread's services on a terminal: sleeps that a signal or the timeout ends,
// and the progress on standard error.
struct terminal_services final : capture_services {
    bool show = true;
    bool live = false;  // standard error is a terminal: one line, redrawn
    double timeout = 0;       // seconds of waiting for the trigger; 0: no bound
    double fill_seconds = 0;  // the time the memories take to fill once the trigger came
    bool bounded = false;     // the trigger is armed and the timeout counts
    double deadline = 0;      // seconds since start
    bool timed_out = false;
    bool waiting_shown = false;
    int percent_shown = -1;
    int sleeps = 0;
    steady::time_point start = steady::now();

    double elapsed() const { return std::chrono::duration<double>(steady::now() - start).count(); }

    // A progress line cut to the terminal's width, so that it never wraps.
    void show_line(const std::string& text) {
        const size_t room = static_cast<size_t>(terminal_width() > 1 ? terminal_width() - 1 : 1);
        std::fprintf(stderr, "\r\033[K%s", text.substr(0, room).c_str());
        std::fflush(stderr);
    }

    void show_waiting() {
        if (!show) return;
        if (live) {
            char text[64];
            std::snprintf(text, sizeof text, "Waiting For Trigger  %.1f s", elapsed());
            show_line(text);
        } else if (!waiting_shown) {
            std::fprintf(stderr, "Waiting For Trigger\n");
        }
        waiting_shown = true;
    }

    void sleep_ms(uint32_t milliseconds) override {
        show_waiting();
        // The first sleep is the pre-trigger time; the trigger is armed after it, and from
        // then on the timeout counts, with the time the memories take to fill after it.
        if (sleeps++ == 1 && timeout > 0) {
            bounded = true;
            deadline = elapsed() + timeout + fill_seconds;
        }
        // The deadline has passed and the status read since then showed no completion.
        if (bounded && elapsed() >= deadline) {
            timed_out = true;
            request_cancel();
            return;
        }
        // A sleep ends at the deadline, so that the status is read once more then.
        double end = elapsed() + milliseconds / 1000.0;
        if (bounded && deadline < end) end = deadline;
        for (;;) {
            if (cancel_requested.load()) return;
            const double left = end - elapsed();
            if (left <= 0) break;
            const long long nanoseconds = static_cast<long long>(left * 1e9);
            struct timespec pause = {static_cast<time_t>(nanoseconds / 1000000000), static_cast<long>(nanoseconds % 1000000000)};
            nanosleep(&pause, nullptr);  // a signal ends it early
        }
        show_waiting();
    }

    void download_begins() override {
        phase.store(PHASE_DOWNLOADING);
        if (!show) return;
        if (live) show_line("Downloading Captured Data");
        else std::fprintf(stderr, "Downloading Captured Data\n");
        std::fflush(stderr);
    }

    void report_progress(int32_t percent) override {
        if (!show || !live || percent == percent_shown) return;
        percent_shown = percent;
        // The bar takes what the terminal leaves of its 40 characters.
        const int width = terminal_width();
        int bar_width = width - 1 - static_cast<int>(std::strlen("Downloading Captured Data  [] 100 %"));
        if (bar_width > 40) bar_width = 40;
        char text[128];
        if (bar_width >= 10) {
            char bar[41];
            const int filled = percent * bar_width / 100;
            for (int i = 0; i < bar_width; ++i) bar[i] = i < filled ? '#' : '.';
            bar[bar_width] = '\0';
            std::snprintf(text, sizeof text, "Downloading Captured Data  [%s] %d %%", bar, percent);
        } else {
            std::snprintf(text, sizeof text, "Downloading Captured Data  %d %%", percent);
        }
        show_line(text);
    }

    void end_line() {
        if (show && live) std::fprintf(stderr, "\r\033[K");
    }
};

terminal_services services;

// Where a capture whose every file failed is kept: a new .dso in the temporary folder.
void keep_rescue_copy() {
    const char* folder = std::getenv("TMPDIR");
    char name[512];
    std::snprintf(name, sizeof name, "%s/korvane-capture-%ld-%d.dso", folder && *folder ? folder : "/tmp",
                  static_cast<long>(std::time(nullptr)), static_cast<int>(getpid()));
    output_request rescue{name, output_format::dso, {}};
    file_failure failure;
    output_content content;
    content.record = &dso_structure;
    if (plan_output(name, rescue.plan, failure) && write_capture_output(rescue, content, failure))
        print_message("the capture is kept in %s", name);
    else
        print_message("the capture could not be kept anywhere: %s", failure.what.c_str());
}

const capture_outputs* current_outputs = nullptr;

// Writes the capture in the record to every file: the status (0, or 5 when a file failed, the
// capture then kept in $TMPDIR when no .dso of it was written).
int write_capture_files(const capture_options& o, const std::vector<output_request>& files, double seconds) {
    output_content content;
    whole_capture(dso_structure, content);
    // Pictures show the whole capture as the window does after a capture.
    picture_request picture;
    picture.width = current_outputs->width;
    picture.height = current_outputs->height;
    std::string message;
    prepare_picture("", dso_structure, picture, content.picture, message);
    bool failed = false, kept = false;
    std::string written;
    for (const output_request& out : files) {
        file_failure failure;
        if (write_capture_output(out, content, failure)) {
            kept = kept || out.format == output_format::dso;
            written += (written.empty() ? "" : ", ") + out.plan.name;
        } else {
            print_report_line(failure.code, format_of(out.format).routine, failure.what);
            failed = true;
        }
    }
    if (failed && !kept) keep_rescue_copy();
    if (!o.quiet && !written.empty()) {
        const dso_record& r = dso_structure;
        const double rate = sample_rate_hz(r.capture_mode, r.sample_rate_index);
        services.end_line();
        std::fprintf(stderr, "Captured %s (%s, %g MHz) in %.1f s: %s\n",
                     count_of(samples_in_mode(r.capture_mode), "sample").c_str(), capture_mode_title(r.capture_mode),
                     rate / 1e6, seconds, written.c_str());
    }
    return failed ? EXIT_FILE : EXIT_SUCCESS_STATUS;
}

// The files of capture number n of a run: each name numbered, checked as before the run.
int write_numbered_files(const capture_options& o, const capture_outputs& outputs, int64_t n, double seconds) {
    std::vector<output_request> files = outputs.files;
    for (size_t i = 0; i < files.size(); ++i) {
        files[i].name = numbered_name(outputs.patterns[i], n);
        files[i].plan = output_plan{};
    }
    if (const int refused = check_outputs(files, nullptr)) return refused;
    return write_capture_files(o, files, seconds);
}

}  // namespace

namespace {

// What a run of captures did.
struct run_report {
    run_statistics statistics;
    int64_t taken = 0;
    int stopped_by = -1;  // the term of --stop-when that a capture met
    int64_t stopped_at = 0;
    std::string detail;
    int files_status = EXIT_SUCCESS_STATUS;
};

capture_figures figures;  // large: static storage

// Captures as Normal mode takes them, each armed again with the same settings after the one
// before, until --count, a capture that meets --stop-when, a failure or an interruption. false
// when the last capture did not complete (cancelled, timed out).
bool run_of_captures(const capture_options& o, const capture_header& h, const capture_outputs& outputs, run_report& run,
                     int warnings_before) {
    const bool stopping = !outputs.stop.empty();
    for (int64_t n = 1; o.count == 0 || n <= o.count; ++n) {
        store_run_header(h);
        services.sleeps = 0;
        services.bounded = false;
        services.waiting_shown = false;
        services.percent_shown = -1;
        phase.store(PHASE_WAITING);
        if (cancel_requested.load() || !run_capture()) return false;
        check_port_failures();
        if (warnings_reported() != warnings_before) return true;  // no samples: reported at the end
        phase.store(PHASE_SAVING);
        ++run.taken;
        measure_figures(dso_structure, figures);
        if (outputs.with_math) measure_math_figures(dso_structure, outputs.math, figures);
        run.statistics.add(figures);
        if (stopping) {
            run.stopped_by = stop_condition_met(outputs.stop, dso_structure, &figures, run.detail);
            if (run.stopped_by >= 0) {
                run.stopped_at = n;
                run.files_status = write_numbered_files(o, outputs, n, services.elapsed());
                return true;
            }
        } else if (!outputs.files.empty()) {
            run.files_status = write_numbered_files(o, outputs, n, services.elapsed());
            if (run.files_status != EXIT_SUCCESS_STATUS) return true;
        }
        if (!o.quiet && (stopping || outputs.files.empty())) {
            services.end_line();
            if (o.count > 0)
                std::fprintf(stderr, "%s capture %lld of %d\n", stopping ? "no stop:" : "took", static_cast<long long>(n), o.count);
            else
                std::fprintf(stderr, "no stop: capture %lld\n", static_cast<long long>(n));
        }
        if (interrupted_by != 0) return false;
    }
    return true;
}

// The end of a run: what stopped it on standard error, the statistics on standard output; the
// exit status.
int end_of_run(const capture_options& o, const capture_outputs& outputs, const run_report& run, int status) {
    const bool stopping = !outputs.stop.empty();
    if (status == EXIT_SUCCESS_STATUS) status = run.files_status;
    const bool ran_out = stopping && run.stopped_by < 0 && status == EXIT_SUCCESS_STATUS;
    if (stopping && run.stopped_by >= 0)
        print_message("stopped at capture %lld by %s: %s", static_cast<long long>(run.stopped_at),
                      outputs.stop.terms[static_cast<size_t>(run.stopped_by)].text.c_str(), run.detail.c_str());
    else if (ran_out)
        print_message("no capture of %lld met the condition; nothing written", static_cast<long long>(run.taken));
    if (o.json) {
        nlohmann::ordered_json j;
        j["captures"] = run.taken;
        j["stop_when"] = stopping ? nlohmann::ordered_json(outputs.stop.text) : nlohmann::ordered_json(nullptr);
        if (stopping && run.stopped_by >= 0)
            j["stopped_by"] = {{"condition", outputs.stop.terms[static_cast<size_t>(run.stopped_by)].text},
                               {"term", run.stopped_by},
                               {"capture", run.stopped_at},
                               {"detail", run.detail}};
        else
            j["stopped_by"] = nullptr;
        j["statistics"] = statistics_json(run.statistics);
        std::printf("%s\n", j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    } else if (o.count > 0 || ran_out) {
        std::fputs(statistics_text(run.statistics).c_str(), stdout);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        print_report_line(7, "capture", std::string("standard output: ") + std::strerror(errno));
        return EXIT_FILE;
    }
    return ran_out ? EXIT_RAN_OUT : status;
}

}  // namespace

int run_capture_command(const capture_options& o, const capture_header& h, capture_outputs& outputs) {
    current_outputs = &outputs;
    const bool multiple = o.count > 0 || !outputs.stop.empty();
    run_report run;
    port_choice port;
    parse_port_option(o.port, port);

    // Every file is checked before the port is touched: a capture can take hours of waiting.
    if (const int refused = check_outputs(outputs.files, nullptr)) return refused;
    output_plan trace;
    const bool tracing = plan_trace(o.trace, trace);
    if (tracing) {
        for (const output_request& out : outputs.files) {
            if (is_same_output(trace, out.plan)) {
                print_message("--trace and -o %s name the same file; the trace needs one of its own", out.name.c_str());
                return EXIT_USAGE;
            }
        }
    }

    // The record starts as the window's does; the header then takes the settings.
    clear_channels();
    store_run_header(h);

    // Ctrl+C is answered from here on, also while the port is claimed.
    phase.store(PHASE_CLAIMING);
    install_interrupt_handlers(on_interrupt);
    open_port(port, tracing ? &trace : nullptr, o.port_wait);
    // The port must read its data lines, as at the window's start.
    set_port_address(port.base, false);
    const bool bidirectional = check_bidirectional();
    check_port_failures();
    if (!bidirectional)
        error_handler(10, "check_bidirectional",
                      (o.port + ": the port reads back its own latch; set it to a bidirectional mode (PS/2, EPP or "
                                "ECP) in the BIOS set-up")
                          .c_str());

    services.show = !o.quiet;
    services.live = isatty(STDERR_FILENO) == 1;
    // A capture with no trigger has nothing to wait for.
    services.timeout = h.trigger_source == TRIGGER_NONE ? 0 : o.timeout;
    services.fill_seconds = samples_in_mode(h.capture_mode) / sample_rate_hz(h.capture_mode, h.sample_rate_index);
    services.start = steady::now();
    set_capture_services(&services);
    cancel_requested.store(0);
    phase.store(PHASE_WAITING);
    if (interrupted_by != 0) request_cancel();

    int warnings_before = warnings_reported();
    bool completed = !cancel_requested.load();
    std::string no_signal;
    if (completed && o.autoset) {
        // The settings come from captures taken with no trigger: first at the fastest rate,
        // then, for a signal too slow to show a period there, at the slowest.
        autoset_finding finding;
        run_settings proposal{};
        autoset_step step = autoset_step::slower;
        for (const int8_t rate : {int8_t{0}, int8_t{5}}) {
            if (step != autoset_step::slower) break;
            const run_settings probe = autoset_probe(rate);
            store_run_header(probe);
            phase.store(PHASE_WAITING);
            services.timeout = 0;
            services.fill_seconds = samples_in_mode(probe.capture_mode) / sample_rate_hz(probe.capture_mode, rate);
            completed = !cancel_requested.load() && run_capture();
            check_port_failures();
            if (!completed || warnings_reported() != warnings_before) break;
            step = autoset_from_capture(dso_structure, 0, finding, proposal);
        }
        services.end_line();
        if (completed && warnings_reported() == warnings_before) {
            if (step == autoset_step::proposed) {
                std::fprintf(stderr, "autoset: channel %c, %s, codes %u..%u: --mode %s --rate %gMHz --trigger %c "
                                     "--level %d --edge rising --pretrigger %d\n",
                             finding.channel, si(finding.frequency_hz, "Hz").c_str(), finding.low, finding.high,
                             mode_option_name(proposal.capture_mode),
                             sample_rate_hz(proposal.capture_mode, proposal.sample_rate_index) / 1e6,
                             finding.channel == 'A' ? 'a' : 'b', proposal.trigger_value - TRIGGER_LEVEL_OFFSET,
                             proposal.pretrigger);
                store_run_header(proposal);
                services.timeout = o.timeout;
                services.fill_seconds = samples_in_mode(proposal.capture_mode) /
                                        sample_rate_hz(proposal.capture_mode, proposal.sample_rate_index);
                services.sleeps = 0;
                services.bounded = false;
                services.waiting_shown = false;
                services.percent_shown = -1;
                phase.store(PHASE_WAITING);
                completed = !cancel_requested.load() && run_capture();
            } else {
                no_signal = finding.channel == 0
                                ? "neither channel A nor B goes beyond " + std::to_string(AUTOSET_MIN_PEAK_TO_PEAK - 1) + " codes"
                                : std::string("channel ") + finding.channel + " does not repeat within a capture at the slowest rate";
            }
        }
    } else if (completed && !multiple) {
        completed = run_capture();
    } else if (completed) {
        completed = run_of_captures(o, h, outputs, run, warnings_before);
    }
    services.end_line();
    phase.store(PHASE_SAVING);
    check_port_failures();

    int status = EXIT_SUCCESS_STATUS;
    if (!no_signal.empty()) {
        print_message("no signal to set up on: %s; nothing captured", no_signal.c_str());
        status = EXIT_WARNING;
    } else if (!completed) {
        const std::string kept = run.taken > 0 ? "; the " + count_of(run.taken, "capture") + " before it stand" : "";
        if (services.timed_out) {
            print_message("no trigger within %g s; capture cancelled, nothing written%s", o.timeout, kept.c_str());
            status = EXIT_TIMEOUT;
        } else {
            print_message("capture cancelled; nothing written%s", kept.c_str());
            status = EXIT_INTERRUPTED;
        }
    } else if (warnings_reported() != warnings_before) {
        print_message("the capture downloaded no samples; nothing written");
        status = EXIT_WARNING;
    }
    const bool traced = close_port();
    if (status == EXIT_SUCCESS_STATUS && !multiple) status = write_capture_files(o, outputs.files, services.elapsed());
    if (multiple) status = end_of_run(o, outputs, run, status);
    if (!traced && (status == EXIT_SUCCESS_STATUS || status == EXIT_WARNING)) status = EXIT_FILE;
    set_capture_services(nullptr);
    return status;
}
