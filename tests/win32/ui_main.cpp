// The shell's test program: the real windows and dialogs, built from the real resources,
// on this thread, with the simulated capture hardware on the port.
#include <gtest/gtest.h>

#include "app/shell_win32.h"
#include "win32/ui_support.h"

int main(int argc, char** argv) {
    use_double_precision();
    app_instance = GetModuleHandleA(nullptr);
    install_message_box_presentation();
    count_paints();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
