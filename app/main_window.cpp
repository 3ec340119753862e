// The main window: class, creation, message loop and the command table.
#include "app/error_handler.h"
#include "app/shell_win32.h"
#include "capture/csv_export.h"
#include "capture/dso_file.h"
#include "capture/dso_structure.h"
#include "diagnostics/offset_correct.h"
#include "display/view_range.h"
#include "hardware/capture_sequence.h"

#include <commdlg.h>

HINSTANCE app_instance;
const char MAIN_WINDOW_CLASS[] = "KorvaneSoftware";

namespace {

constexpr int MIN_TRACK_WIDTH = 300;
constexpr int MIN_TRACK_HEIGHT = 400;
constexpr DWORD FILE_NAME_CHARS = 512;

enum class file_kind { capture, csv };

// Shows the system's open or save dialog; true with the chosen name in name, false when
// the user cancelled or the dialog failed.
bool choose_file(HWND owner, file_kind kind, bool save, char (&name)[FILE_NAME_CHARS]) {
    name[0] = '\0';
    OPENFILENAMEA ofn;
    ZeroMemory(&ofn, sizeof ofn);
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;  // without the Windows 2000 additions
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kind == file_kind::capture ? "DSO Data Files (*.dso)\0*.dso\0"
                                                 : "CSV File (*.csv)\0*.csv\0";
    ofn.lpstrFile = name;
    ofn.nMaxFile = FILE_NAME_CHARS;
    ofn.lpstrDefExt = kind == file_kind::capture ? "dso" : "csv";
    ofn.Flags = save ? OFN_HIDEREADONLY : OFN_HIDEREADONLY | OFN_FILEMUSTEXIST;
    return (save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn)) != FALSE;
}

void modal_dialog(HWND window, int template_id, DLGPROC procedure) {
    DialogBoxParamA(app_instance, MAKEINTRESOURCEA(template_id), window, procedure, 0);
}

LRESULT on_command(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    char name[FILE_NAME_CHARS];
    switch (LOWORD(wparam)) {
    case CMD_EXIT:
        PostQuitMessage(0);
        break;
    case CMD_SAVE_AS:
        if (choose_file(window, file_kind::capture, true, name)) save_dso_structure(name);
        break;
    case CMD_DATA_CAPTURE:
        modal_dialog(window, IDD_CAPTURE_SETTINGS, capture_settings_message_handler);
        break;
    case CMD_OPEN:
        if (choose_file(window, file_kind::capture, false, name)) {
            load_dso_structure(name);
            reset_view_range();
            repaint(window);
        }
        break;
    case CMD_ABOUT:
        modal_dialog(window, IDD_ABOUT, about_message_handler);
        break;
    case CMD_EXPORT_CSV:
        if (choose_file(window, file_kind::csv, true, name)) export_csv_file(name);
        break;
    case CMD_ZOOM_IN:
        zoom_pan_view(window, ZOOM_IN);
        break;
    case CMD_ZOOM_OUT:
        zoom_pan_view(window, ZOOM_OUT);
        break;
    case CMD_PAN_RIGHT:
        zoom_pan_view(window, PAN_RIGHT);
        break;
    case CMD_PAN_LEFT:
        zoom_pan_view(window, PAN_LEFT);
        break;
    case CMD_REFRESH:
        repaint(window);
        break;
    case CMD_VIEW_RANGE:
        modal_dialog(window, IDD_VIEW_RANGE, view_range_message_handler);
        break;
    case CMD_SELECT_PORT:
        modal_dialog(window, IDD_PORT_SELECT, port_select_message_handler);
        break;
    case CMD_VIEW_MODE:
        modal_dialog(window, IDD_VIEW_MODE, view_mode_message_handler);
        break;
    case CMD_COPY_A_TO_B:
        copy_a_to_b();
        repaint(window);
        break;
    case CMD_COPY_B_TO_A:
        copy_b_to_a();
        repaint(window);
        break;
    case CMD_SWAP_A_AND_B:
        swap_channels();
        repaint(window);
        break;
    case CMD_REREAD_FIFO_A:
        reread_fifo(true);
        repaint(window);
        break;
    case CMD_REREAD_FIFO_B:
        reread_fifo(false);
        repaint(window);
        break;
    case CMD_HARDWARE_IO:
        modal_dialog(window, IDD_HARDWARE_IO, hardware_io_message_handler);
        break;
    case CMD_PREFERENCES:
        modal_dialog(window, IDD_PREFERENCES, preferences_message_handler);
        break;
    case CMD_OFFSET_CORRECT:
        if (offset_correct() == 1)
            error_handler(15, "main_window_message_handler", "");
        else
            repaint(window);
        break;
    case CMD_CAPTURE_STARTED:
        EnableWindow(window, FALSE);  // no command reaches the record while a capture runs
        break;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
    return 0;
}

}  // namespace

void repaint(HWND window) { InvalidateRect(window, nullptr, TRUE); }

LRESULT CALLBACK main_window_message_handler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint_information;
        BeginPaint(window, &paint_information);
        paint_display(window, paint_information);
        EndPaint(window, &paint_information);
        EnableMenuItem(GetMenu(window), CMD_OFFSET_CORRECT,
                       MF_BYCOMMAND | (dso_structure.capture_mode == MODE_SINGLE ? MF_ENABLED : MF_GRAYED));
        return 0;
    }
    case WM_GETMINMAXINFO: {
        MINMAXINFO* limits = reinterpret_cast<MINMAXINFO*>(lparam);
        limits->ptMinTrackSize.x = MIN_TRACK_WIDTH;
        limits->ptMinTrackSize.y = MIN_TRACK_HEIGHT;
        return 0;
    }
    case WM_COMMAND:
        return on_command(window, message, wparam, lparam);
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

HWND create_main_window(int show_command) {
    WNDCLASSEXA window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_message_handler;
    window_class.hInstance = app_instance;
    window_class.hIcon = LoadIconA(app_instance, MAKEINTRESOURCEA(IDI_KORVANE));
    window_class.hIconSm = static_cast<HICON>(LoadImageA(app_instance, MAKEINTRESOURCEA(IDI_KORVANE_SMALL), IMAGE_ICON,
                                                         GetSystemMetrics(SM_CXSMICON),
                                                         GetSystemMetrics(SM_CYSMICON), 0));
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    window_class.hbrBackground = nullptr;  // the paint covers the whole client area
    window_class.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    window_class.lpszClassName = MAIN_WINDOW_CLASS;
    RegisterClassExA(&window_class);

    HWND window = CreateWindowExA(0, MAIN_WINDOW_CLASS, "Korvane", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, app_instance, nullptr);
    if (window != nullptr) {
        ShowWindow(window, show_command);
        UpdateWindow(window);  // the first paint also sets the Offset Correct item's state
    }
    return window;
}

int run_message_loop(int show_command) {
    HWND window = create_main_window(show_command);
    if (window == nullptr) return 1;
    HACCEL accelerators = LoadAcceleratorsA(app_instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) DispatchMessageA(&message);
    }
    return 0;
}

void zoom_pan_view(HWND window, int command) {
    zoom_pan_range(command);
    repaint(window);
}
