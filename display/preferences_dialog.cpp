#include "app/shell_win32.h"
#include "display/view_range.h"

namespace {

struct preference_box {
    int control;
    int32_t display_preferences_flags::*flag;
};

const preference_box boxes[] = {
    {IDC_PREF_ZOOM_WHILE_PANNING, &display_preferences_flags::allow_zoom_while_panning},
    {IDC_PREF_TIME_ON_X_AXIS, &display_preferences_flags::show_time_on_x_axis},
    {IDC_PREF_PRETRIGGER_POSITION, &display_preferences_flags::show_pretrigger_position},
    {IDC_PREF_TRIGGER_LEVEL, &display_preferences_flags::show_trigger_level},
};

}  // namespace

INT_PTR CALLBACK preferences_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        // The boxes start unchecked; a click checks each flag that is set.
        for (const preference_box& box : boxes)
            if (display_preferences.*box.flag == 1) SendDlgItemMessageA(dialog, box.control, BM_CLICK, 0, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            for (const preference_box& box : boxes)
                display_preferences.*box.flag = IsDlgButtonChecked(dialog, box.control) == BST_CHECKED ? 1 : 0;
            post_refresh_to_parent(dialog);
            return end_dialog(dialog, IDOK);
        }
        return LOWORD(wparam) == IDCANCEL ? end_dialog(dialog, IDCANCEL) : FALSE;
    default:
        return FALSE;
    }
}
