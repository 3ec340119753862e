// The program's entry point.
#include "app/error_handler.h"
#include "app/shell_win32.h"
#include "capture/dso_structure.h"
#include "display/view_range.h"
#include "hardware/port.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
    app_instance = instance;
    install_message_box_presentation();
    install_program_port_bus();
    set_port_address(LPT1_ADDRESS, true);  // a port that fails ends the program with error 10
    clear_channels();
    set_capture_defaults();
    set_display_defaults();
    run_message_loop(show_command);
    quit_program(0);
}
