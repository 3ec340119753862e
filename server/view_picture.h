// The page's view: the window's paint of the record as it stands, as a PNG made for speed
// (the same pixels as korvane-cli render's picture, compressed lightly), for the picture
// that follows every zoom and pan.
#pragma once
#include <cstdint>
#include <string>

#include "cli/protocol_decode.h"

// false when the picture could not be drawn or encoded.
bool render_view_png(int32_t width, int32_t height, std::string& png);

// The rows of decoded annotations alone, width wide, as render --decode draws them under a
// width x height picture of the record as it stands: the page shows them under the view.
bool render_rows_png(const decode_result& decoded, int32_t width, int32_t height, std::string& png);
