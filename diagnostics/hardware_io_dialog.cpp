// "Hardware IO": the port's registers and the hardware's registers by hand. Every number is
// hexadecimal; every change is followed by a fresh reading of the port.
#include "app/shell_win32.h"
#include "app/text_numbers.h"
#include "hardware/capture_sequence.h"
#include "hardware/port.h"

#include <cstdio>

namespace {

constexpr int ENTRY_CHARS = 20;  // entries are read with at most 19 characters

void show(HWND dialog, int id, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value & 0xFFu);
    SetDlgItemTextA(dialog, id, text);
}

// The entry's value, or false when it holds no hexadecimal number (nothing is then written).
bool entry_value(HWND dialog, int id, uint8_t& value) {
    char text[ENTRY_CHARS];
    text[0] = '\0';
    GetDlgItemTextA(dialog, id, text, ENTRY_CHARS);
    uint32_t parsed;
    if (!read_hexadecimal(text, parsed)) return false;
    value = static_cast<uint8_t>(parsed);
    return true;
}

void post_refresh(HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDC_HWIO_REFRESH, 0); }

}  // namespace

INT_PTR CALLBACK hardware_io_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        post_refresh(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    uint8_t value, reg;
    switch (LOWORD(wparam)) {
    case IDC_HWIO_REFRESH:
        show(dialog, IDC_HWIO_DATA, read_data());
        show(dialog, IDC_HWIO_STATUS, read_status());
        show(dialog, IDC_HWIO_CONTROL, read_control());
        return TRUE;
    case IDC_HWIO_CONTROL:
        if (HIWORD(wparam) != EN_KILLFOCUS) return FALSE;
        if (entry_value(dialog, IDC_HWIO_CONTROL, value)) write_control(value);
        post_refresh(dialog);
        return TRUE;
    case IDC_HWIO_DATA:
        if (HIWORD(wparam) != EN_KILLFOCUS) return FALSE;
        if (entry_value(dialog, IDC_HWIO_DATA, value)) write_data(value);
        post_refresh(dialog);
        return TRUE;
    case IDC_HWIO_SET_REG: {
        bool have_reg = entry_value(dialog, IDC_HWIO_REG_NUMBER, reg);
        if (have_reg) show(dialog, IDC_HWIO_REG_NUMBER, reg);
        bool have_value = entry_value(dialog, IDC_HWIO_REG_VALUE, value);
        if (have_value) show(dialog, IDC_HWIO_REG_VALUE, value);
        if (have_reg && have_value) write_register(reg, value);
        post_refresh(dialog);
        return TRUE;
    }
    case IDC_HWIO_SET_ICR:
        if (entry_value(dialog, IDC_HWIO_ICR_VALUE, value)) {
            show(dialog, IDC_HWIO_ICR_VALUE, value);
            strobe_control(value);
        }
        post_refresh(dialog);
        return TRUE;
    case IDC_HWIO_RESET_READ:
        reset_read();
        post_refresh(dialog);
        return TRUE;
    case IDCANCEL:
        return end_dialog(dialog, IDCANCEL);
    default:
        return FALSE;
    }
}
