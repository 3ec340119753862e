#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include "hardware/port.h"
#include "hardware/port_bus_linux.h"

namespace {

using request_record = std::pair<unsigned long, int>;  // request, argument value (-1: none)

// The driver as the fake sees it: every request recorded with the value it carried in or
// out; reads give `reads`; one request can be made to fail.
struct fake_driver {
    std::vector<request_record> log;
    unsigned char reads = 0x55;
    unsigned long failing = 0;
    int failing_errno = 0;
    bool refuse_exclusive = false;  // a PPCLAIM right after PPEXCL fails with ENXIO
} driver;

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
    if (request == PPCLAIM && driver.refuse_exclusive && after_exclusive) {
        errno = ENXIO;
        return -1;
    }
    if (request != driver.failing) return 0;
    errno = driver.failing_errno;
    return -1;
}

constexpr uint16_t BASE = 0x278;  // not LPT1, so that the address really comes from the bus

class Ppdev : public ::testing::Test {
protected:
    ppdev_port_bus bus{5, BASE, fake_request};
    uint16_t saved_address = port_address;
    char message[512] = {};
    void SetUp() override {
        driver = fake_driver();
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
    EXPECT_TRUE(claim_ppdev(7, fake_request, message, sizeof message));
    std::vector<request_record> expected = {{PPEXCL, -1}, {PPCLAIM, -1}, {PPSETMODE, IEEE1284_MODE_BYTE}};
    EXPECT_EQ(driver.log, expected);

    driver = fake_driver();
    driver.failing = PPCLAIM;
    driver.failing_errno = EBUSY;
    EXPECT_FALSE(claim_ppdev(7, fake_request, message, sizeof message));
    EXPECT_NE(std::strstr(message, "in use by another driver (the lp printer driver"), nullptr) << message;
    EXPECT_EQ(driver.log.size(), 2u);  // no mode request on a port that is not claimed
}

TEST_F(Ppdev, OpenFallsBackToASharedClaimAndExplainsAMissingDevice) {
    driver.refuse_exclusive = true;
    int fd = open_ppdev("/dev/null", fake_request, message, sizeof message);
    ASSERT_GE(fd, 0) << message;
    std::vector<request_record> expected = {
        {PPEXCL, -1}, {PPCLAIM, -1}, {PPCLAIM, -1}, {PPSETMODE, IEEE1284_MODE_BYTE}};
    EXPECT_EQ(driver.log, expected);
    driver.log.clear();
    close_ppdev(fd, fake_request);  // compatibility mode first: no negotiation on release
    expected = {{PPSETMODE, IEEE1284_MODE_COMPAT}, {PPRELEASE, -1}};
    EXPECT_EQ(driver.log, expected);

    EXPECT_EQ(open_ppdev("/dev/korvane-no-such-port", fake_request, message, sizeof message), -1);
    EXPECT_NE(std::strstr(message, "is the parport_pc module loaded?"), nullptr) << message;
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
