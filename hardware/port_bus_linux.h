// The parallel port on Linux, behind the port bus: through the ppdev driver
// (/dev/parportN, for a user in the lp group, no root) or by raw port I/O (root).
// Both take the functions that reach the system as arguments, so that the translation can
// be checked against recording fakes on a machine with no parallel port.
#pragma once
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

// Takes the opened port for this program: exclusive access where the driver grants it, the
// claim, and byte mode. false on failure, with a message that says what went wrong and what
// to do (message holds at least 256 characters).
bool claim_ppdev(int fd, port_request_function request, char* message, std::size_t size);

// Opens path (read and write) and claims it as above. Returns the descriptor, or -1 with the
// message (a missing device, no permission: the lp group, a port in use by another driver).
// Where another driver (the lp printer driver, say) is registered on the port, exclusive
// access is refused; the port is then opened again and claimed shared, which still keeps
// every other driver off it while it is claimed.
int open_ppdev(const char* path, port_request_function request, char* message, std::size_t size);

// Releases the claim and closes the descriptor.
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
