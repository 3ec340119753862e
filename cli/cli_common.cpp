#include "cli/cli_common.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

#include "app/error_handler.h"
#include "app/error_presentation.h"
#include "capture/capture_channels.h"
#include "capture/dso_structure.h"
#include "hardware/port.h"
#include "hardware/port_bus_linux.h"
#include "hardware/port_trace.h"
#include "simulator/simulated_device.h"

namespace {

// The table's text, except where it names Windows: on Linux a code 13 is a port that failed.
std::string report_text(const error_entry* entry, int32_t code) {
    if (entry == nullptr) return "Unidentified error code " + std::to_string(code);
    if (entry->code == 13) return "Parallel port access failed";
    return entry->text;
}

const error_entry* entry_for(int32_t code) {
    for (const error_entry& entry : error_table)
        if (entry.code == code) return &entry;
    return nullptr;
}

struct terminal_presentation final : error_presentation {
    int warnings = 0;
    void show_box(const char* caption, const char* text, box_icon icon) override {
        if (icon == box_icon::warning) ++warnings;
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s: %s\n", PROGRAM_NAME, caption, text);
        std::fflush(stderr);
    }
    void show_report(int32_t code, int32_t, const char* function_name, const char* additional_info, const char*,
                     const char*, box_icon icon) override {
        if (icon == box_icon::warning) ++warnings;
        print_report_line(code, function_name, additional_info);
    }
    void post_quit() override {}
};

terminal_presentation presentation;

}  // namespace

void install_cli_error_presentation() { set_error_presentation(&presentation); }

int warnings_reported() { return presentation.warnings; }

