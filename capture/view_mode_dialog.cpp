#include "app/shell_win32.h"
#include "capture/dso_structure.h"

INT_PTR CALLBACK view_mode_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        // A mode this program does not know (from a file) checks no button.
        if (dso_structure.capture_mode >= MODE_DUAL && dso_structure.capture_mode <= MODE_MIXED)
            CheckRadioButton(dialog, IDC_MODE_DUAL, IDC_MODE_MIXED, IDC_MODE_DUAL + dso_structure.capture_mode);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            if (IsDlgButtonChecked(dialog, IDC_MODE_DUAL) == BST_CHECKED)
                dso_structure.capture_mode = MODE_DUAL;
            else if (IsDlgButtonChecked(dialog, IDC_MODE_SINGLE) == BST_CHECKED)
                dso_structure.capture_mode = MODE_SINGLE;
            else if (IsDlgButtonChecked(dialog, IDC_MODE_LOGIC16) == BST_CHECKED)
                dso_structure.capture_mode = MODE_LOGIC16;
            else
                dso_structure.capture_mode = MODE_MIXED;
            post_refresh_to_parent(dialog);
            return end_dialog(dialog, IDOK);
        case IDCANCEL:
            return end_dialog(dialog, IDCANCEL);
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}
