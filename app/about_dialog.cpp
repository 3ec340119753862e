#include "app/error_handler.h"
#include "app/shell_win32.h"

INT_PTR CALLBACK about_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_ABOUT_NAME, "Korvane");
        SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, "Version 1.1.1 (I/O Enabled)");
        SetDlgItemTextA(dialog, IDC_ABOUT_CONTACT, contact_address);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) return end_dialog(dialog, LOWORD(wparam));
        return FALSE;
    default:
        return FALSE;
    }
}
