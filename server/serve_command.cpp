#include "server/serve_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include <time.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/error_handler.h"
#include "app/error_presentation.h"
#include "services/exit_status.h"
#include "services/interrupts_linux.h"
#include "services/channel_settings.h"
#include "services/port_setup_linux.h"
#include "services/report_line.h"
#include "services/text_values.h"
#include "services/protocol_decode_srd.h"
#include "hardware/port.h"
#include "server/http_server.h"
#include "server/instrument.h"
#include "server/request_text.h"
#include "server/save_folder.h"

namespace {

instrument* reporting_to = nullptr;

// The core's reports during a run go to the pages as well as to the terminal.
struct server_presentation final : error_presentation {
    void show_box(const char*, const char*, box_icon) override {}
    void show_report(int32_t code, int32_t level, const char* function_name, const char* additional_info,
                     const char*, const char*, box_icon) override {
        print_report_line(code, function_name, additional_info);
        if (reporting_to != nullptr && level < 5) reporting_to->report({code, level, "", function_name, additional_info});
    }
    void post_quit() override {}
};
server_presentation presentation;

// "ADDR:PORT" as an IPv4 address and a port.
bool parse_listen(const std::string& text, std::string& host, int& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || text[0] == '[') return false;
    host = text.substr(0, colon);
    const std::string number = text.substr(colon + 1);
    if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos) return false;
    port = std::stoi(number);
    if (port > 65535) return false;
    unsigned a, b, c, d;
    char end;
    if (host == "localhost") host = "127.0.0.1";
    return std::sscanf(host.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) == 4 && a < 256 && b < 256 && c < 256 &&
           d < 256;
}

std::string random_token() {
    std::random_device random;
    char text[33];
    for (int i = 0; i < 32; i += 8) std::snprintf(text + i, 9, "%08x", random());
    return text;
}

// The token of --token file: its first line, without the white space and line end that
// editors leave; empty with the message for a token that cannot be used.
std::string token_from_file(const std::string& path, std::string& message, int& status) {
    std::ifstream in(path);
    std::string token;
    if (!in || !std::getline(in, token)) {
        message = path + ": " + (in.eof() ? std::string("the file is empty") : std::strerror(errno));
        status = in.eof() ? EXIT_USAGE : EXIT_FILE;
        return "";
    }
    token.erase(token.find_last_not_of(" \t\r\n\v\f") + 1);
    status = EXIT_USAGE;
    if (!url_safe(token)) {
        message = "--token-file: the token in " + path + " holds characters other than letters, digits, '-', '.', "
                  "'_' and '~', which do not pass through an address or a cookie unchanged";
        return "";
    }
    if (token.size() < 16) {
        message = "--token-file: the token in " + path + " is shorter than 16 characters";
        return "";
    }
    status = 0;
    return token;
}

// Every connection takes a descriptor: the soft limit goes up to the hard one, so that the
// connection bounds, not the descriptors, decide.
void raise_descriptor_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

size_t descriptors_available() {
    rlimit limit{};
    return getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY ? static_cast<size_t>(limit.rlim_cur)
                                                                                    : 1 << 20;
}

}  // namespace

