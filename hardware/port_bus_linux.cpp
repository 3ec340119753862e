#include "hardware/port_bus_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#endif

#include "hardware/port.h"

// What the translation relies on, from the ppdev and parport_pc drivers:
// - PPEXCL only records the wish for exclusive access; the driver registers the port with
//   the parallel-port layer at the first PPCLAIM, and refuses an exclusive registration
//   there with ENXIO while any other driver (lp, say) is registered on the port. PPCLAIM
//   waits while another registered device holds the port; a device that has claimed it
//   cannot be pushed off (ppdev gives the parallel-port layer no way to ask for it back).
// - On the claim parport_pc loads the port's saved state: control 0x0C (with the
//   interrupt-enable bit when the port has an interrupt line) and, on a port with an
//   extended control register, 0x34 there: byte (PS/2) mode, in which the direction bit
//   works. PPSETMODE touches no register: it sets the mode the driver's read() and write()
//   follow, and the mode the port is negotiated back from when it is released.
// - PPWCONTROL writes bits 0-3 (the four control lines) and keeps the rest of the
//   register. A direction bit in it turns the data lines to input but never back, with a
//   kernel log line for every such write, so it is left out and the direction goes
//   through PPDATADIR (0: the port drives the lines, otherwise they are inputs).
// - PPRCONTROL gives the driver's copy of bits 0-3 without reading the port; the
//   direction bit is not among them.
// - PPRDATA, PPWDATA and PPRSTATUS are one port access each; the status comes as the
//   register holds it, inversions included.

namespace {

constexpr uint8_t CONTROL_LINES = 0x0F;      // strobe, auto feed, initialise, select in
constexpr uint8_t CONTROL_DIRECTION = 0x20;  // 1: the data lines are inputs

enum class claim_result { claimed, exclusive_refused, failed };

void describe_claim_failure(int error, char* message, std::size_t size) {
    switch (error) {
    case EBUSY:
        std::snprintf(message, size,
                      "the port is in use by another driver (the lp printer driver, for one): "
                      "unload it (sudo modprobe -r lp) or end the program that holds the port");
        break;
    case ENXIO:
    case ENODEV:
        std::snprintf(message, size,
                      "the port cannot be registered: there is no parallel port behind this device, "
                      "or another program or driver keeps it for itself (another capture, or a driver "
                      "such as lp, the printer driver: sudo modprobe -r lp)");
        break;
    case ENOTTY:
    case EINVAL:
        std::snprintf(message, size,
                      "this is not a ppdev parallel port: give a device such as /dev/parport0");
        break;
    case EINTR:
        std::snprintf(message, size, "interrupted while waiting for the port, which another program holds");
        break;
    default:
        std::snprintf(message, size, "the port driver refused the claim: %s", std::strerror(error));
        break;
    }
}

claim_result claim(int fd, port_request_function request, bool exclusive, char* message, std::size_t size) {
    if (exclusive && request(fd, PPEXCL, nullptr) < 0) {
        // On a descriptor just opened, ppdev always accepts the request: a refusal means
        // another driver answered.
        describe_claim_failure(errno, message, size);
        return claim_result::failed;
    }
    if (request(fd, PPCLAIM, nullptr) < 0) {
        const int error = errno;
        describe_claim_failure(error, message, size);
        return exclusive && error == ENXIO ? claim_result::exclusive_refused : claim_result::failed;
    }
    int mode = IEEE1284_MODE_BYTE;
    if (request(fd, PPSETMODE, &mode) < 0) {
        const int error = errno;
        request(fd, PPRELEASE, nullptr);
        std::snprintf(message, size, "the port driver refused byte mode (PPSETMODE): %s", std::strerror(error));
        return claim_result::failed;
    }
    return claim_result::claimed;
}

int open_device(const char* path, char* message, std::size_t size) {
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd >= 0) return fd;
    const int error = errno;
    switch (error) {
    case ENOENT:
        std::snprintf(message, size,
                      "%s does not exist: is the parport_pc module loaded? (sudo modprobe parport_pc ppdev)",
                      path);
        break;
    case EACCES:
    case EPERM:
        std::snprintf(message, size,
                      "%s: permission denied: add your user to the lp group (sudo adduser $USER lp) and "
                      "log in again",
                      path);
        break;
    case ENXIO:
    case ENODEV:
        std::snprintf(message, size,
                      "%s: no parallel port behind this device: are the parport_pc and ppdev modules "
                      "loaded? (sudo modprobe parport_pc ppdev)",
                      path);
        break;
    case EBUSY: {
        char detail[256];
        describe_claim_failure(EBUSY, detail, sizeof detail);
        std::snprintf(message, size, "%s: %s", path, detail);
        break;
    }
    default:
        std::snprintf(message, size, "%s: %s", path, std::strerror(error));
        break;
    }
    return -1;
}

}  // namespace

int system_port_request(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }

ppdev_port_bus::ppdev_port_bus(int fd, uint16_t base, port_request_function request)
    : fd_(fd), base_(base), request_(request) {}

