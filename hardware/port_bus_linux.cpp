#include "hardware/port_bus_linux.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/major.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
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
//   works. To the capture hardware that control value is the strobe pin going high with code
//   3 on pins 14, 16 and 17: a write of whatever the data latch holds (the claim leaves the
//   latch alone) into REG_CONTROL, which can arm it and start sampling. Nothing can be sent
//   before the claim, so a session leaves the lines at its release in the state whose
//   restore is harmless: data lines driven with 0x00 (REG_CONTROL = 0 is the idle value a
//   finished capture writes itself) and the control lines idle, strobe low and code 0, as
//   every register access ends. The claim itself writes nothing.
// - PPCLAIM sleeps, with no time limit, while another device holds the port, and it sleeps
//   holding the one lock of every ppdev request in the system: meanwhile no other
//   program's ppdev request gets through, the holder's PPRELEASE included. A signal that
//   reaches a handler ends the sleep (EINTR), and only then can the holder let go.
// - A claim so ended leaves the device on the port's wait list, marked as waiting, so that
//   the holder's release hands the port to it: between two of its requests, since the
//   release waited for the lock. A second PPCLAIM on that descriptor is wrong either way:
//   on a port handed over meanwhile it returns as owner with a kernel log line ("already
//   owner"); on a port still held it puts the device on the wait list a second time, where
//   it ends up linked to itself. Closing the descriptor then leaves the list pointing at the
//   freed device: the holder's release runs into it and oopses with the lock held, and from
//   then on every ppdev request in the system sleeps for good. (Where the port does reach
//   a device listed twice, its own release later logs "don't know how to wake".)
//   So a descriptor is asked for one claim only: one that does not succeed is closed, which
//   takes a device that is on the list once off it soundly, and the wait goes on with a
//   fresh descriptor. A port handed over just before that close is released by it (with
//   "forgot to release port" in the kernel's debug log) and taken by the next claim.
// - PPSETMODE touches no register: it sets the mode the driver's read() and write()
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
    default:
        std::snprintf(message, size, "the port driver refused the claim: %s", std::strerror(error));
        break;
    }
}

constexpr long TICK_MICROSECONDS = 200000;

void wake_claim(int) {}  // its arrival is all: it ends the driver's sleep

// One PPCLAIM under an alarm that ticks every 0.2 s, or sooner when less of the wait is
// left. The alarm repeats, so that one which comes just before the driver goes to sleep is
// followed by another. The result and errno are the request's.
int claim_under_alarm(int fd, port_request_function request, double seconds_left) {
    struct sigaction wake = {};
    wake.sa_handler = wake_claim;
    sigemptyset(&wake.sa_mask);
    wake.sa_flags = 0;  // no SA_RESTART: the request ends at the alarm, whatever the kernel
    struct sigaction saved_action = {};
    sigaction(SIGALRM, &wake, &saved_action);
    sigset_t alarm_only, saved_mask;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarm_only, &saved_mask);

    // Compared before any conversion, so that no bound is too large for the clock's count.
    const long tick = seconds_left >= TICK_MICROSECONDS / 1e6
                          ? TICK_MICROSECONDS
                          : std::max(1000L, static_cast<long>(seconds_left * 1e6));
    itimerval timer = {};
    timer.it_value.tv_sec = tick / 1000000;
    timer.it_value.tv_usec = tick % 1000000;
    timer.it_interval = timer.it_value;
    itimerval saved_timer = {};
    setitimer(ITIMER_REAL, &timer, &saved_timer);

    const int claimed = request(fd, PPCLAIM, nullptr);
    const int error = errno;

    // The alarm stops while its handler is still in place; with SIGALRM still open, a tick
    // already sent has been taken by now. Only then does the program get its own back.
    const itimerval stopped = {};
    setitimer(ITIMER_REAL, &stopped, nullptr);
    pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
    sigaction(SIGALRM, &saved_action, nullptr);
    setitimer(ITIMER_REAL, &saved_timer, nullptr);
    errno = error;
    return claimed;
}

int claim_refused(const char* path, int error, char* message, std::size_t size) {
    char detail[256];
    describe_claim_failure(error, detail, sizeof detail);
    std::snprintf(message, size, "%s: %s", path, detail);
    return -1;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Says what path names, when that is no ppdev port; false for a ppdev device.
bool describe_non_port(const char* path, const struct stat& file, char* message, std::size_t size) {
    const mode_t mode = file.st_mode;
    const char* kind = S_ISREG(mode)    ? "a regular file"
                       : S_ISDIR(mode)  ? "a directory"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISFIFO(mode) ? "a named pipe"
                       : S_ISSOCK(mode) ? "a socket"
                                        : nullptr;
    if (kind != nullptr)
        std::snprintf(message, size, "'%s' is %s, not a parallel port device (such as /dev/parport0)", path,
                      kind);
    else if (major(file.st_rdev) != PP_MAJOR)
        std::snprintf(message, size,
                      "'%s' is a character device but not a ppdev parallel port (such as /dev/parport0)", path);
    else
        return false;
    return true;
}

}  // namespace

