#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "hardware/port.h"
#include "hardware/port_bus_linux.h"
#include "tests/support/temp_dir.h"

namespace {

using request_record = std::pair<unsigned long, int>;  // request, argument value (-1: none)
using device_write = std::pair<int, int>;               // register, value (-1: lines not driven)

// The driver as the fake sees it: every request recorded with the value it carried in or
// out; reads give `reads`; one request can be made to fail.
struct fake_driver {
    std::vector<request_record> log;
    unsigned char reads = 0x55;
    unsigned long failing = 0;
    int failing_errno = 0;
    bool refuse_exclusive = false;  // a PPCLAIM right after PPEXCL fails with ENXIO
    // Another program holds the port: this many PPCLAIMs (every one while negative) sleep
    // until a signal ends them. The PPCLAIM numbered interrupt_at (counting from 1) is ended
    // by the program's own interrupt, which sets its flag.
    int blocking_claims = 0;
    int interrupt_at = 0;
    int claims = 0;
    bool slept_on = false;  // a claim slept where no alarm could have ended it
    // The device behind the port: the raw control lines, the latch and its direction; the
    // strobe pin rising takes the data lines into the register the code names.
    unsigned char lines = 0x0B;
    unsigned char latch = 0;
    bool driven = true;
    std::vector<device_write> device_writes;
} driver;

volatile sig_atomic_t interrupted = 0;

void set_lines(unsigned char raw) {
    if ((driver.lines & 1) && !(raw & 1))  // bit 0 is inverted: the strobe pin goes high
        driver.device_writes.emplace_back(((raw ^ CONTROL_INVERTED) >> 1) & 7, driver.driven ? driver.latch : -1);
    driver.lines = raw;
}

// The driver's sleep in PPCLAIM: it ends at a signal let through to a handler that does not
// ask for the call to be restarted. Where no repeating alarm is set up so, the real claim
// would sleep on; the fake notes that and returns.
int sleep_until_signal() {
    itimerval timer = {};
    getitimer(ITIMER_REAL, &timer);
    struct sigaction action = {};
    sigaction(SIGALRM, nullptr, &action);
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    if (!timerisset(&timer.it_interval) || sigismember(&mask, SIGALRM) || (action.sa_flags & SA_RESTART))
        driver.slept_on = true;
    else
        sigsuspend(&mask);
    errno = EINTR;
    return -1;
}

int fake_request(int, unsigned long request, void* argument) {
    int value = -1;
    if (request == PPRDATA || request == PPRSTATUS || request == PPRCONTROL)
        value = *static_cast<unsigned char*>(argument) = driver.reads;
    else if (_IOC_SIZE(request) == 1)
        value = *static_cast<unsigned char*>(argument);
    else if (_IOC_SIZE(request) == sizeof(int))
        value = *static_cast<int*>(argument);
    const bool after_exclusive = !driver.log.empty() && driver.log.back().first == PPEXCL;
    driver.log.emplace_back(request, value);
    if (request == PPCLAIM) {
        if (driver.refuse_exclusive && after_exclusive) {
            errno = ENXIO;
            return -1;
        }
        if (++driver.claims > 25) {  // a wait past every bound here fails rather than hangs
            errno = EIO;
            return -1;
        }
        if (driver.claims == driver.interrupt_at) {
            interrupted = 1;
            errno = EINTR;
            return -1;
        }
        if (driver.blocking_claims != 0) {
            --driver.blocking_claims;
            return sleep_until_signal();
        }
    }
    if (request == driver.failing) {
        errno = driver.failing_errno;
        return -1;
    }
    if (request == PPWDATA) driver.latch = static_cast<unsigned char>(value);
    if (request == PPDATADIR) driver.driven = value == 0;
    if (request == PPWCONTROL) set_lines(static_cast<unsigned char>(value));
    if (request == PPCLAIM) {  // parport_pc restores control 0x0C: lines driven, strobe high, code 3
        driver.driven = true;
        set_lines(0x0C);
    }
    return 0;
}

int open_null(const char*, char*, std::size_t) { return ::open("/dev/null", O_RDWR | O_CLOEXEC); }

void count_notice(const char* path, void* context) {
    EXPECT_STREQ(path, "/dev/parport0");
    ++*static_cast<int*>(context);
}

constexpr uint16_t BASE = 0x278;  // not LPT1, so that the address really comes from the bus

class Ppdev : public ::testing::Test {
protected:
    ppdev_port_bus bus{5, BASE, fake_request};
    uint16_t saved_address = port_address;
    char message[512] = {};
    port_open_result result = port_open_result::opened;
    int open(const port_wait& wait = port_wait()) {
        return open_ppdev("/dev/parport0", open_null, ::close, fake_request, wait, result, message, sizeof message);
    }
    void SetUp() override {
        driver = fake_driver();
        interrupted = 0;
        set_port_bus(&bus);
        port_address = BASE;
    }
    void TearDown() override {
        set_port_bus(nullptr);
        port_address = saved_address;
    }
};

request_record control(int lines) { return {PPWCONTROL, lines}; }

TEST_F(Ppdev, BidirectionalCheckTurnsTheLinesThroughTheDirectionRequest) {
    EXPECT_TRUE(check_bidirectional());  // reads 0x55 back after writing 0xAA
    std::vector<request_record> expected = {
        {PPSETMODE, IEEE1284_MODE_BYTE},  // the extended control register write
        {PPDATADIR, 1}, control(0x00),    // control 0x20: lines in, every line bit 0
        {PPWDATA, 0xAA}, {PPRDATA, 0x55},
    };
    EXPECT_EQ(driver.log, expected);
    // The driver gives back the line bits only; the direction comes from the last request.
    driver.reads = 0x0B;
    EXPECT_EQ(read_control(), 0x20);
    EXPECT_EQ(bus.in(BASE + PORT_STATUS), 0x0B);  // the raw register: the core undoes inversions
    EXPECT_EQ(driver.log.back(), request_record(PPRSTATUS, 0x0B));
    EXPECT_EQ(bus.failed_request(), nullptr);

    // A port that went away: the first refusal is kept, and reads give 0xFF.
    driver.failing = PPRDATA;
    driver.failing_errno = ENODEV;
    EXPECT_EQ(read_data(), 0xFF);
    driver.failing = PPWCONTROL;
    write_control(0);
    EXPECT_STREQ(bus.failed_request(), "PPRDATA");
    EXPECT_EQ(bus.failed_errno(), ENODEV);
}

TEST_F(Ppdev, RegisterAccessesAskForTheDirectionOnlyWhenItChanges) {
    write_register(REG_CONTROL, 0x10);
    std::vector<request_record> expected = {
        {PPWDATA, 0x10},
        {PPDATADIR, 0}, control(0x0B), control(0x0A), control(0x0B),
        control(0x0D), control(0x0C), control(0x0D),
        control(0x0B), control(0x0A), control(0x0B),
    };
    EXPECT_EQ(driver.log, expected);
    driver.log.clear();
    driver.reads = 0x42;
    EXPECT_EQ(read_register(REG_READBACK), 0x42);
    expected = {
        {PPDATADIR, 1}, control(0x09), control(0x08), control(0x09),
        {PPRDATA, 0x42},
        {PPDATADIR, 0}, control(0x0B), control(0x0A), control(0x0B),
    };
    EXPECT_EQ(driver.log, expected);
}

TEST_F(Ppdev, ClaimAsksForExclusiveAccessThenByteMode) {
    const int fd = open();
    ASSERT_GE(fd, 0) << message;
    EXPECT_EQ(result, port_open_result::opened);
    std::vector<request_record> expected = {{PPEXCL, -1}, {PPCLAIM, -1}, {PPSETMODE, IEEE1284_MODE_BYTE}};
    EXPECT_EQ(driver.log, expected);
    ::close(fd);

    driver = fake_driver();
    driver.failing = PPCLAIM;
    driver.failing_errno = EBUSY;
    EXPECT_EQ(open(), -1);
    EXPECT_EQ(result, port_open_result::failed);
    EXPECT_NE(std::strstr(message, "/dev/parport0: the port is in use by another driver (the lp printer driver"),
              nullptr)
        << message;
    EXPECT_EQ(driver.log.size(), 2u);  // no mode request on a port that is not claimed
}

TEST_F(Ppdev, OpenFallsBackToASharedClaimAndExplainsAMissingDevice) {
    driver.refuse_exclusive = true;
    int fd = open();
    ASSERT_GE(fd, 0) << message;
    std::vector<request_record> expected = {
        {PPEXCL, -1}, {PPCLAIM, -1}, {PPCLAIM, -1}, {PPSETMODE, IEEE1284_MODE_BYTE}};
    EXPECT_EQ(driver.log, expected);  // the claim writes no register
    driver.log.clear();
    close_ppdev(fd, fake_request);  // idle lines and latch 0, compatibility mode: no negotiation
    expected = {{PPDATADIR, 0}, control(0x0B), {PPWDATA, 0x00}, {PPSETMODE, IEEE1284_MODE_COMPAT}, {PPRELEASE, -1}};
    EXPECT_EQ(driver.log, expected);

    EXPECT_EQ(open_ppdev("/dev/korvane-no-such-port", fake_request, port_wait(), result, message, sizeof message),
              -1);
    EXPECT_EQ(result, port_open_result::failed);
    EXPECT_NE(std::strstr(message, "is the parport_pc module loaded?"), nullptr) << message;
}

TEST_F(Ppdev, TheNextClaimShowsTheDeviceOnlyAnIdleControlWrite) {
    // A session leaves a byte in the latch, as a write of the hold register (or io --data) does.
    int fd = open();
    ASSERT_GE(fd, 0) << message;
    write_register(REG_HOLD, 0x5A);
    close_ppdev(fd, fake_request);
    driver.device_writes.clear();
    fd = open();  // the next program's claim: the driver restores control 0x0C
    ASSERT_GE(fd, 0) << message;
    EXPECT_EQ(driver.device_writes, (std::vector<device_write>{{REG_CONTROL, 0x00}}));
    ::close(fd);
}

TEST_F(Ppdev, AClaimThatWaitsIsWokenByItsAlarmAndGivesTheProgramItsSignalsBack) {
    // SIGALRM blocked in the program: the claim opens it for its alarm and gives it back.
    sigset_t alarm_only, saved_mask, mask_after;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm_only, &saved_mask);
    driver.refuse_exclusive = true;
    driver.blocking_claims = 2;
    int notices = 0;
    port_wait wait;
    wait.bound_seconds = 1e300;  // no bound, and no count of the clock's to overflow
    wait.notice = count_notice;
    wait.context = &notices;
    const int fd = open(wait);

