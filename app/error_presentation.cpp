#include "app/error_presentation.h"

#include <cstdio>

namespace {

// Until the shell installs its message boxes, a report goes to standard error.
struct console_presentation final : error_presentation {
    void show_box(const char* caption, const char* text, box_icon) override {
        std::fprintf(stderr, "%s\n%s\n", caption, text);
        std::fflush(stderr);
    }
    void post_quit() override {}
};

console_presentation console;
error_presentation* installed = &console;

}  // namespace

void set_error_presentation(error_presentation* presentation) {
    installed = presentation ? presentation : &console;
}

error_presentation& current_error_presentation() { return *installed; }
