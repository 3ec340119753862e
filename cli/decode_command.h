// korvane-cli decode: what the bus said, through the field's protocol decoders.
#pragma once
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

struct decode_options {
    std::string file;                  // "-": standard input
    std::vector<std::string> stacks;   // each -P
    std::vector<std::string> filters;  // each -A
    std::string range;
    bool json = false;
    bool list = false;
    std::string show;
    bool verbose = false;  // a failing decoder's traceback on standard error
};

CLI::App* add_decode_command(CLI::App& app, decode_options& options);
int run_decode_command(const decode_options& options);
