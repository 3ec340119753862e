#include "app/error_handler.h"
#include "app/error_presentation.h"

#include <cstdio>
#include <cstdlib>

void quit_program(int32_t exit_code) {
    current_error_presentation().post_quit();
#ifdef _WIN32
    _fcloseall();  // writes out and closes every stream but the three standard ones
#else
    std::fflush(nullptr);
#endif
    std::exit(exit_code);
}
