// The error-presentation seam: how a composed error message reaches the user and how the
// process is told to stop its message loop. The Windows program shows a message box owned
// by the foreground window; tests capture what would have been shown.
#pragma once
#include <cstdint>

enum class box_icon { warning, error };

struct error_presentation {
    virtual ~error_presentation() = default;
    // Shows the message with a single OK button and returns once the user has closed it.
    virtual void show_box(const char* caption, const char* text, box_icon icon) = 0;
    // Posts the quit message (code 0) to the calling thread's queue.
    virtual void post_quit() = 0;
    // The report behind the box: the code and level, the reporter's name and its additional
    // information, with the box they make. A presentation that lays a report out in its own
    // way (a terminal's single line) overrides this; the others show the box.
    virtual void show_report(int32_t /*code*/, int32_t /*level*/, const char* /*function_name*/,
                             const char* /*additional_info*/, const char* caption, const char* text,
                             box_icon icon) {
        show_box(caption, text, icon);
    }
};

// Installs the presentation used from now on; nullptr restores the console presentation
// (the message goes to standard error), which is what the core uses until the shell starts.
void set_error_presentation(error_presentation* presentation);
error_presentation& current_error_presentation();
