// Pictures of a capture through cairo (PNG, SVG, PDF): the window's paint of a record with a
// view of its own, as render writes them and the server sends them, with rows of decoded
// annotations below where asked for. Nothing here touches the window's record or view, so
// that several pictures of different captures are drawn at once.
#pragma once
#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>

#include "capture/dso_structure.h"
#include "display/view_range.h"
#include "services/formats.h"

struct decode_result;

enum class picture_format { png, svg, pdf };

// The client area a picture takes: the window's minimum, and the widest and tallest cairo
// draws.
constexpr int32_t MIN_PICTURE_WIDTH = 300;
constexpr int32_t MIN_PICTURE_HEIGHT = 400;
constexpr int32_t MAX_PICTURE_SIDE = 32767;

// What is wrong with a size text WIDTHxHEIGHT for a picture of the format (no size, below the
// window's minimum, beyond what the picture's memory allows), or empty with the size read.
std::string picture_size_refusal(const std::string& text, output_format format, int32_t& width, int32_t& height);

// A picture as the window's commands would leave it: the file's whole capture, then View Mode,
// View Range, a zoom or pan step, and the preferences.
struct picture_request {
    output_format format = output_format::png;  // png, svg or pdf
    int32_t width = 800;
    int32_t height = 600;
    bool has_range = false;
    int32_t first = 0;  // as typed, before the view range's rules
    int32_t last = 0;
    std::string range_text;  // for the refusal of a range that shows nothing
    int8_t mode = -1;        // -1: the record's own
    int step = -1;           // ZOOM_IN, ZOOM_OUT, PAN_RIGHT or PAN_LEFT after the range; -1: none
    display_preferences_flags preferences = {1, 0, 1, 1};
};

// What a picture draws: a record (the one given, or a copy under another mode), its view, the
// client area.
struct picture_subject {
    const dso_record* record = nullptr;
    std::shared_ptr<const dso_record> viewed;  // the copy, when the mode is not the record's own
    record_view view{0, 0, {1, 0, 1, 1}};
    int32_t width = 800;
    int32_t height = 600;
};

// The subject of a picture of the record (read from name): 0, or the exit status (1 a damaged
// header, 2 a range that shows nothing) with the message to give.
int prepare_picture(const std::string& name, const dso_record& record, const picture_request& request,
                    picture_subject& subject, std::string& message);

// Draws the subject onto a surface of its size: lines on the pixels GDI covers (pixels) or as
// vector paths. false when cairo failed.
bool paint_on_surface(cairo_surface_t* surface, const picture_subject& subject, bool pixels);

// Draws the subject, with the rows of decoded annotations below it when there are any (the
// picture then grows by their height), and writes it in the format through write. Returns
// false when cairo or write failed; every status is checked.
bool render_picture(picture_format format, const picture_subject& subject, cairo_write_func_t write, void* closure,
                    const decode_result* decoded = nullptr);
