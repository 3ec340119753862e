#include "app/shell_win32.h"
#include "hardware/port.h"

namespace {

const uint16_t port_addresses[] = {LPT1_ADDRESS, LPT2_ADDRESS, LPT3_ADDRESS};
const char* const port_names[] = {"LPT1: (0x378)", "LPT2: (0x278)", "LPT3: (0x3BC)"};

}  // namespace

INT_PTR CALLBACK port_select_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        for (const char* name : port_names)
            SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        // Some other address selects no entry.
        for (int entry = 0; entry < 3; ++entry)
            if (get_port_address() == port_addresses[entry])
                SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            LRESULT entry = SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_GETCURSEL, 0, 0);
            if (entry >= 0 && entry < 3) set_port_address(port_addresses[entry], true);
            return end_dialog(dialog, IDOK);
        }
        return LOWORD(wparam) == IDCANCEL ? end_dialog(dialog, IDCANCEL) : FALSE;
    default:
        return FALSE;
    }
}