    itimerval timer = {};
    getitimer(ITIMER_REAL, &timer);
    struct sigaction after = {};
    sigaction(SIGALRM, nullptr, &after);
    pthread_sigmask(SIG_SETMASK, &saved_mask, &mask_after);
    EXPECT_FALSE(timerisset(&timer.it_value));
    EXPECT_TRUE(sigismember(&mask_after, SIGALRM));
    EXPECT_EQ(after.sa_handler, SIG_DFL);

    ASSERT_GE(fd, 0) << message;
    EXPECT_EQ(result, port_open_result::opened);
    EXPECT_FALSE(driver.slept_on);
    EXPECT_EQ(notices, 1);
    std::vector<request_record> expected = {{PPEXCL, -1}, {PPCLAIM, -1}, {PPCLAIM, -1}, {PPCLAIM, -1},
                                            {PPCLAIM, -1}, {PPSETMODE, IEEE1284_MODE_BYTE}};
    EXPECT_EQ(driver.log, expected);
    ::close(fd);
}

TEST_F(Ppdev, AClaimGivesUpAtItsBoundOrWhenTheProgramIsInterrupted) {
    driver.blocking_claims = -1;  // the other program never lets go
    port_wait wait;
    wait.bound_seconds = 0.3;
    EXPECT_EQ(open(wait), -1);
    EXPECT_EQ(result, port_open_result::busy);
    EXPECT_STREQ(message,
                 "/dev/parport0 is held by another program, and stayed so for 0.3 s (--port-wait SECONDS waits "
                 "longer)");
    EXPECT_EQ(driver.log.back(), request_record(PPCLAIM, -1));  // no byte mode on a port not claimed

    wait.bound_seconds = 0;
    EXPECT_EQ(open(wait), -1);
    EXPECT_EQ(result, port_open_result::busy);
    EXPECT_NE(std::strstr(message, "held by another program"), nullptr) << message;

    driver = fake_driver();
    driver.refuse_exclusive = true;
    driver.blocking_claims = -1;
    driver.interrupt_at = 2;  // the second shared claim
    wait.bound_seconds = 2;
    wait.interrupted = &interrupted;
    EXPECT_EQ(open(wait), -1);
    EXPECT_EQ(result, port_open_result::interrupted);
    EXPECT_STREQ(message, "interrupted while waiting for /dev/parport0, which another program holds");
    std::vector<request_record> expected = {{PPEXCL, -1}, {PPCLAIM, -1}, {PPCLAIM, -1}, {PPCLAIM, -1}};
    EXPECT_EQ(driver.log, expected);
    EXPECT_FALSE(driver.slept_on);
}

