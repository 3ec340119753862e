#include "cli/cli_common.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>

#include <sys/stat.h>

#include "app/error_handler.h"
#include "app/error_presentation.h"
#include "capture/dso_file.h"
#include "capture/dso_structure.h"
#include "hardware/port.h"
#include "hardware/port_bus_linux.h"
#include "hardware/port_trace.h"
#include "simulator/simulated_device.h"

namespace {

struct terminal_presentation final : error_presentation {
    int warnings = 0;
    void show_box(const char* caption, const char* text, box_icon icon) override {
        if (icon == box_icon::warning) ++warnings;
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n%s\n", PROGRAM_NAME, caption, text);
        std::fflush(stderr);
    }
    void post_quit() override {}
};

terminal_presentation presentation;

}  // namespace

void install_cli_error_presentation() { set_error_presentation(&presentation); }

int warnings_reported() { return presentation.warnings; }

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

void load_capture(const std::string& path) {
    char info[600];
    const char* name = path.c_str();
    struct stat file;
    if (stat(name, &file) != 0) {
        std::snprintf(info, sizeof info, "%s: %s", name, std::strerror(errno));
        error_handler(9, "load_dso_structure", info);
        return;
    }
    if (S_ISDIR(file.st_mode)) {
        std::snprintf(info, sizeof info, "%s is a directory, not a .dso capture file", name);
        error_handler(9, "load_dso_structure", info);
        return;
    }
    if (!S_ISREG(file.st_mode)) {
        std::snprintf(info, sizeof info, "%s is not a regular file, not a .dso capture file", name);
        error_handler(9, "load_dso_structure", info);
        return;
    }
    if (static_cast<uint64_t>(file.st_size) < DSO_IMAGE_SIZE) {
        std::snprintf(info, sizeof info, "%s holds %lld bytes; a .dso capture file holds %zu", name,
                      static_cast<long long>(file.st_size), DSO_IMAGE_SIZE);
        error_handler(8, "load_dso_structure", info);
        return;
    }
    if (static_cast<uint64_t>(file.st_size) > DSO_IMAGE_SIZE)
        print_message("note: %s holds %lld bytes; only its first %zu are the capture", name,
                      static_cast<long long>(file.st_size), DSO_IMAGE_SIZE);
    load_dso_structure(name);
}

const std::vector<std::string> MODE_OPTION_NAMES = {"dual", "single", "logic16", "mixed"};

const char* mode_option_name(int8_t mode) {
    return mode >= MODE_DUAL && mode <= MODE_MIXED ? MODE_OPTION_NAMES[static_cast<size_t>(mode)].c_str()
                                                   : nullptr;
}

int8_t mode_from_option_name(const std::string& name) {
    for (size_t i = 0; i < MODE_OPTION_NAMES.size(); ++i)
        if (MODE_OPTION_NAMES[i] == name) return static_cast<int8_t>(i);
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

const char PORT_OPTION_HELP[] =
    "The port: sim (the simulated device, default), a ppdev device such as /dev/parport0 (a "
    "user in the lp group), or 0x378, 0x278, 0x3BC (raw port I/O, root)";

bool parse_port_option(const std::string& text, port_choice& port) {
    if (text == "sim") {
        port = {port_choice::simulated, "", simulated_device::BASE_ADDRESS};
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

namespace {

simulated_device device;  // both sample memories: static storage
std::optional<ppdev_port_bus> ppdev_bus;
std::optional<raw_port_bus> raw_bus;
int ppdev_fd = -1;
std::optional<tracing_port_bus> trace_bus;
std::FILE* trace_file = nullptr;
std::string trace_name;
char trace_buffer[1 << 16];

}  // namespace

void set_simulated_instant(bool instant) { device.set_instant(instant); }

void open_port(const port_choice& port, const std::string& trace_path) {
    char message[512];
    port_bus* bus = nullptr;
    switch (port.kind) {
    case port_choice::simulated:
        bus = &device;
        break;
    case port_choice::ppdev:
        ppdev_fd = open_ppdev(port.path.c_str(), system_port_request, message, sizeof message);
        if (ppdev_fd < 0) {
            error_handler(13, "open_port", message);
            return;
        }
        ppdev_bus.emplace(ppdev_fd, port.base, system_port_request);
        bus = &*ppdev_bus;
        break;
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
    if (!trace_path.empty()) {
        trace_name = trace_path == "-" ? "standard output" : trace_path;
        trace_file = trace_path == "-" ? stdout : std::fopen(trace_path.c_str(), "w");
        if (trace_file == nullptr) {
            char info[600];
            std::snprintf(info, sizeof info, "%s: %s", trace_path.c_str(), std::strerror(errno));
            error_handler(9, "open_trace", info);
            return;
        }
        std::setvbuf(trace_file, trace_buffer, _IOFBF, sizeof trace_buffer);
        trace_bus.emplace(*bus, port.base, trace_file);
        bus = &*trace_bus;
    }
    set_port_bus(bus);
}

void check_port_failures() {
    if (!ppdev_bus || ppdev_bus->failed_request() == nullptr) return;
    char info[300];
    std::snprintf(info, sizeof info, "the port driver refused %s: %s (was the port removed?)",
                  ppdev_bus->failed_request(), std::strerror(ppdev_bus->failed_errno()));
    error_handler(13, "port_bus", info);
}

void close_port() {
    set_port_bus(nullptr);
    if (trace_file != nullptr) {
        bool written = trace_bus->ok();
        written = std::fflush(trace_file) == 0 && written;
        if (trace_file != stdout) written = std::fclose(trace_file) == 0 && written;
        if (!written) print_message("the trace could not be written completely to %s", trace_name.c_str());
        trace_file = nullptr;
        trace_bus.reset();
    }
    if (ppdev_fd >= 0) {
        close_ppdev(ppdev_fd, system_port_request);
        ppdev_fd = -1;
        ppdev_bus.reset();
    }
    raw_bus.reset();
}

void add_port_options(CLI::App& command, std::string& port, std::string& trace) {
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
    command.add_option("--trace", trace,
                       "Write every port access as a line (address, in/out, value, what it is for) to "
                       "FILE, or to standard output with -")
        ->type_name("FILE|-");
}
