#include "hardware/capture_thread_win32.h"

#include "app/shell_win32.h"

#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "resource_ids.h"

HWND progress_dialog = nullptr;

namespace {

// Signalled on Cancel, so that the thread's sleeps end at once instead of after 250 ms.
HANDLE cancel_event = nullptr;
// Signalled while no capture thread is at work.
HANDLE no_capture_thread = nullptr;

struct windows_capture_services final : capture_services {
    void sleep_ms(uint32_t milliseconds) override { WaitForSingleObject(cancel_event, milliseconds); }
    void download_begins() override { SendMessageA(progress_dialog, WM_COMMAND, CMD_DOWNLOAD_BEGIN, 0); }
    void report_progress(int32_t percent) override {
        SendMessageA(progress_dialog, WM_COMMAND, CMD_DOWNLOAD_PROGRESS, static_cast<LPARAM>(percent));
    }
};

windows_capture_services services;

void create_events() {
    if (cancel_event != nullptr) return;
    cancel_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    no_capture_thread = CreateEventA(nullptr, TRUE, TRUE, nullptr);
}

}  // namespace

DWORD WINAPI capture_thread_func(LPVOID dialog) {
    use_double_precision();
    progress_dialog = static_cast<HWND>(dialog);
    if (run_capture()) PostMessageA(progress_dialog, WM_COMMAND, IDOK, 0);
    SetEvent(no_capture_thread);
    return 0;
}

bool start_capture_thread(HWND dialog) {
    create_events();
    set_capture_services(&services);
    // A cancelled capture's thread ends within moments of the Cancel; the new one must
    // never work beside it, nor may clearing the flag let it go on.
    WaitForSingleObject(no_capture_thread, INFINITE);
    ResetEvent(cancel_event);
    cancel_requested = 0;
    ResetEvent(no_capture_thread);
    HANDLE thread = CreateThread(nullptr, 0, capture_thread_func, dialog, 0, nullptr);
    if (thread == nullptr) {
        SetEvent(no_capture_thread);
        return false;
    }
    CloseHandle(thread);  // detached: nobody waits for it
    return true;
}

void cancel_capture_thread() {
    request_cancel();
    if (cancel_event != nullptr) SetEvent(cancel_event);
}