void print_report_line(int32_t code, const char* function_name, const std::string& additional_info) {
    const error_entry* entry = entry_for(code);
    const int32_t level = entry != nullptr ? entry->level : 20;
    std::string line = std::string(PROGRAM_NAME) + ": " + report_text(entry, code) + " (error " +
                       std::to_string(code) + ", level " + std::to_string(level);
    if (function_name != nullptr && *function_name != '\0') line += std::string(", ") + function_name;
    line += ")";
    if (!additional_info.empty()) line += ": " + additional_info;
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void print_message(const char* format, ...) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: ", PROGRAM_NAME);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void open_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

// ---- Reading a capture ----

void refuse_input_as_output(const std::string& input, const std::string& output) {
    struct stat in, out;
    if (input == "-" || output == "-" || stat(input.c_str(), &in) != 0 || stat(output.c_str(), &out) != 0) return;
    if (in.st_dev == out.st_dev && in.st_ino == out.st_ino)
        throw CLI::ValidationError("--output", output + " is the input file; writing it would destroy the capture "
                                                        "before it is read. Give another name");
}

std::string input_name(const std::string& path) { return path == "-" ? "standard input" : path; }

void load_capture(const std::string& path, struct stat& input) {
    const std::string name = input_name(path);
    const auto fail = [&](int code, const std::string& why) { error_handler(code, "load_dso_structure", (name + ": " + why).c_str()); };
    const bool standard_input = path == "-";
    const int fd = standard_input ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fail(9, std::strerror(errno));
    if (fstat(fd, &input) != 0) return fail(9, std::strerror(errno));
    if (S_ISDIR(input.st_mode)) return fail(9, std::string(std::strerror(EISDIR)) + " (not a .dso capture file)");
    if (S_ISREG(input.st_mode) && !standard_input && static_cast<uint64_t>(input.st_size) < DSO_IMAGE_SIZE)
        return fail(8, "holds " + count_of(input.st_size, "byte") + "; a .dso capture file holds " +
                           std::to_string(DSO_IMAGE_SIZE));

    char* into = reinterpret_cast<char*>(&dso_structure);
    std::size_t got = 0;
    while (got < DSO_IMAGE_SIZE) {
        const ssize_t n = read(fd, into + got, DSO_IMAGE_SIZE - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(8, std::strerror(errno));
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got < DSO_IMAGE_SIZE)
        return fail(8, "holds " + count_of(static_cast<long long>(got), "byte") + "; a .dso capture file holds " +
                           std::to_string(DSO_IMAGE_SIZE));
    char more;
    ssize_t extra;
    do extra = read(fd, &more, 1);
    while (extra < 0 && errno == EINTR);
    if (extra > 0)
        print_message("note: %s holds more than %zu bytes; only the first %zu are the capture", name.c_str(),
                      DSO_IMAGE_SIZE, DSO_IMAGE_SIZE);
    if (!standard_input) close(fd);
}

std::string header_damage(const dso_record& r) {
    std::string damage;
    const auto add = [&](const std::string& what) { damage += (damage.empty() ? "" : ", ") + what; };
    if (r.capture_mode < MODE_DUAL || r.capture_mode > MODE_MIXED) add("mode " + std::to_string(r.capture_mode));
    if (r.sample_rate_index < -1 || r.sample_rate_index > 5) add("rate index " + std::to_string(r.sample_rate_index));
    if (r.trigger_source < TRIGGER_EXTERNAL || r.trigger_source > TRIGGER_NONE)
        add("trigger source " + std::to_string(r.trigger_source));
    if (r.trigger_edge != 0 && r.trigger_edge != 1) add("edge " + std::to_string(r.trigger_edge));
    if (r.pretrigger < 0 || r.pretrigger > 0x5FFFF) add("pre-trigger " + std::to_string(r.pretrigger));
    return damage;
}

void print_header_damage(const std::string& path, const std::string& damage) {
    print_message("%s: not a capture this program wrote, or a damaged one: %s", input_name(path).c_str(),
                  damage.c_str());
}

// ---- Names and texts ----

const std::vector<std::string> MODE_OPTION_NAMES = {"dual", "single", "logic16", "mixed"};

const char* mode_option_name(int8_t mode) {
    return mode >= MODE_DUAL && mode <= MODE_MIXED ? MODE_OPTION_NAMES[static_cast<size_t>(mode)].c_str()
                                                   : nullptr;
}

int8_t mode_from_option_name(const std::string& name) {
    for (size_t i = 0; i < MODE_OPTION_NAMES.size(); ++i)
        if (MODE_OPTION_NAMES[i] == lower_case(name)) return static_cast<int8_t>(i);
    return -1;
}

const std::vector<std::string> TRIGGER_SOURCE_NAMES = {"external", "a", "b", "none"};

bool is_pattern_trigger(int8_t mode, int8_t source) {
    return source == TRIGGER_CHANNEL_A && (mode == MODE_LOGIC16 || mode == MODE_MIXED);
}

bool is_level_trigger(int8_t mode, int8_t source) {
    return (source == TRIGGER_CHANNEL_A || source == TRIGGER_CHANNEL_B) && !is_pattern_trigger(mode, source);
}

std::string lower_case(const std::string& text) {
    std::string out;
    for (char c : text) out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

bool ends_with_ignoring_case(const std::string& text, const char* end) {
    const size_t n = std::strlen(end);
    return text.size() >= n && lower_case(text.substr(text.size() - n)) == lower_case(end);
}

std::string count_of(long long n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

bool parse_hex_value(const std::string& text, uint32_t limit, uint32_t& value) {
    size_t i = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
    if (i == text.size()) return false;
    uint32_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<uint32_t>(d);
        if (v > limit) return false;
    }
    value = v;
    return true;
}

namespace {

// A decimal number at text[i] with an optional sign, saturated; false when no digit follows.
bool read_sample_number(const std::string& text, size_t& i, int64_t& value) {
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const size_t start = i;
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = magnitude > (INT64_MAX - 9) / 10 ? INT64_MAX : magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return i > start;
}

}  // namespace

bool parse_sample_range(const std::string& text, int64_t& first, int64_t& last) {
    size_t i = 0;
    return read_sample_number(text, i, first) && i < text.size() && text[i++] == ':' &&
           read_sample_number(text, i, last) && i == text.size();
}

std::string range_not_a_range(const std::string& text) {
    return "'" + text + "' is not FIRST:LAST, two sample numbers such as 1000:5000";
}

std::string range_shows_nothing(const std::string& text, int32_t last_index) {
    return "'" + text + "' leaves no two samples of this capture's 0.." + std::to_string(last_index) +
           ": FIRST must lie below LAST once both are brought within it";
}

std::time_t file_time() {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) return static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    return std::time(nullptr);
}

bool samples_of_range(const std::string& text, int8_t mode, int32_t& first, int32_t& last, std::string& message) {
    first = 0;
    last = samples_in_mode(mode) - 1;
    if (text.empty()) return true;
    int64_t from = 0, to = 0;
    if (!parse_sample_range(text, from, to)) message = "--range: " + range_not_a_range(text);
    else if (!export_range(mode, from, to, first, last)) message = "--range: " + range_shows_nothing(text, samples_in_mode(mode) - 1);
    else return true;
    return false;
}

CLI::Validator whole_number(long long min, long long max) {
    const std::string range = std::to_string(min) + ".." + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& text) {
            size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
            if (i == text.size() || text.find_first_not_of("0123456789", i) != std::string::npos)
                return "'" + text + "' is not a whole number; give one in " + range;
            errno = 0;
            const long long value = std::strtoll(text.c_str(), nullptr, 10);
            if (errno == ERANGE || value < min || value > max) return "'" + text + "' is not in " + range;
            return std::string();
        },
        range);
}

