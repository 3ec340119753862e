// "DSO Data Capture": the modeless dialog that runs one capture on a thread of its own and
// shows "Waiting For Trigger", then "Downloading Captured Data" with a percentage.
#include "app/error_handler.h"
#include "app/shell_win32.h"
#include "capture/dso_structure.h"
#include "display/view_range.h"
#include "hardware/capture_services.h"
#include "hardware/capture_thread_win32.h"

#include <cstdio>

namespace {

// Set once the download has begun: from then on the capture cannot be cancelled, and a
// Cancel that was already on its way is ignored.
bool download_begun = false;

void finish(HWND dialog) {
    HWND main_window = GetParent(dialog);
    EnableWindow(main_window, TRUE);
    post_refresh_to_parent(dialog);
    DestroyWindow(dialog);
}

void open(HWND dialog) {
    PostMessageA(GetParent(dialog), WM_COMMAND, CMD_CAPTURE_STARTED, 0);
    download_begun = false;
    if (!start_capture_thread(dialog)) error_handler(12, "progress_message_handler", "capture_thread_func");
}

}  // namespace

INT_PTR CALLBACK progress_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        open(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case CMD_DOWNLOAD_BEGIN:
            download_begun = true;
            EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
            SetDlgItemTextA(dialog, IDC_PROGRESS_STATE, "Downloading Captured Data");
            return TRUE;
        case CMD_DOWNLOAD_PROGRESS: {
            char text[24];
            std::snprintf(text, sizeof text, "%d %%", static_cast<int>(lparam));
            SetDlgItemTextA(dialog, IDC_PROGRESS_PERCENT, text);
            return TRUE;
        }
        case IDOK:  // the capture thread has ended
            reset_view_range();
            finish(dialog);
            return TRUE;
        case IDCANCEL:
            if (download_begun) return TRUE;
            cancel_capture_thread();
            clear_channels();
            finish(dialog);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}
