#include "app/error_handler.h"
#include "app/shell_win32.h"
#include "capture/dso_structure.h"
#include "display/view_range.h"
#include "hardware/port.h"

#include <float.h>

void use_double_precision() {
#if defined(__i386__)
    _controlfp(_PC_53, _MCW_PC);
#endif
}

int program_main(HINSTANCE instance, int show_command) {
    app_instance = instance;
    use_double_precision();
    install_message_box_presentation();
    install_program_port_bus();
    set_port_address(LPT1_ADDRESS, true);  // a port that fails ends the program with error 10
    clear_channels();
    set_capture_defaults();
    set_display_defaults();
    run_message_loop(show_command);  // its result is not used: the end is always status 0
    quit_program(0);
}