// The parallel-port layer under ppdev, as Linux 6.1 has it (parport_claim, _claim_or_block,
// _release and _unregister_device in drivers/parport/share.c; PPCLAIM, PPRELEASE and the
// close in drivers/char/ppdev.c), faults included: the port's wait list, the hand-over at a
// release, a claim that a signal ends, and the kernel's log lines.
struct pardevice {
    bool exclusive = false, registered = false, claimed = false, freed = false;  // claimed: PP_CLAIMED
    unsigned waiting = 0;
    pardevice* waitprev = nullptr;
    pardevice* waitnext = nullptr;
};
struct parport_layer {
    std::deque<pardevice> devices;
    std::map<int, pardevice*> by_fd;
    pardevice* cad = nullptr;
    pardevice* waithead = nullptr;
    pardevice* waittail = nullptr;
    std::vector<std::string> log;
    bool oops = false;  // a release walked into a freed device, or round a loop
    int sleeps = 0;
    int interrupt_at = 0;      // the claim whose sleep is ended by the program's interrupt
    int holder_lets_go_at = 0;  // the holder's PPRELEASE waits for the claim's lock; it runs as that sleep ends
} kernel;

void unlink(pardevice* d) {
    (d->waitprev ? d->waitprev->waitnext : kernel.waithead) = d->waitnext;
    (d->waitnext ? d->waitnext->waitprev : kernel.waittail) = d->waitprev;
}
int parport_claim(pardevice* d) {
    if (kernel.cad == d) {
        kernel.log.push_back("already owner");
        return 0;
    }
    if (kernel.cad != nullptr) {
        if ((d->waiting & 2) && !(d->waiting & 1)) {  // appended whenever bit 0 is clear
            d->waiting |= 1;
            d->waitnext = nullptr;
            d->waitprev = kernel.waittail;
            (kernel.waittail ? kernel.waittail->waitnext : kernel.waithead) = d;
            kernel.waittail = d;
        }
        return -EAGAIN;
    }
    if (d->waiting & 1) {
        d->waiting = 0;
        unlink(d);
        d->waitprev = d->waitnext = nullptr;
    }
    kernel.cad = d;
    return 0;
}
void parport_release(pardevice* d) {
    if (kernel.cad != d) {
        kernel.log.push_back("tried to release parport when not owner");
        return;
    }
    kernel.cad = nullptr;
    int steps = 0;
    for (pardevice* p = kernel.waithead; p != nullptr; p = p->waitnext) {
        if (p->freed || ++steps > 4) {  // the kernel oopses, or goes round for good
            kernel.oops = true;
            return;
        }
        if (p->waiting & 2) {
            parport_claim(p);
            return;
        }
        kernel.log.push_back("don't know how to wake");
    }
}
int kernel_open(const char*, char*, std::size_t) {
    const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    kernel.by_fd[fd] = &kernel.devices.emplace_back();
    return fd;
}
int kernel_close(int fd) {
    pardevice* d = kernel.by_fd.at(fd);
    if (d->claimed) parport_release(d);
    if (d->registered) {  // parport_unregister_device
        if (kernel.cad == d) {
            kernel.log.push_back("forgot to release port");
            parport_release(d);
        }
        if (d->waitprev || d->waitnext || kernel.waithead == d) unlink(d);
        d->freed = true;
    }
    kernel.by_fd.erase(fd);
    return ::close(fd);
}
int kernel_request(int fd, unsigned long request, void*) {
    pardevice* d = kernel.by_fd.at(fd);
    if (request == PPEXCL) d->exclusive = true;
    if (request == PPEXCL || request == PPSETMODE) return 0;  // no claim needed
    if (request == PPCLAIM && !d->claimed) {
        const bool others = std::any_of(kernel.devices.begin(), kernel.devices.end(),
                                        [](const pardevice& o) { return o.registered && !o.freed; });
        if (!d->registered && d->exclusive && others) {
            kernel.log.push_back("cannot grant exclusive access");
            errno = ENXIO;
            return -1;
        }
        d->registered = true;
        d->waiting = 2;
        if (parport_claim(d) == -EAGAIN && d->waiting) {
            if (++kernel.sleeps == kernel.interrupt_at)
                interrupted = 1;
            else
                sleep_until_signal();
            if (kernel.sleeps == kernel.holder_lets_go_at) parport_release(&kernel.devices.front());
            errno = EINTR;
            return -1;
        }
        d->waiting = 0;
        d->claimed = true;
        return 0;
    }
    if (!d->claimed) {
        errno = EINVAL;
        return -1;
    }
    if (request == PPRELEASE) {
        parport_release(d);
        d->claimed = false;
    }
    return 0;
}