bool ppdev_port_bus::request(unsigned long code, const char* name, void* argument) {
    if (request_(fd_, code, argument) >= 0) return true;
    if (failed_request_ == nullptr) {
        failed_request_ = name;
        failed_errno_ = errno;
    }
    return false;
}

uint8_t ppdev_port_bus::in(uint16_t address) {
    unsigned char value = 0xFF;
    switch (static_cast<uint16_t>(address - base_)) {
    case PORT_DATA:
        return request(PPRDATA, "PPRDATA", &value) ? value : 0xFF;
    case PORT_STATUS:
        return request(PPRSTATUS, "PPRSTATUS", &value) ? value : 0xFF;
    case PORT_CONTROL:
        if (!request(PPRCONTROL, "PPRCONTROL", &value)) return 0xFF;
        return static_cast<uint8_t>((value & CONTROL_LINES) | (direction_ == 1 ? CONTROL_DIRECTION : 0));
    default:
        return 0xFF;
    }
}

void ppdev_port_bus::out(uint16_t address, uint8_t value) {
    switch (static_cast<uint16_t>(address - base_)) {
    case PORT_DATA: {
        unsigned char data = value;
        request(PPWDATA, "PPWDATA", &data);
        break;
    }
    case PORT_CONTROL: {
        // The lines turn before the control lines change, as on a port written directly,
        // where both go out in the one register write.
        int direction = (value & CONTROL_DIRECTION) ? 1 : 0;
        if (direction != direction_ && request(PPDATADIR, "PPDATADIR", &direction)) direction_ = direction;
        unsigned char lines = static_cast<unsigned char>(value & CONTROL_LINES);
        request(PPWCONTROL, "PPWCONTROL", &lines);
        break;
    }
    case PORT_ECR: {
        // The driver already put the extended control register into byte mode at the
        // claim; what is left is to tell ppdev.
        int mode = IEEE1284_MODE_BYTE;
        request(PPSETMODE, "PPSETMODE", &mode);
        break;
    }
    default:
        break;
    }
}

bool claim_ppdev(int fd, port_request_function request, char* message, std::size_t size) {
    return claim(fd, request, true, message, size) == claim_result::claimed;
}

int open_ppdev(const char* path, port_request_function request, char* message, std::size_t size) {
    char detail[256];
    int fd = open_device(path, message, size);
    if (fd < 0) return -1;
    claim_result result = claim(fd, request, true, detail, sizeof detail);
    if (result == claim_result::exclusive_refused) {
        // The wish for exclusive access stays with a descriptor, so a shared claim needs a
        // fresh one.
        ::close(fd);
        fd = open_device(path, message, size);
        if (fd < 0) return -1;
        result = claim(fd, request, false, detail, sizeof detail);
    }
    if (result != claim_result::claimed) {
        ::close(fd);
        std::snprintf(message, size, "%s: %s", path, detail);
        return -1;
    }
    return fd;
}

void close_ppdev(int fd, port_request_function request) {
    // Back to compatibility mode before the release: a port that ppdev lets go in any other
    // mode is negotiated back, which moves pins 14 and 17 and waits on pin 10.
    int mode = IEEE1284_MODE_COMPAT;
    request(fd, PPSETMODE, &mode);
    request(fd, PPRELEASE, nullptr);
    ::close(fd);
}

namespace {

#if defined(__i386__) || defined(__x86_64__)
int system_ioperm(unsigned long from, unsigned long count, int turn_on) { return ::ioperm(from, count, turn_on); }
uint8_t system_in(uint16_t address) { return inb(address); }
void system_out(uint16_t address, uint8_t value) { outb(value, address); }
#else
int system_ioperm(unsigned long, unsigned long, int) {
    errno = ENOSYS;
    return -1;
}
uint8_t system_in(uint16_t) { return 0xFF; }
void system_out(uint16_t, uint8_t) {}
#endif

}  // namespace

raw_port_functions system_raw_port_functions() { return {system_ioperm, system_in, system_out}; }

bool open_raw_port(uint16_t base, const raw_port_functions& functions, char* message, std::size_t size) {
    const unsigned long ecr = static_cast<unsigned long>(base) + PORT_ECR;
    if (functions.ioperm(base, 3, 1) == 0 && functions.ioperm(ecr, 1, 1) == 0) return true;
    const int error = errno;
    if (error == ENOSYS) {
        std::snprintf(message, size,
                      "raw port I/O is not available here (it needs an x86 machine whose kernel grants "
                      "I/O permission, which some kernels and virtual machines leave out): use a ppdev "
                      "device such as /dev/parport0");
    } else if (error == EPERM || error == EACCES) {
        std::snprintf(message, size,
                      "no permission for I/O ports 0x%x-0x%x and 0x%lx: raw port I/O needs root (or "
                      "CAP_SYS_RAWIO); a ppdev device such as /dev/parport0 needs none, only the lp group",
                      static_cast<unsigned>(base), static_cast<unsigned>(base + PORT_CONTROL), ecr);
    } else {
        std::snprintf(message, size, "no access to I/O ports 0x%x-0x%x and 0x%lx: %s",
                      static_cast<unsigned>(base), static_cast<unsigned>(base + PORT_CONTROL), ecr,
                      std::strerror(error));
    }
    return false;
}
