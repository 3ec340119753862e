// "DSO Capture Settings": mode, sample frequency, trigger source, level or pattern, edge and
// pre-trigger count; Start Capture writes the record's header and opens the progress dialog.
#include "app/shell_win32.h"
#include "app/text_numbers.h"
#include "capture/dso_structure.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int ENTRY_CHARS = 50;  // entries are read with at most 49 characters
constexpr int64_t MAX_PRETRIGGER = 0x5FFFF;
constexpr int64_t MIN_LEVEL = -126;
constexpr int64_t MAX_LEVEL = 127;
constexpr int LEVEL_OFFSET = 127;
const char HEX_LABEL[] = "Trigger Value (Hex)";
const char DEC_LABEL[] = "Trigger Value (Dec)";
const char PLACEHOLDER[] = "DUMMY STRINF";

// The edge pictures live from opening to closing.
HBITMAP rising_edge_bitmap = nullptr;
HBITMAP falling_edge_bitmap = nullptr;

void release_bitmaps() {
    if (rising_edge_bitmap) DeleteObject(rising_edge_bitmap);
    if (falling_edge_bitmap) DeleteObject(falling_edge_bitmap);
    rising_edge_bitmap = falling_edge_bitmap = nullptr;
}

bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// As a user's click: the button is checked within its group and notifies the dialog.
void click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

void enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }

// The trigger value entry with its label, and the two edge buttons.
void enable_value(HWND dialog, bool on) {
    enable(dialog, IDC_TRIGGER_VALUE, on);
    enable(dialog, IDC_TRIGGER_VALUE_LABEL, on);
}
void enable_edges(HWND dialog, bool on) {
    enable(dialog, IDC_RISING_EDGE, on);
    enable(dialog, IDC_FALLING_EDGE, on);
}

void read_entry(HWND dialog, int id, char (&text)[ENTRY_CHARS]) {
    text[0] = '\0';
    GetDlgItemTextA(dialog, id, text, ENTRY_CHARS);
}

void show_hex(HWND dialog, int id, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    SetDlgItemTextA(dialog, id, text);
}

void show_signed(HWND dialog, int id, long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%ld", value);
    SetDlgItemTextA(dialog, id, text);
}

int checked_mode(HWND dialog) {
    if (checked(dialog, IDC_MODE_DUAL)) return MODE_DUAL;
    if (checked(dialog, IDC_MODE_SINGLE)) return MODE_SINGLE;
    if (checked(dialog, IDC_MODE_LOGIC16)) return MODE_LOGIC16;
    return MODE_MIXED;
}

int checked_source(HWND dialog) {
    if (checked(dialog, IDC_SOURCE_EXTERNAL)) return TRIGGER_EXTERNAL;
    if (checked(dialog, IDC_SOURCE_CHANNEL_A)) return TRIGGER_CHANNEL_A;
    if (checked(dialog, IDC_SOURCE_CHANNEL_B)) return TRIGGER_CHANNEL_B;
    return TRIGGER_NONE;
}