int open_through_kernel(const port_wait& wait, port_open_result& result, char* message, std::size_t size) {
    return open_ppdev("/dev/parport0", kernel_open, kernel_close, kernel_request, wait, result, message, size);
}

TEST_F(Ppdev, AWaitForAPortThatAnotherProgramHoldsLeavesTheKernelsWaitListSound) {
    port_wait wait;
    wait.interrupted = &interrupted;
    for (const int lets_go_at : {2, 0}) {
        // The other program holds the port, and lets go while the second claim that has to
        // wait sleeps; or Ctrl+C ends that sleep, and the holder lets go afterwards.
        kernel = parport_layer();
        pardevice& holder = kernel.devices.emplace_back();  // its PPRELEASE: parport_release
        holder.registered = true;
        kernel.cad = &holder;
        kernel.holder_lets_go_at = lets_go_at;
        kernel.interrupt_at = lets_go_at == 0 ? 2 : 0;
        const int fd = open_through_kernel(wait, result, message, sizeof message);
        if (lets_go_at != 0) {
            ASSERT_GE(fd, 0) << message;
            close_ppdev(fd, kernel_request);
        } else {
            EXPECT_EQ(result, port_open_result::interrupted);
            parport_release(&holder);
        }
        EXPECT_FALSE(kernel.oops);
        EXPECT_EQ(kernel.cad, nullptr);
        EXPECT_EQ(kernel.waithead, nullptr);
        // A port handed over between two requests can be given up by the close (which the
        // kernel notes in its debug log) or taken by a second PPCLAIM ("already owner").
        std::vector<std::string> expected = {"cannot grant exclusive access"};
        if (lets_go_at != 0) expected.push_back("forgot to release port");
        EXPECT_EQ(kernel.log, expected);
    }
    // The holder closes its descriptor, and the next program has the port at once.
    kernel.devices.front().freed = true;
    kernel.log.clear();
    wait.bound_seconds = 0;
    EXPECT_GE(open_through_kernel(wait, result, message, sizeof message), 0) << message;
    EXPECT_TRUE(kernel.log.empty());
    EXPECT_FALSE(driver.slept_on);
}