CLI::Validator seconds_value(bool zero_allowed) {
    return CLI::Validator(
        [zero_allowed](std::string& text) {
            char* end = nullptr;
            const double seconds = std::strtod(text.c_str(), &end);
            const bool number = !text.empty() && end != text.c_str() && *end == '\0' && !std::isnan(seconds);
            if (!number || seconds < 0 || (seconds == 0 && !zero_allowed))
                return "'" + text + "' is not a number of seconds" + (zero_allowed ? " (0 or more)" : " above 0");
            return std::string();
        },
        "SECONDS");
}

void refuse_empty_values(const CLI::App& command) {
    for (const CLI::Option* option : command.get_options()) {
        if (option->count() == 0 || option->get_type_size() == 0) continue;  // not given, or a flag
        for (const std::string& value : option->results())
            if (value.empty())
                throw CLI::ValidationError(option->get_name(), "takes a value, and an empty one is none");
    }
}

// ---- Signals ----

volatile sig_atomic_t interrupted_by = 0;

namespace {

void (*interrupt_hook)(int) = nullptr;

void on_interrupt(int signal_number) {
    interrupted_by = signal_number;
    if (interrupt_hook != nullptr) interrupt_hook(signal_number);
}

}  // namespace

void install_interrupt_handlers(void (*hook)(int)) {
    interrupt_hook = hook;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a signal ends a sleep or a wait for the port at once
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

// ---- The port ----

const char PORT_OPTION_HELP[] =
    "The port: sim (the simulated device, default; sim:bus with UART, SPI and I2C traffic on "
    "its logic inputs 0..7, sim:unplugged with no device on the cable), a ppdev device such as "
    "/dev/parport0 (a user in the lp group), or 0x378, 0x278, 0x3BC (raw port I/O, root)";

bool parse_port_option(const std::string& text, port_choice& port) {
    const std::string name = lower_case(text);
    if (name == "sim" || name == "sim:bus" || name == "sim:unplugged") {
        port = {port_choice::simulated, "", simulated_device::BASE_ADDRESS};
        port.bus_signals = name == "sim:bus";
        port.unplugged = name == "sim:unplugged";
        return true;
    }
    if (text.find('/') != std::string::npos) {
        port = {port_choice::ppdev, text, LPT1_ADDRESS};
        return true;
    }
    const std::string lower = lower_case(text);
    const struct {
        const char* name;
        uint16_t base;
    } addresses[] = {{"0x378", LPT1_ADDRESS}, {"0x278", LPT2_ADDRESS}, {"0x3bc", LPT3_ADDRESS}};
    for (const auto& a : addresses) {
        if (lower == a.name) {
            port = {port_choice::raw, "", a.base};
            return true;
        }
    }
    return false;
}

bool plan_trace(const std::string& trace_path, output_plan& plan) {
    if (trace_path.empty()) return false;
    file_failure failure;
    if (!plan_output(trace_path, plan, failure)) error_handler(failure.code, "port_trace", failure.what.c_str());
    return true;
}

namespace {

simulated_device device;  // both sample memories: static storage
std::optional<ppdev_port_bus> ppdev_bus;
std::optional<raw_port_bus> raw_bus;
int ppdev_fd = -1;
std::optional<tracing_port_bus> trace_bus;
output_file trace_out;
std::FILE* trace_file = nullptr;

void say_port_held(const char* path, void*) {
    print_message("waiting for %s, held by another program (Ctrl+C ends the wait)", path);
}

}  // namespace

void set_simulated_instant(bool instant) { device.set_instant(instant); }

void open_port(const port_choice& port, const output_plan* trace, double wait_seconds) {
    char message[512];
    port_bus* bus = nullptr;
    switch (port.kind) {
    case port_choice::simulated:
        device.set_signals(port.bus_signals ? sim_signals::bus : sim_signals::standard);
        device.set_failure(port.unplugged ? sim_failure::nothing_attached : sim_failure::none);
        bus = &device;
        break;
    case port_choice::ppdev: {
        port_wait wait;
        wait.bound_seconds = wait_seconds;
        wait.interrupted = &interrupted_by;
        wait.notice = say_port_held;
        port_open_result result = port_open_result::failed;
        ppdev_fd = open_ppdev(port.path.c_str(), system_port_request, wait, result, message, sizeof message);
        if (result == port_open_result::busy) {
            print_message("%s", message);
            std::exit(EXIT_PORT_BUSY);
        }
        if (result == port_open_result::interrupted) {
            print_message("%s", message);
            std::exit(EXIT_INTERRUPTED);
        }
        if (ppdev_fd < 0) {
            error_handler(13, "open_port", message);
            return;
        }
        ppdev_bus.emplace(ppdev_fd, port.base, system_port_request);
        bus = &*ppdev_bus;
        break;
    }
    case port_choice::raw: {
        raw_port_functions functions = system_raw_port_functions();
        if (!open_raw_port(port.base, functions, message, sizeof message)) {
            error_handler(13, "open_port", message);
            return;
        }
        raw_bus.emplace(functions);
        bus = &*raw_bus;
        break;
    }
    }
    port_address = port.base;
    if (trace != nullptr) {
        file_failure failure;
        if (!open_output(*trace, trace_out, false, failure)) {
            close_port();
            error_handler(failure.code, "port_trace", failure.what.c_str());
            return;
        }
        trace_file = output_stream(trace_out);
        trace_bus.emplace(*bus, port.base, trace_file);
        bus = &*trace_bus;
    }
    set_port_bus(bus);
}

bool port_failed(std::string& message) {
    if (!ppdev_bus || ppdev_bus->failed_request() == nullptr) return false;
    message = std::string("the port driver refused ") + ppdev_bus->failed_request() + ": " +
              std::strerror(ppdev_bus->failed_errno()) + " (was the port removed?)";
    return true;
}

void check_port_failures() {
    std::string message;
    if (port_failed(message)) error_handler(13, "port_bus", message.c_str());
}

bool close_port() {
    set_port_bus(nullptr);
    bool written = true;
    if (trace_file != nullptr) {
        trace_file = nullptr;
        trace_bus.reset();
        file_failure failure;
        written = commit_output(trace_out, failure);
        if (!written) print_report_line(failure.code, "port_trace", failure.what + "; the trace is not complete");
    }
    if (ppdev_fd >= 0) {
        close_ppdev(ppdev_fd, system_port_request);
        ppdev_fd = -1;
        ppdev_bus.reset();
    }
    raw_bus.reset();
    return written;
}

void add_port_options(CLI::App& command, std::string& port, std::string& trace, double& port_wait) {
    command.add_option("--port", port, PORT_OPTION_HELP)
        ->default_val("sim")
        ->check(CLI::Validator(
            [](std::string& text) {
                port_choice port;
                if (parse_port_option(text, port)) return std::string();
                return "'" + text + "' is not a port: use sim, a ppdev device such as /dev/parport0, "
                                    "or one of 0x378, 0x278, 0x3BC";
            },
            "sim|/dev/parportN|0x378|0x278|0x3BC"));
    command.add_option("--port-wait", port_wait,
                       "How long to wait for a ppdev port that another program holds (exit status 75 after it)")
        ->check(seconds_value(true))
        ->type_name("SECONDS")
        ->capture_default_str();
    command.add_option("--trace", trace,
                       "Write every port access as a line (address, in/out, value, what it is for) to "
                       "FILE, or to standard output with -")
        ->type_name("FILE|-");
}