CLI::App* add_serve_command(CLI::App& app, serve_options& o) {
    CLI::App* c = app.add_subcommand("serve", "The instrument in a browser: capture settings, Single, Normal and Auto "
                                              "runs, the window's view with zoom, pan, cursors and measurements, "
                                              "downloads in every format, for every page that is open");
    c->add_option("--port", o.port, PORT_OPTION_HELP)
        ->default_val("sim")
        ->check(CLI::Validator(
            [](std::string& text) {
                port_choice port;
                return parse_port_option(text, port) ? std::string() : "'" + text + "' is not a port: use sim, a "
                                                                                    "ppdev device such as "
                                                                                    "/dev/parport0, or 0x378, 0x278, 0x3BC";
            },
            "sim|/dev/parportN|0x378|0x278|0x3BC"));
    c->add_option("--port-wait", o.port_wait, "How long to wait for a ppdev port that another program holds")
        ->check(CLI::Validator([](std::string& text) { return seconds_refusal(text, true); }, "SECONDS"))
        ->type_name("SECONDS")
        ->capture_default_str();
    c->add_option("--listen", o.listen, "The IPv4 address and port to listen on; any address but 127.0.0.1 asks "
                                        "every request for the access token")
        ->type_name("ADDR:PORT")
        ->capture_default_str();
    c->add_option("--save-dir", o.save_dir, "Also write every capture into this folder, as korvane-NNNNNN.dso")
        ->type_name("DIR");
    c->add_option("--token-file", o.token_file, "Read the access token from the first line of this file instead of "
                                                "making a new one at every start")
        ->type_name("FILE");
    c->add_option("--config", o.config, "Keep the channel settings (labels, colours, scales) in this file instead of "
                                        "$XDG_CONFIG_HOME/korvane/channels.json (~/.config/korvane/channels.json)")
        ->type_name("FILE");
    c->add_option("--max-pages", o.max_pages, "How many pages may watch the instrument at once")
        ->check(CLI::Range(size_t{1}, size_t{100000}))
        ->capture_default_str();
    c->add_option("--max-per-address", o.max_per_address, "How many connections one address may hold open, its "
                                                          "pages included")
        ->check(CLI::Range(size_t{1}, size_t{100000}))
        ->capture_default_str();
    c->add_option("--request-timeout", o.request_seconds, "How long a request may take to arrive, its headers and "
                                                          "body together; a connection idle that long is closed")
        ->check(CLI::Range(0.5, 3600.0))
        ->type_name("SECONDS")
        ->capture_default_str();
    c->add_option("--decode-queue", o.decode_queue, "How many decodes may wait for the decoders; past it a "
                                                    "request is answered 503, to be asked again")
        ->check(CLI::Range(size_t{1}, size_t{1000}))
        ->capture_default_str();
    c->add_option("--compress", o.compress, "Send downloads in gzip to a browser that takes it: auto (to other "
                                            "machines only; on this one the bytes cost more to pack than to send), "
                                            "always, or never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();
    c->add_flag("-v,--verbose", o.verbose, "Print a failing decoder's whole Python traceback on the server's output");
    c->add_flag("--instant", o.instant, "The simulated device completes a capture as soon as its samples exist, "
                                        "not in real time (for tests and benchmarks)");
    c->footer("Open the address it prints. Ctrl+C or SIGTERM ends it: a capture waiting for its trigger is "
              "cancelled and the port released.\nExit status: 0 ended by a signal; 2 a bad command line; 5 the "
              "save folder or token file cannot be used; 10 the port; 75 the port stayed held by another "
              "program.\n");
    return c;
}

int run_serve_command(const serve_options& o) {
    std::string host;
    int listen_port = 0;
    if (!parse_listen(o.listen, host, listen_port)) {
        print_message("--listen: '%s' is not ADDR:PORT, an IPv4 address and a port such as 127.0.0.1:8080 or "
                      "0.0.0.0:8080",
                      o.listen.c_str());
        return EXIT_USAGE;
    }
    save_folder folder;
    if (!o.save_dir.empty()) {
        std::string message;
        if (!folder.open(o.save_dir, message)) {
            print_report_line(9, "serve", message);
            return EXIT_FILE;
        }
    }
    server_options options;
    options.host = host;
    options.port = listen_port;
    if (host != "127.0.0.1") {
        if (o.token_file.empty()) {
            options.token = random_token();
        } else {
            std::string message;
            int status = 0;
            options.token = token_from_file(o.token_file, message, status);
            if (status == EXIT_FILE) {
                print_report_line(8, "serve", message);
                return EXIT_FILE;
            }
            if (status != 0) {
                print_message("%s", message.c_str());
                return EXIT_USAGE;
            }
        }
    }
    raise_descriptor_limit();
    options.max_pages = o.max_pages;
    options.max_per_address = o.max_per_address;
    // Descriptors are kept for the port, the save folder and the decoders' files.
    options.max_connections = std::max<size_t>(16, std::min<size_t>(4096, descriptors_available() - 64));
    options.request_seconds = o.request_seconds;
    options.decode_queue = o.decode_queue;
    options.verbose = o.verbose;
    options.compress = o.compress == "always" ? server_options::compression::always
                       : o.compress == "never" ? server_options::compression::never
                                               : server_options::compression::automatic;
    set_decode_verbose(o.verbose);

    // Captures and pictures are large blocks: they go back to the system when they are freed,
    // whichever thread freed them, so that the server's memory stays that of its history.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_ARENA_MAX, 4);

    port_choice port;
    parse_port_option(o.port, port);
    install_interrupt_handlers(nullptr);
    set_simulated_instant(o.instant);
    open_port(port, nullptr, o.port_wait);
    set_port_address(port.base, false);
    if (!check_bidirectional())
        error_handler(10, "check_bidirectional",
                      (o.port + ": the port reads back its own latch; set it to a bidirectional mode (PS/2, EPP or "
                                "ECP) in the BIOS set-up")
                          .c_str());
    check_port_failures();

    // The channel settings: a file that cannot be read or is damaged leaves the defaults, and
    // is written only when a page changes them.
    const std::string channels_path = o.config.empty() ? default_channel_settings_path() : o.config;
    channel_settings channels = default_channel_settings();
    if (channels_path.empty()) {
        print_message("warning: neither XDG_CONFIG_HOME nor HOME is set: the channel settings are kept until the "
                      "server ends (give --config FILE to keep them)");
    } else {
        std::string message;
        const int read = read_channel_settings_file(channels_path, channels, message);
        if (read == 2 || read == 5)
            print_message("warning: %s; the channel settings are the defaults until a page changes them, which "
                          "replaces the file",
                          message.c_str());
    }
    instrument device(o.port, o.save_dir, folder.is_open() ? &folder : nullptr, channels, channels_path);
    reporting_to = &device;
    set_error_presentation(&presentation);
    http_server server;
    std::string message;
    if (!server.start(device, options, message)) {
        print_message("%s", message.c_str());
        device.shut_down();
        close_port();
        return EXIT_USAGE;
    }
    const std::string shown_host = host == "0.0.0.0" ? [] {
        char name[256] = "";
        return gethostname(name, sizeof name - 1) == 0 && name[0] ? std::string(name) : std::string("127.0.0.1");
    }() : host;
    std::string url = "http://" + shown_host + ":" + std::to_string(server.port()) + "/";
    if (!options.token.empty()) url += "?token=" + options.token;
    std::printf("Korvane is at %s\n", url.c_str());
    if (host == "0.0.0.0") std::printf("(from this machine: http://127.0.0.1:%d/%s)\n", server.port(),
                                       options.token.empty() ? "" : ("?token=" + options.token).c_str());
    std::printf("Ctrl+C ends it.\n");
    std::fflush(stdout);

    while (interrupted_by == 0) {
        struct timespec pause = {0, 100000000};
        nanosleep(&pause, nullptr);
    }
    std::fprintf(stderr, "%s: ending: the run is stopped and the port released\n", PROGRAM_NAME);
    device.shut_down();
    server.stop();
    reporting_to = nullptr;
    close_port();
    return 0;
}
