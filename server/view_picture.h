// The page's view: the window's paint of a capture with a view of its own, as a PNG made for speed
// (the same pixels as korvane-cli render's picture, compressed lightly), for the picture
// that follows every zoom and pan.
#pragma once
#include <cstdint>
#include <string>

#include "services/picture_cairo.h"
#include "services/protocol_decode_srd.h"

// false when the picture could not be drawn or encoded.
bool render_view_png(const picture_subject& subject, std::string& png);

// The rows of decoded annotations alone, as render --decode draws them under the subject's
// picture: the page shows them under the view.
bool render_rows_png(const decode_result& decoded, const picture_subject& subject, std::string& png);
