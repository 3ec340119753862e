// The error-presentation seam: how a composed error message reaches the user and how the
// process is told to stop its message loop. The Windows program shows a message box owned
// by the foreground window; tests capture what would have been shown.
#pragma once

enum class box_icon { warning, error };

struct error_presentation {
    virtual ~error_presentation() = default;
    // Shows the message with a single OK button and returns once the user has closed it.
    virtual void show_box(const char* caption, const char* text, box_icon icon) = 0;
    // Posts the quit message (code 0) to the calling thread's queue.
    virtual void post_quit() = 0;
};

// Installs the presentation used from now on; nullptr restores the console presentation
// (the message goes to standard error), which is what the core uses until the shell starts.
void set_error_presentation(error_presentation* presentation);
error_presentation& current_error_presentation();
