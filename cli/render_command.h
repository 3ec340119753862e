// korvane-cli render: a picture of a capture (PNG, SVG or PDF), drawn by the window's own
// paint on a cairo canvas.
#pragma once
#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "services/capture_writers.h"
#include "services/picture_cairo.h"

struct render_options {
    std::string file;
    std::string output;
    std::string size = "800x600";
    std::string range;  // FIRST:LAST; empty: the whole capture
    std::string mode;   // empty: the file's own
    bool time_axis = false;
    bool no_pretrigger_marker = false;
    bool no_trigger_level = false;
    std::vector<std::string> decode;  // decoder stacks as -P gives them, drawn as rows below the lanes
    std::vector<std::string> annotations;  // which of their annotations, as decode -A takes them
    std::string xy;               // "A,B": the XY figure of two channels instead of the window's picture
    std::string math;             // the math channel M's expression, for --xy M,A
    std::string channels_config;  // --xy: axes in the channels' units
};

struct render_settings {
    output_format format;  // png, svg or pdf
    int32_t width;
    int32_t height;
    bool has_range;
    int32_t first;  // as typed, before the view range's rules
    int32_t last;
    int8_t mode;  // -1: the file's own
    int step = -1;  // ZOOM_IN, ZOOM_OUT, PAN_RIGHT or PAN_LEFT after the range; -1: none
    bool zoom_while_panning = true;  // the window's preference
};

CLI::App* add_render_command(CLI::App& app, render_options& options);

// Reads --size WIDTHxHEIGHT for a picture of the format; throws CLI::ValidationError for a
// text that is no size, a size below the window's minimum or beyond what the picture's
// memory allows.
void parse_picture_size(const std::string& text, output_format format, int32_t& width, int32_t& height);

// The settings for the parsed options: the format from the output name, the size and the
// range read. A size below the window's minimum or beyond what the picture's memory allows,
// and any text that is no size, range or known extension, throw CLI::ValidationError naming
// the option.
render_settings render_settings_from_options(const render_options& options);

// The picture of the record (read from name) with the view range, mode and preferences the
// options set, as the window's commands do, and its decoded rows: 0, or the exit status (1 a
// damaged header, 2 a range that shows nothing) with the message to give.
int prepare_render(const std::string& name, const dso_record& record, const render_options& options,
                   const render_settings& settings, output_content& content, std::string& message);

// Loads the file, applies the mode, range and preferences as the window's commands do, and
// writes the picture in place of the output file at once, or not at all. Returns the exit
// status: 1 for a damaged header; a range the view range refuses, or an output that is the
// input, is a bad command line (2); file failures end the program with status 5.
int run_render_command(const render_options& options, const render_settings& settings);
