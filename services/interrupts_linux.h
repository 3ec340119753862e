// Signals of a Linux program that ends cleanly: once installed, SIGINT, SIGTERM and SIGHUP set
// interrupted_by (the signal's number) and call the hook, if any; they end no system call's
// wait by restarting it.
#pragma once
#include <csignal>

extern volatile sig_atomic_t interrupted_by;
void install_interrupt_handlers(void (*hook)(int signal_number));
