#include "cli/terminal.h"

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

namespace {

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

void print_header_damage(const std::string& path, const std::string& damage) {
    print_message("%s: not a capture this program wrote, or a damaged one: %s", input_name(path).c_str(),
                  damage.c_str());
}

// ---- Options ----

CLI::Validator whole_number(long long min, long long max) {
    const std::string range = std::to_string(min) + ".." + std::to_string(max);
    return CLI::Validator(
        [min, max](std::string& text) { return whole_number_refusal(text, min, max); },
        range);
}

CLI::Validator seconds_value(bool zero_allowed) {
    return CLI::Validator(
        [zero_allowed](std::string& text) { return seconds_refusal(text, zero_allowed); },
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

void add_port_options(CLI::App& command, std::string& port, std::string& trace, double& port_wait) {
    command.add_option("--port", port, PORT_OPTION_HELP)
        ->default_val("sim")
        ->check(CLI::Validator(
            [](std::string& text) { return port_refusal(text); },
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

int read_channels_config(const std::string& path, channel_settings& out) {
    std::string message;
    const int read = read_channel_settings_file(path, out, message);
    if (read == 0) return EXIT_SUCCESS_STATUS;
    print_message("--channels-config: %s", message.c_str());
    return read == 2 ? EXIT_USAGE : EXIT_FILE;
}