int open_ppdev_device(const char* path, char* message, std::size_t size) {
    // Looked at first, so that a file the user may not open is still named for what it is.
    struct stat before = {};
    const bool known = ::stat(path, &before) == 0;
    // Without waiting: a serial port's open would wait for its carrier. ppdev's requests
    // ignore the flag, which is taken off again all the same.
    const int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        struct stat file = {};
        bool refused = true;
        if (::fstat(fd, &file) != 0)
            std::snprintf(message, size, "%s: %s", path, std::strerror(errno));
        else if (S_ISCHR(file.st_mode) && ::isatty(fd))
            std::snprintf(message, size, "'%s' is a terminal, not a parallel port (such as /dev/parport0)", path);
        else
            refused = describe_non_port(path, file, message, size);
        if (!refused) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        ::close(fd);
        return -1;
    }
    const int error = errno;
    if (known && describe_non_port(path, before, message, size)) return -1;
    switch (error) {
    case ENOENT:
        std::snprintf(message, size,
                      "%s does not exist: is the parport_pc module loaded? (sudo modprobe parport_pc ppdev)",
                      path);
        break;
    case EACCES:
    case EPERM:
        if (known || std::strncmp(path, "/dev/parport", 12) == 0)
            std::snprintf(message, size,
                          "%s: permission denied: add your user to the lp group (sudo adduser $USER lp) and "
                          "log in again",
                          path);
        else
            std::snprintf(message, size, "%s: permission denied", path);
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

int open_ppdev(const char* path, port_request_function request, const port_wait& wait,
               port_open_result& result, char* message, std::size_t size) {
    return open_ppdev(path, open_ppdev_device, ::close, request, wait, result, message, size);
}

int open_ppdev(const char* path, port_device_open_function open, port_device_close_function close,
               port_request_function request, const port_wait& wait, port_open_result& result, char* message,
               std::size_t size) {
    result = port_open_result::failed;
    const double bound = wait.bound_seconds > 0 ? wait.bound_seconds : 0;  // never negative or NaN
    const auto start = std::chrono::steady_clock::now();
    bool exclusive = true;
    bool noticed = false;
    // One claim per descriptor (see the top): each claim that has to wait gets a fresh one.
    for (;;) {
        const int fd = open(path, message, size);
        if (fd < 0) return -1;
        if (exclusive && request(fd, PPEXCL, nullptr) < 0) {
            // On a descriptor just opened, ppdev always accepts the request: a refusal means
            // another driver answered.
            const int error = errno;
            close(fd);
            return claim_refused(path, error, message, size);
        }
        if (claim_under_alarm(fd, request, bound - seconds_since(start)) == 0) {
            int mode = IEEE1284_MODE_BYTE;
            if (request(fd, PPSETMODE, &mode) == 0) {
                result = port_open_result::opened;
                return fd;
            }
            const int error = errno;
            request(fd, PPRELEASE, nullptr);
            close(fd);
            std::snprintf(message, size, "%s: the port driver refused byte mode (PPSETMODE): %s", path,
                          std::strerror(error));
            return -1;
        }
        const int error = errno;
        close(fd);
        if (exclusive && error == ENXIO) {
            // Refused at the claim: the wish for exclusive access stays with a descriptor, so
            // the shared claims need fresh ones.
            exclusive = false;
            continue;
        }
        if (error != EINTR) return claim_refused(path, error, message, size);
        if (wait.interrupted != nullptr && *wait.interrupted != 0) {
            result = port_open_result::interrupted;
            std::snprintf(message, size, "interrupted while waiting for %s, which another program holds", path);
            return -1;
        }
        if (seconds_since(start) >= bound) {
            result = port_open_result::busy;
            if (bound > 0)
                std::snprintf(message, size,
                              "%s is held by another program, and stayed so for %g s (--port-wait SECONDS "
                              "waits longer)",
                              path, bound);
            else
                std::snprintf(message, size, "%s is held by another program (--port-wait SECONDS waits for it)",
                              path);
            return -1;
        }
        if (!noticed) {
            noticed = true;
            if (wait.notice != nullptr) wait.notice(path, wait.context);
        }
    }
}

void close_ppdev(int fd, port_request_function request) {
    // The lines as every register access leaves them, turned to the port as at the end of a
    // read, and then the latch cleared while the strobe is low: the device takes nothing
    // now, and the restore at the next claim hands it REG_CONTROL = 0.
    ppdev_port_bus bus(fd, 0, request);
    bus.out(PORT_CONTROL, static_cast<uint8_t>(((ICR_IDLE << 1) ^ CONTROL_INVERTED) & 0x3F));
    bus.out(PORT_DATA, 0x00);
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
