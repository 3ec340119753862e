#include "app/error_presentation.h"
#include "app/shell_win32.h"

namespace {

struct message_box_presentation final : error_presentation {
    void show_box(const char* caption, const char* text, box_icon icon) override {
        UINT style = MB_OK | (icon == box_icon::warning ? MB_ICONWARNING : MB_ICONERROR);
        MessageBoxA(GetForegroundWindow(), text, caption, style);
    }
    void post_quit() override { PostQuitMessage(0); }
};

message_box_presentation message_boxes;

}  // namespace

void install_message_box_presentation() { set_error_presentation(&message_boxes); }
