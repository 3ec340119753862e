// The whole paint of the main window's client area through a canvas: background, plot
// areas by mode, traces, trigger overlays and axes.
#pragma once
#include <cstdint>

#include "display/canvas.h"

struct plot_area {
    int32_t x_left;
    int32_t y_top;
    int32_t x_right;
    int32_t y_bottom;
};

// Paints the client rectangle (left and top are 0) from the capture record over the view
// range with the display preferences.
void paint_client(canvas& surface, int32_t left, int32_t top, int32_t right, int32_t bottom);