TEST_F(Ppdev, APathThatNamesNoParallelPortIsCalledWhatItIs) {
    temp_dir dir;
    const std::string file = dir.file("capture.csv");
    const std::string locked = dir.file("locked.csv");
    write_bytes(file, {1});
    write_bytes(locked, {1});
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);  // still "a regular file", not the lp group
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {file, "' is a regular file, not a parallel port device"},
        {locked, "' is a regular file, not a parallel port device"},
        {dir.path().string(), "' is a directory, not a parallel port device"},
        {"/dev/null", "' is a character device but not a ppdev parallel port"},
        {::ptsname(terminal), "' is a terminal, not a parallel port"},
    };
    for (const auto& [path, says] : cases) {
        result = port_open_result::opened;
        EXPECT_EQ(open_ppdev(path.c_str(), fake_request, port_wait(), result, message, sizeof message), -1);
        EXPECT_EQ(result, port_open_result::failed);
        EXPECT_EQ(std::string(message), "'" + path + says + " (such as /dev/parport0)");
    }
    EXPECT_TRUE(driver.log.empty());  // nothing is asked of what is no port
    ::close(terminal);
}

std::vector<std::vector<unsigned long>> raw_log;
int raw_errno = 0;

int fake_ioperm(unsigned long from, unsigned long count, int turn_on) {
    raw_log.push_back({from, count, static_cast<unsigned long>(turn_on)});
    errno = raw_errno;
    return raw_errno == 0 ? 0 : -1;
}
uint8_t fake_in(uint16_t address) { return static_cast<uint8_t>(address + 1); }
void fake_out(uint16_t address, uint8_t value) { raw_log.push_back({address, value}); }

TEST(RawPort, AsksForTheThreeRegistersAndTheExtendedControlRegister) {
    raw_port_functions functions = {fake_ioperm, fake_in, fake_out};
    char message[512] = {};
    EXPECT_TRUE(open_raw_port(0x378, functions, message, sizeof message));
    EXPECT_EQ(raw_log, (std::vector<std::vector<unsigned long>>{{0x378, 3, 1}, {0x77A, 1, 1}}));

    raw_errno = EPERM;
    EXPECT_FALSE(open_raw_port(0x378, functions, message, sizeof message));
    EXPECT_NE(std::strstr(message, "needs root"), nullptr) << message;
    EXPECT_NE(std::strstr(message, "/dev/parport0 needs none"), nullptr) << message;

    raw_port_bus bus(functions);
    raw_log.clear();
    EXPECT_EQ(bus.in(0x379), 0x7A);
    bus.out(0x37A, 0x2B);
    EXPECT_EQ(raw_log, (std::vector<std::vector<unsigned long>>{{0x37A, 0x2B}}));
}

}  // namespace
