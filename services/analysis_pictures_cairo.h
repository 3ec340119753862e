// Pictures of the analysis through cairo (PNG, SVG, PDF): the spectrum as a plot of level
// against frequency with its peaks marked, and the XY figure of two analogue channels (or of
// the math channel against one), each drawn square. As spectrum -o and render --xy write
// them.
#pragma once
#include <cairo.h>

#include <cstdint>
#include <string>

#include "capture/dso_structure.h"
#include "services/channel_settings.h"
#include "services/picture_cairo.h"
#include "services/spectrum_report.h"

// The spectrum: levels in dBFS (and the unit's dB on the right, where it has one) against
// frequency, linear or logarithmic; the peaks numbered, the fundamental and the noise floor
// marked. false when cairo or write failed.
bool spectrum_picture(picture_format format, const spectrum_report& report, int32_t width, int32_t height,
                      bool log_frequency, cairo_write_func_t write, void* closure);

// What render --xy draws: "A,B" (A across, B up), "M,A", "M,B"...
struct xy_request {
    char x = 'A', y = 'B';  // 'A', 'B' or 'M'
    std::string math;       // M's expression
};

// Reads "A,B", "B,A", "M,A", "A,M"...: false with the refusal.
bool parse_xy(const std::string& text, const std::string& math, xy_request& out, std::string& message);

// The XY figure of samples first..last of the record (Dual Channel, or Mixed Mode for M of B
// against B), each axis in its channel's unit where it has one, else in codes about 0x80:
// 0, or the exit status (1 a capture without those channels, 2 a request that is none) with
// the message.
int xy_picture(picture_format format, const std::string& name, const dso_record& record, const xy_request& request,
               const channel_settings* channels, int32_t first, int32_t last, int32_t side, cairo_write_func_t write,
               void* closure, std::string& message);