void fill_frequencies(HWND dialog, int mode) {
    LRESULT selected = SendDlgItemMessageA(dialog, IDC_SAMPLE_FREQUENCY, CB_GETCURSEL, 0, 0);
    double base = mode == MODE_SINGLE ? 100.0 : 50.0;  // Single Channel shows the trace rate
    SendDlgItemMessageA(dialog, IDC_SAMPLE_FREQUENCY, CB_RESETCONTENT, 0, 0);
    for (int divisor = 1; divisor <= 32; divisor *= 2) {
        char label[24];
        format_megahertz(base / divisor, label, sizeof label);
        SendDlgItemMessageA(dialog, IDC_SAMPLE_FREQUENCY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
    }
    SendDlgItemMessageA(dialog, IDC_SAMPLE_FREQUENCY, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

// Keeps the controls consistent with each other and the entries within their limits.
void refresh(HWND dialog) {
    int m = checked_mode(dialog);
    fill_frequencies(dialog, m);

    switch (m) {
    case MODE_DUAL:
        SetDlgItemTextA(dialog, IDC_SOURCE_CHANNEL_A, "Analogue Channel A");
        enable(dialog, IDC_SOURCE_CHANNEL_B, true);
        break;
    case MODE_SINGLE:
    case MODE_LOGIC16:
        if (checked(dialog, IDC_SOURCE_CHANNEL_B)) click(dialog, IDC_SOURCE_CHANNEL_A);
        SetDlgItemTextA(dialog, IDC_SOURCE_CHANNEL_A, m == MODE_SINGLE ? "Analogue Channel A" : "16 Bit Logic");
        enable(dialog, IDC_SOURCE_CHANNEL_B, false);
        break;
    default:
        SetDlgItemTextA(dialog, IDC_SOURCE_CHANNEL_A, "Logic Channel A");
        enable(dialog, IDC_SOURCE_CHANNEL_B, true);
        break;
    }

    int f = checked_source(dialog);
    char text[ENTRY_CHARS];
    switch (f) {
    case TRIGGER_EXTERNAL:
        enable_value(dialog, false);
        enable_edges(dialog, true);
        break;
    case TRIGGER_CHANNEL_A:
        enable_value(dialog, true);
        if (m == MODE_LOGIC16 || m == MODE_MIXED) {
            SetDlgItemTextA(dialog, IDC_TRIGGER_VALUE_LABEL, HEX_LABEL);
            enable_edges(dialog, false);
            uint32_t mask = m == MODE_LOGIC16 ? 0xFFFF : 0xFF;
            // An entry that holds no hexadecimal number shows the pattern the record holds,
            // which is also what Start Capture then keeps.
            uint32_t pattern = dso_structure.trigger_value;
            read_entry(dialog, IDC_TRIGGER_VALUE, text);
            read_hexadecimal(text, pattern);
            show_hex(dialog, IDC_TRIGGER_VALUE, pattern & mask);
        } else {
            SetDlgItemTextA(dialog, IDC_TRIGGER_VALUE_LABEL, DEC_LABEL);
            enable_edges(dialog, true);
        }
        break;
    case TRIGGER_CHANNEL_B:
        enable_value(dialog, true);
        enable_edges(dialog, true);
        SetDlgItemTextA(dialog, IDC_TRIGGER_VALUE_LABEL, DEC_LABEL);
        break;
    default:
        SetDlgItemInt(dialog, IDC_PRETRIGGER, 0, FALSE);
        enable_value(dialog, false);
        enable_edges(dialog, false);
        break;
    }

    if (m == MODE_DUAL || m == MODE_SINGLE || (m == MODE_MIXED && f == TRIGGER_CHANNEL_B)) {
        read_entry(dialog, IDC_TRIGGER_VALUE, text);
        int64_t level = read_decimal(text, true);
        if (level > MAX_LEVEL) level = MAX_LEVEL;
        if (level < MIN_LEVEL) level = MIN_LEVEL;
        show_signed(dialog, IDC_TRIGGER_VALUE, static_cast<long>(level));
    }

    enable(dialog, IDC_PRETRIGGER, f != TRIGGER_NONE);
    read_entry(dialog, IDC_PRETRIGGER, text);
    int64_t pretrigger = read_decimal(text, false);
    if (pretrigger > MAX_PRETRIGGER) pretrigger = MAX_PRETRIGGER;
    SetDlgItemInt(dialog, IDC_PRETRIGGER, static_cast<UINT>(pretrigger), FALSE);
}

void open(HWND dialog) {
    rising_edge_bitmap = static_cast<HBITMAP>(
        LoadImageA(app_instance, MAKEINTRESOURCEA(IDB_RISING_EDGE), IMAGE_BITMAP, 0, 0, LR_MONOCHROME));
    falling_edge_bitmap = static_cast<HBITMAP>(
        LoadImageA(app_instance, MAKEINTRESOURCEA(IDB_FALLING_EDGE), IMAGE_BITMAP, 0, 0, LR_MONOCHROME));
    SendDlgItemMessageA(dialog, IDC_RISING_EDGE, BM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(rising_edge_bitmap));
    SendDlgItemMessageA(dialog, IDC_FALLING_EDGE, BM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(falling_edge_bitmap));

    const dso_record& r = dso_structure;
    SetDlgItemInt(dialog, IDC_PRETRIGGER, static_cast<UINT>(r.pretrigger), FALSE);
    if (r.capture_mode >= MODE_DUAL && r.capture_mode <= MODE_MIXED) click(dialog, IDC_MODE_DUAL + r.capture_mode);
    switch (r.trigger_source) {
    case TRIGGER_EXTERNAL: click(dialog, IDC_SOURCE_EXTERNAL); break;
    case TRIGGER_CHANNEL_A: click(dialog, IDC_SOURCE_CHANNEL_A); break;
    case TRIGGER_CHANNEL_B: click(dialog, IDC_SOURCE_CHANNEL_B); break;
    case TRIGGER_NONE: click(dialog, IDC_SOURCE_NONE); break;
    default: break;
    }
    for (int i = 0; i < 6; ++i)
        SendDlgItemMessageA(dialog, IDC_SAMPLE_FREQUENCY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(PLACEHOLDER));
    if (r.sample_rate_index >= 0 && r.sample_rate_index <= 5)
        SendDlgItemMessageA(dialog, IDC_SAMPLE_FREQUENCY, CB_SETCURSEL, static_cast<WPARAM>(r.sample_rate_index), 0);
    click(dialog, r.trigger_edge == 0 ? IDC_RISING_EDGE : IDC_FALLING_EDGE);
    if (r.capture_mode == MODE_LOGIC16 || (r.capture_mode == MODE_MIXED && r.trigger_source == TRIGGER_CHANNEL_A))
        show_hex(dialog, IDC_TRIGGER_VALUE, r.trigger_value);
    else
        show_signed(dialog, IDC_TRIGGER_VALUE, static_cast<long>(r.trigger_value) - LEVEL_OFFSET);
}

void start_capture(HWND dialog) {
    refresh(dialog);
    dso_record& r = dso_structure;
    char text[ENTRY_CHARS];
    read_entry(dialog, IDC_PRETRIGGER, text);
    r.pretrigger = static_cast<int32_t>(read_decimal(text, false));
    r.capture_mode = static_cast<int8_t>(checked_mode(dialog));
    r.trigger_source = static_cast<int8_t>(checked_source(dialog));
    LRESULT rate = SendDlgItemMessageA(dialog, IDC_SAMPLE_FREQUENCY, CB_GETCURSEL, 0, 0);
    r.sample_rate_index = static_cast<int8_t>(rate >= 0 && rate <= 5 ? rate : -1);
    r.trigger_edge = checked(dialog, IDC_RISING_EDGE) ? 0 : 1;

    char label[ENTRY_CHARS];
    read_entry(dialog, IDC_TRIGGER_VALUE_LABEL, label);
    read_entry(dialog, IDC_TRIGGER_VALUE, text);
    if (std::strcmp(label, HEX_LABEL) == 0) {
        uint32_t pattern;
        if (read_hexadecimal(text, pattern)) r.trigger_value = static_cast<uint16_t>(pattern);
    } else {
        r.trigger_value = decimal_trigger_value(text);
    }

    CreateDialogParamA(app_instance, MAKEINTRESOURCEA(IDD_PROGRESS), GetParent(dialog), progress_message_handler, 0);
    release_bitmaps();
    EndDialog(dialog, IDOK);
}

}  // namespace

INT_PTR CALLBACK capture_settings_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        open(dialog);
        return TRUE;
    case WM_COMMAND: {
        int id = LOWORD(wparam);
        int code = HIWORD(wparam);
        if ((id >= IDC_MODE_DUAL && id <= IDC_MODE_MIXED) || (id >= IDC_SOURCE_CHANNEL_A && id <= IDC_SOURCE_NONE)) {
            if (code != BN_CLICKED) return FALSE;
            PostMessageA(dialog, WM_COMMAND, CMD_SETTINGS_REFRESH, 0);
            return TRUE;
        }
        if (id == IDC_PRETRIGGER || id == IDC_TRIGGER_VALUE) {
            if (code != EN_KILLFOCUS) return FALSE;
            PostMessageA(dialog, WM_COMMAND, CMD_SETTINGS_REFRESH, 0);
            return TRUE;
        }
        switch (id) {
        case CMD_SETTINGS_REFRESH:
            refresh(dialog);
            return TRUE;
        case IDOK:
            start_capture(dialog);
            return TRUE;
        case IDCANCEL:
            release_bitmaps();
            return end_dialog(dialog, IDCANCEL);
        default:
            return FALSE;
        }
    }
    default:
        return FALSE;
    }
}
