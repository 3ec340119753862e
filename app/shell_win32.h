// The Windows shell: the main window, its dialogs and what they share.
#pragma once
#include <windows.h>

#include "resource_ids.h"

// The program's instance handle; every resource is loaded through it.
extern HINSTANCE app_instance;

// The whole run of the program: start-up, the message loop, the end. Never returns.
[[noreturn]] int program_main(HINSTANCE instance, int show_command);

// The 32-bit program computes on the x87 unit; this holds its doubles to double precision,
// so that the display arithmetic gives what it gives on the 64-bit build. Per thread.
void use_double_precision();

// Main window
int run_message_loop(int show_command);
HWND create_main_window(int show_command);
LRESULT CALLBACK main_window_message_handler(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
extern const char MAIN_WINDOW_CLASS[];  // "KorvaneSoftware"

// Invalidates the whole client area, background to be erased, so that it is repainted.
void repaint(HWND window);

// Paints the client area (between BeginPaint and EndPaint).
void paint_display(HWND window, PAINTSTRUCT paint_information);

// Applies a zoom or pan command to the view range and repaints.
void zoom_pan_view(HWND window, int command);

// Ends a modal dialog with the command as its result; what its procedure then returns.
inline INT_PTR end_dialog(HWND dialog, int result) {
    EndDialog(dialog, result);
    return TRUE;
}

// Posts Refresh to a dialog's parent, the main window, which then repaints.
inline void post_refresh_to_parent(HWND dialog) { PostMessageA(GetParent(dialog), WM_COMMAND, CMD_REFRESH, 0); }

// Dialog procedures
INT_PTR CALLBACK about_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK view_mode_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK view_range_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK preferences_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK port_select_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK capture_settings_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK progress_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK hardware_io_message_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Error reports shown as message boxes owned by the foreground window.
void install_message_box_presentation();

// The port bus of the program: the simulated device in korvane-sim.exe, the real port in
// korvane.exe (which ends the program with a report when it has no access to the port).
void install_program_port_bus();
