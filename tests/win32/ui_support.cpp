#include "win32/ui_support.h"

#include "app/shell_win32.h"
#include "capture/dso_structure.h"
#include "display/view_range.h"
#include "hardware/port.h"

#include <map>
#include <utility>

port_bus* program_bus_for_tests = nullptr;

// This test program's choice of port bus for the start-up sequence.
void install_program_port_bus() { set_port_bus(program_bus_for_tests); }

std::string window_text(HWND window) {
    char text[2048];
    text[0] = '\0';
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string class_of(HWND window) {
    char name[256];
    name[0] = '\0';
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string item_text(HWND dialog, int id) {
    char text[2048];
    text[0] = '\0';
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool item_enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool item_checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
void set_item_text(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }

void press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

void leave_edit(HWND dialog, int id) {
    HWND edit = GetDlgItem(dialog, id);
    SetFocus(edit);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS), reinterpret_cast<LPARAM>(edit));
}

namespace {

BOOL CALLBACK find_icon(HWND child, LPARAM result) {
    if (class_of(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HICON*>(result) = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK find_text(HWND child, LPARAM result) {
    std::string& out = *reinterpret_cast<std::string*>(result);
    if (class_of(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON &&
        window_text(child).size() > out.size())
        out = window_text(child);
    return TRUE;
}

}  // namespace

bool is_message_box(HWND window) {
    return class_of(window) == "#32770" && GetDlgItem(window, 0xFFFF) != nullptr;
}

message_box_seen answer_message_box(HWND box) {
    message_box_seen seen;
    seen.caption = window_text(box);
    seen.text = item_text(box, 0xFFFF);
    if (seen.text.empty()) EnumChildWindows(box, find_text, reinterpret_cast<LPARAM>(&seen.text));
    HICON icon = nullptr;
    EnumChildWindows(box, find_icon, reinterpret_cast<LPARAM>(&icon));
    if (icon == nullptr)
        seen.icon = message_box_seen::none;
    else if (icon == LoadIconA(nullptr, MAKEINTRESOURCEA(32515)))  // IDI_WARNING
        seen.icon = message_box_seen::warning;
    else if (icon == LoadIconA(nullptr, MAKEINTRESOURCEA(32513)))  // IDI_ERROR
        seen.icon = message_box_seen::error;
    else
        seen.icon = message_box_seen::other;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return seen;
}

namespace {

BOOL CALLBACK take_message_box(HWND w, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(w, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(w) && is_message_box(w)) {
        *reinterpret_cast<HWND*>(found) = w;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK take_enabled_dialog(HWND w, LPARAM found) {
    if (class_of(w) == "#32770" && IsWindowVisible(w) && IsWindowEnabled(w)) {
        *reinterpret_cast<HWND*>(found) = w;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND find_message_box() {
    HWND found = nullptr;
    EnumWindows(take_message_box, reinterpret_cast<LPARAM>(&found));
    return found;
}

namespace {

HWND counted_window = nullptr;
int paint_count = 0;
HHOOK paint_hook = nullptr;
std::map<std::pair<HWND, int>, int> command_counts;

LRESULT CALLBACK note_paint(int code, WPARAM wparam, LPARAM lparam) {
    const MSG* m = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && m->message == WM_PAINT) {
        if (m->hwnd != counted_window) {
            counted_window = m->hwnd;
            paint_count = 0;
        }
        ++paint_count;
    }
    if (code == HC_ACTION && wparam == PM_REMOVE && m->message == WM_COMMAND)
        ++command_counts[{m->hwnd, static_cast<int>(LOWORD(m->wParam))}];
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

void count_paints() {
    if (paint_hook == nullptr) paint_hook = SetWindowsHookExA(WH_GETMESSAGE, note_paint, nullptr, GetCurrentThreadId());
}

int paints_of(HWND window) { return window == counted_window ? paint_count : 0; }

int posted_commands_of(HWND window, int id) {
    auto found = command_counts.find({window, id});
    return found == command_counts.end() ? 0 : found->second;
}

namespace {

struct script_state {
    std::vector<dialog_step> steps;
    size_t next = 0;
    DWORD deadline = 0;
    bool timed_out = false;
    bool running = false;
};

script_state* active_script = nullptr;

// The dialog the user would be looking at: a message box of any thread of the process
// (it is modal to whatever it covers), else the active dialog of this thread, else the
// last enabled dialog of this thread.
HWND current_dialog() {
    if (HWND box = find_message_box()) return box;
    HWND active = GetActiveWindow();
    if (active != nullptr && class_of(active) == "#32770" && IsWindowVisible(active)) return active;
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), take_enabled_dialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void CALLBACK script_tick(HWND, UINT, UINT_PTR, DWORD) {
    script_state* s = active_script;
    if (s == nullptr || s->running) return;  // a step's own modal loop may tick again
    s->running = true;
    HWND dialog = current_dialog();
    if (s->next < s->steps.size()) {
        if (dialog != nullptr && s->steps[s->next](dialog)) ++s->next;
    }
    if (s->next < s->steps.size() && GetTickCount() > s->deadline) {
        s->timed_out = true;
        s->next = s->steps.size();
    }
    if (s->timed_out && dialog != nullptr) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    s->running = false;
}

}  // namespace

bool run_with_dialogs(const std::function<void()>& trigger, std::vector<dialog_step> steps, int timeout_ms) {
    script_state state;
    state.steps = std::move(steps);
    state.deadline = GetTickCount() + static_cast<DWORD>(timeout_ms);
    script_state* outer = active_script;
    active_script = &state;
    UINT_PTR timer = SetTimer(nullptr, 0, 15, script_tick);
    trigger();
    KillTimer(nullptr, timer);
    active_script = outer;
    return !state.timed_out && state.next == state.steps.size();
}

void pump_messages(HWND main_window) {
    static HACCEL accelerators = LoadAcceleratorsA(app_instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) DispatchMessageA(&message);
    }
    (void)main_window;
}

bool pump_until(HWND main_window, const std::function<bool()>& cond, int timeout_ms) {
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeout_ms);
    while (!cond()) {
        if (GetTickCount() > deadline) return false;
        pump_messages(main_window);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

void post_key(HWND window, UINT virtual_key, bool control) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = control ? 0x80 : 0;
    keys[VK_LCONTROL] = control ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageA(window, WM_KEYDOWN, virtual_key, 1);
    pump_messages(window);
    keys[VK_CONTROL] = 0;
    keys[VK_LCONTROL] = 0;
    SetKeyboardState(keys);
}

void set_client_size(HWND window, int width, int height) {
    RECT frame = {0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), GetMenu(window) != nullptr,
                       static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    GetClientRect(window, &client);
    // The menu bar may wrap at a narrow width; adjust once more to what the window shows.
    if (client.bottom != height) {
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + height - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER);
    }
}

HWND open_main_window(port_bus* bus, int width, int height) {
    set_port_bus(bus);
    port_address = LPT1_ADDRESS;
    clear_channels();
    set_capture_defaults();
    set_display_defaults();
    reset_view_range();
    HWND window = create_main_window(SW_SHOWNORMAL);
    if (window == nullptr) return nullptr;
    set_client_size(window, width, height);
    UpdateWindow(window);
    pump_messages(window);
    return window;
}

void close_main_window(HWND window) {
    if (IsWindow(window)) DestroyWindow(window);
    pump_messages(nullptr);  // the quit message that WM_DESTROY posts is dropped here
    set_port_bus(nullptr);
}
