#include "app/error_handler.h"
#include "app/shell_win32.h"
#include "display/view_range.h"

INT_PTR CALLBACK view_range_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        int32_t start = 0, end = 0;
        get_view_range(start, end);
        SetDlgItemInt(dialog, IDC_START_SAMPLE, static_cast<UINT>(start), TRUE);
        SetDlgItemInt(dialog, IDC_STOP_SAMPLE, static_cast<UINT>(end), TRUE);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            // Text that is no number reads as 0.
            int32_t start = static_cast<int32_t>(GetDlgItemInt(dialog, IDC_START_SAMPLE, nullptr, TRUE));
            int32_t end = static_cast<int32_t>(GetDlgItemInt(dialog, IDC_STOP_SAMPLE, nullptr, TRUE));
            if (!set_view_range(start, end)) {
                error_handler(11, "view_range_message_handler", "");  // the dialog stays open
                return TRUE;
            }
            post_refresh_to_parent(dialog);
            return end_dialog(dialog, IDOK);
        }
        return LOWORD(wparam) == IDCANCEL ? end_dialog(dialog, IDCANCEL) : FALSE;
    default:
        return FALSE;
    }
}
