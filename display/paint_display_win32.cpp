#include "app/shell_win32.h"
#include "display/gdi_canvas_win32.h"
#include "display/paint.h"

// The paint information of the paint in progress; valid only during a paint.
PAINTSTRUCT paint_dc;

void paint_display(HWND window, PAINTSTRUCT paint_information) {
    paint_dc = paint_information;
    RECT client;
    GetClientRect(window, &client);
    gdi_canvas surface(paint_dc.hdc);
    paint_client(surface, client.left, client.top, client.right, client.bottom);
}
