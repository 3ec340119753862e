// The Windows program's own paint of a capture as a BMP file: the record loaded, the mode,
// range and preferences applied as korvane-cli render applies them, and the paint drawn
// with the program's GDI canvas into a memory device context of the client area's size.
//   gdi_picture FILE.dso OUT.bmp WIDTHxHEIGHT [--mode dual|single|logic16|mixed]
//               [--range FIRST:LAST] [--time-axis] [--no-pretrigger-marker] [--no-trigger-level]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/dso_file.h"
#include "capture/dso_structure.h"
#include "display/gdi_canvas_win32.h"
#include "display/paint.h"
#include "display/view_range.h"

namespace {

int usage(const char* why) {
    std::fprintf(stderr, "gdi_picture: %s\n", why);
    return 2;
}

// Bottom-up 24-bit rows, as a BMP file holds them.
bool save_bmp(const char* name, HDC dc, HBITMAP bitmap, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD bytes = stride * static_cast<DWORD>(height);
    void* rows = std::malloc(bytes);
    if (rows == nullptr || GetDIBits(dc, bitmap, 0, height, rows, &info, DIB_RGB_COLORS) != height) {
        std::free(rows);
        return false;
    }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + bytes;
    std::FILE* out = std::fopen(name, "wb");
    bool ok = out != nullptr && std::fwrite(&file, sizeof file, 1, out) == 1 &&
              std::fwrite(&info.bmiHeader, sizeof(BITMAPINFOHEADER), 1, out) == 1 &&
              std::fwrite(rows, bytes, 1, out) == 1;
    if (out != nullptr) ok = std::fclose(out) == 0 && ok;
    std::free(rows);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage("give FILE.dso OUT.bmp WIDTHxHEIGHT [options]");
    int width = 0, height = 0;
    if (std::sscanf(argv[3], "%dx%d", &width, &height) != 2 || width < 1 || height < 1)
        return usage("the size is WIDTHxHEIGHT");

    load_dso_structure(argv[1]);
    reset_view_range();  // as after File, Open
    set_display_defaults();
    static const char* const modes[] = {"dual", "single", "logic16", "mixed"};
    for (int i = 4; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--mode") == 0 && i + 1 < argc) {
            const char* name = argv[++i];
            int mode = -1;
            for (int m = 0; m < 4; ++m)
                if (std::strcmp(name, modes[m]) == 0) mode = m;
            if (mode < 0) return usage("no such mode");
            dso_structure.capture_mode = static_cast<int8_t>(mode);  // as View Mode: the range stays
        } else if (std::strcmp(option, "--range") == 0 && i + 1 < argc) {
            int first = 0, last = 0;
            if (std::sscanf(argv[++i], "%d:%d", &first, &last) != 2 || set_view_range(first, last) == 0)
                return usage("not a range of this capture");
        } else if (std::strcmp(option, "--time-axis") == 0) {
            display_preferences.show_time_on_x_axis = 1;
        } else if (std::strcmp(option, "--no-pretrigger-marker") == 0) {
            display_preferences.show_pretrigger_position = 0;
        } else if (std::strcmp(option, "--no-trigger-level") == 0) {
            display_preferences.show_trigger_level = 0;
        } else {
            return usage("unknown option");
        }
    }

    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc == nullptr || bitmap == nullptr) return usage("no memory device context of that size");
    HGDIOBJ previous = SelectObject(dc, bitmap);
    {
        gdi_canvas surface(dc);
        paint_client(surface, 0, 0, width, height);
    }
    GdiFlush();
    SelectObject(dc, previous);
    const bool saved = save_bmp(argv[2], dc, bitmap, width, height);
    DeleteObject(bitmap);
    DeleteDC(dc);
    if (!saved) return usage("could not write the picture");
    return 0;
}
