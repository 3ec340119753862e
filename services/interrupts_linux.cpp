#include "services/interrupts_linux.h"

#include <initializer_list>

volatile sig_atomic_t interrupted_by = 0;

namespace {

void (*interrupt_hook)(int) = nullptr;

void on_interrupt(int signal_number) {
    interrupted_by = signal_number;
    if (interrupt_hook != nullptr) interrupt_hook(signal_number);
}

}  // namespace

void install_interrupt_handlers(void (*hook)(int)) {
    interrupt_hook = hook;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a signal ends a sleep or a wait for the port at once
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}
