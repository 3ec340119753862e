// The program's entry point.
#include "app/shell_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
    return program_main(instance, show_command);
}
