// The parallel port on Linux, behind the port bus: through the ppdev driver
// (/dev/parportN, for a user in the lp group, no root) or by raw port I/O (root).
// Both take the functions that reach the system as arguments, so that the translation can
// be checked against recording fakes on a machine with no parallel port.
#pragma once
#include <csignal>
#include <cstddef>
#include <cstdint>

#include "hardware/port_bus.h"

// ioctl(2) in the program.
using port_request_function = int (*)(int fd, unsigned long request, void* argument);
int system_port_request(int fd, unsigned long request, void* argument);

// A port driven through ppdev. Its registers answer at base (data), base + 1 (status) and
// base + 2 (control); every other address reads 0xFF and ignores writes, except a write of
// the extended control register at base + 0x402, which becomes the byte-mode request.
// The driver ignores the direction bit (0x20) in a control write, so that bit goes through
// the data-direction request, and a control read gives it back from what was last set.
// Every access is one request (two when the data direction changes); a request that fails
// reads as 0xFF.
class ppdev_port_bus final : public port_bus {
public:
    ppdev_port_bus(int fd, uint16_t base, port_request_function request);

    uint8_t in(uint16_t address) override;
    void out(uint16_t address, uint8_t value) override;

    // The first request that failed since construction ("PPRDATA", ...) and its errno;
    // nullptr and 0 while every request has succeeded.
    const char* failed_request() const { return failed_request_; }
    int failed_errno() const { return failed_errno_; }

private:
    bool request(unsigned long code, const char* name, void* argument);

    int fd_;
    uint16_t base_;
    port_request_function request_;
    int direction_ = -1;  // the data direction last requested: 0 out, 1 in, -1 not yet
    const char* failed_request_ = nullptr;
    int failed_errno_ = 0;
};

// How a claim waits for a port that another program holds. The claim sleeps in the driver
// under a ticking alarm (SIGALRM every 0.2 s at most, through setitimer(ITIMER_REAL)); at each
// tick the descriptor is closed, the flag and the clock are looked at, and the claim is made
// again on a fresh descriptor. The program's own SIGALRM disposition, signal mask and
// interval timer are put back after each attempt (a timer the program had running starts
// again from where it stood). The alarm is for the process: in a program with other
// threads, they should block SIGALRM so that it reaches the claiming one.
struct port_wait {
    // Give up after this long; 0: do not wait at all; a value too large to reach (1e300,
    // infinity): wait as long as it takes.
    double bound_seconds = 10;
    // The wait ends once *interrupted != 0: the flag the program's own SIGINT, SIGTERM and
    // SIGHUP handlers set. It is looked at whenever the claim wakes: at a tick, or at once
    // when one of those signals ends the sleep.
    const volatile sig_atomic_t* interrupted = nullptr;
    // Called once, the first time the claim finds that it has to wait, with open_ppdev's path.
    void (*notice)(const char* path, void* context) = nullptr;
    void* context = nullptr;
};

enum class port_open_result {
    opened,
    failed,       // no such device, no permission, no parallel port, another driver on it, ...
    busy,         // another program held the port for longer than the bound
    interrupted,  // the program was interrupted while waiting for the port
};

// Opens path (read and write) and takes the port for this program: exclusive access where
// the driver grants it, the claim, and byte mode. Returns the descriptor with result opened,
// or -1 with result and the message, which says what went wrong and what to do (a missing
// device, no permission: the lp group, a path that names no parallel port, a port that
// another driver or program keeps; message holds at least 256 characters).
// Where another driver (the lp printer driver, say) or program is registered on the port,
// exclusive access is refused; the port is then opened again and claimed shared, which still
// keeps every other driver off it while it is claimed. The claim writes none of the port's
// registers (see close_ppdev).
int open_ppdev(const char* path, port_request_function request, const port_wait& wait,
               port_open_result& result, char* message, std::size_t size);

// open(2) in the program as open_ppdev uses it: the descriptor of path, or -1 with the
// message, for a path that cannot be opened or names something that is not a ppdev port.
using port_device_open_function = int (*)(const char* path, char* message, std::size_t size);
int open_ppdev_device(const char* path, char* message, std::size_t size);
// close(2) as open_ppdev uses it, for every descriptor it does not return.
using port_device_close_function = int (*)(int fd);
// open_ppdev with the device opened through open and closed through close.
int open_ppdev(const char* path, port_device_open_function open, port_device_close_function close,
               port_request_function request, const port_wait& wait, port_open_result& result, char* message,
               std::size_t size);

// Leaves the lines so that the driver's restore at the next claim (strobe with code 3) hands
// the device only REG_CONTROL = 0, the idle value: data lines driven with 0x00, strobe low,
// code 0. Then releases the claim in compatibility mode and closes the descriptor.
void close_ppdev(int fd, port_request_function request);

// Raw port I/O: ioperm(2), inb and outb in the program.
struct raw_port_functions {
    int (*ioperm)(unsigned long from, unsigned long count, int turn_on);
    uint8_t (*in)(uint16_t address);
    void (*out)(uint16_t address, uint8_t value);
};
// The system's functions; on a machine without x86 port instructions every ioperm fails
// with ENOSYS, as it does under a kernel built without I/O permission.
raw_port_functions system_raw_port_functions();

class raw_port_bus final : public port_bus {
public:
    explicit raw_port_bus(const raw_port_functions& functions) : functions_(functions) {}
    uint8_t in(uint16_t address) override { return functions_.in(address); }
    void out(uint16_t address, uint8_t value) override { functions_.out(address, value); }

private:
    raw_port_functions functions_;
};

// Asks for I/O permission for base .. base + 2 and base + 0x402. false with a message (root
// is needed; /dev/parportN needs none) when it is refused. The permission belongs to the
// calling thread and to the threads it starts afterwards.
bool open_raw_port(uint16_t base, const raw_port_functions& functions, char* message, std::size_t size);
