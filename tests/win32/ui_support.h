// Driving the real windows and dialogs of the program from a test: scripted steps that act
// on whatever dialog is active while a modal loop runs, reading controls and message boxes.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "hardware/port_bus.h"

// The bus that the program's start-up installs in this test program.
extern port_bus* program_bus_for_tests;

std::string window_text(HWND window);
std::string class_of(HWND window);
std::string item_text(HWND dialog, int id);
bool item_enabled(HWND dialog, int id);
bool item_checked(HWND dialog, int id);
void set_item_text(HWND dialog, int id, const std::string& text);

// Presses a button the way a click does: the dialog gets BN_CLICKED from the control.
void press(HWND dialog, int id);
// Clicks a button for real (BM_CLICK): it takes the focus and its group's check.
void click(HWND dialog, int id);
// Moves the keyboard focus away from an edit, which then reports it lost the focus.
void leave_edit(HWND dialog, int id);

struct message_box_seen {
    std::string caption;
    std::string text;
    enum { none, warning, error, other } icon;
};
// Reads a message box (caption, text, icon) and closes it with OK.
message_box_seen answer_message_box(HWND box);
bool is_message_box(HWND window);
// A message box of this process shown by any of its threads, or nullptr.
HWND find_message_box();

// How many WM_PAINT messages this thread has taken for the window so far.
int paints_of(HWND window);
void count_paints();  // installs the counter for this thread, for commands too
// How many command messages with this id this thread has taken from its queue for the
// window so far: the posted ones, whichever loop took them.
int posted_commands_of(HWND window, int id);

// One step acts on the active dialog; it returns false to wait for another dialog (or for
// the same one to be ready) and is asked again a moment later.
using dialog_step = std::function<bool(HWND dialog)>;

// Runs trigger (which opens dialogs and runs their modal loops) while the steps are played
// one after another on the active dialog. Returns true when every step ran; a script that
// stalls is ended after timeout_ms by cancelling the active dialog.
bool run_with_dialogs(const std::function<void()>& trigger, std::vector<dialog_step> steps,
                      int timeout_ms = 10000);

// Processes the queued messages of this thread as the program's loop does: accelerator
// keys first, then dispatch.
void pump_messages(HWND main_window);

// Pumps until cond holds or timeout_ms passes; returns cond().
bool pump_until(HWND main_window, const std::function<bool()>& cond, int timeout_ms = 10000);

// A key press as the program's loop sees it, with Ctrl held or not.
void post_key(HWND window, UINT virtual_key, bool control);

// The program's state right after start-up with bus on the port, and its main window with a
// client area of width x height, painted.
HWND open_main_window(port_bus* bus, int width = 640, int height = 400);
// Destroys the main window, drops the quit message it posts, puts the empty port back.
void close_main_window(HWND window);

// Resizes a window so that its client area is width x height.
void set_client_size(HWND window, int width, int height);
