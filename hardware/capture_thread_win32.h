// The capture thread: one at a time, started detached by the progress dialog.
#pragma once
#include <windows.h>

// The progress dialog of the capture in progress; the capture thread addresses its
// messages there.
extern HWND progress_dialog;

// Waits until an earlier (cancelled) capture thread has ended, clears the cancel flag and
// starts a new thread for the dialog. false when the thread cannot be created.
bool start_capture_thread(HWND dialog);

// Asks the running capture to stop; its waits end at once.
void cancel_capture_thread();

DWORD WINAPI capture_thread_func(LPVOID dialog);
