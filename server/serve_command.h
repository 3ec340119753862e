// korvane-cli serve: the instrument in a browser, on the bench PC or across the room.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

struct serve_options {
    std::string port = "sim";
    std::string trace;  // not offered: the trace of a server would be endless
    double port_wait = 10;
    std::string listen = "127.0.0.1:8080";
    std::string save_dir;
    std::string token_file;
    std::string config;  // the channel settings' file; empty: the user's configuration folder
    bool instant = false;  // the simulated device completes a capture at once (tests, benchmarks)
    bool verbose = false;  // the decoders' tracebacks on the server's output
    size_t max_pages = 64;
    size_t max_per_address = 128;
    double request_seconds = 10;
    size_t decode_queue = 4;
    std::string compress = "auto";
};

CLI::App* add_serve_command(CLI::App& app, serve_options& options);
int run_serve_command(const serve_options& options);
