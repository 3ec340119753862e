#include <gtest/gtest.h>

#include <vector>

#include "hardware/port.h"
#include "support/captured_boxes.h"
#include "support/recording_bus.h"

namespace {

constexpr uint16_t DATA = 0x378, STATUS = 0x379, CONTROL = 0x37A, ECR = 0x378 + 0x402;

class PortLink : public ::testing::Test {
protected:
    recording_bus bus;
    scoped_bus installed{bus};
    void SetUp() override { port_address = 0x378; }
};

TEST_F(PortLink, WriteRegisterIsOneDataWriteAndThreeStrobes) {
    write_register(3, 0x10);
    std::vector<port_access> expected = {
        out_at(DATA, 0x10),
        out_at(CONTROL, 0x0B), out_at(CONTROL, 0x0A), out_at(CONTROL, 0x0B),
        out_at(CONTROL, 0x0D), out_at(CONTROL, 0x0C), out_at(CONTROL, 0x0D),
        out_at(CONTROL, 0x0B), out_at(CONTROL, 0x0A), out_at(CONTROL, 0x0B),
    };
    EXPECT_EQ(bus.log, expected);
}

TEST_F(PortLink, ReadRegisterTurnsTheLinesRoundAndBack) {
    bus.reader = [](uint16_t address) -> uint8_t { return address == DATA ? 0x42 : 0; };
    EXPECT_EQ(read_register(REG_READBACK), 0x42);
    std::vector<port_access> expected = {
        out_at(CONTROL, 0x29), out_at(CONTROL, 0x28), out_at(CONTROL, 0x29),
        in_at(DATA, 0x42),
        out_at(CONTROL, 0x0B), out_at(CONTROL, 0x0A), out_at(CONTROL, 0x0B),
    };
    EXPECT_EQ(bus.log, expected);
}

TEST_F(PortLink, StrobeUsesTheLowFiveBitsOnly) {
    strobe_control(ICR_FIFO_STEP);
    EXPECT_EQ(bus.writes_to(CONTROL), (std::vector<uint8_t>{0x25, 0x24, 0x25}));
    bus.log.clear();
    strobe_control(0xE0 | ICR_FIFO_STEP);
    EXPECT_EQ(bus.writes_to(CONTROL), (std::vector<uint8_t>{0x25, 0x24, 0x25}));
    bus.log.clear();
    strobe_control(ICR_IDLE);
    EXPECT_EQ(bus.writes_to(CONTROL), (std::vector<uint8_t>{0x0B, 0x0A, 0x0B}));
}

TEST_F(PortLink, StatusAndControlAreGivenInPinLevels) {
    uint8_t raw = 0, raw_control = 0x20;
    bus.reader = [&](uint16_t address) -> uint8_t {
        if (address == STATUS) return raw;
        return address == CONTROL ? raw_control : 0;
    };
    raw = 0x80;  // every pin low: busy is inverted
    EXPECT_EQ(read_status(), 0x00);
    raw = 0xC0;  // pin 10 high
    EXPECT_EQ(read_status(), 0x40);
    raw = 0x40;  // pins 10 and 11 high
    EXPECT_EQ(read_status(), 0xC0);
    raw = 0x07;  // bits 0 and 1 never show, bit 2 passes as read
    EXPECT_EQ(read_status(), 0x84);
    // Direction bit set, strobe, auto feed and select-in inverted; bits 6 and 7 never show.
    EXPECT_EQ(read_control(), 0x2B);
    raw_control = 0xC0;
    EXPECT_EQ(read_control(), 0x0B);
    write_control(0xFF);
    EXPECT_EQ(bus.writes_to(CONTROL), (std::vector<uint8_t>{0x34}));
    write_data(0x99);
    EXPECT_EQ(bus.writes_to(DATA), (std::vector<uint8_t>{0x99}));
}

TEST_F(PortLink, BidirectionalCheckTurnsTheDataLinesToInput) {
    EXPECT_TRUE(check_bidirectional());  // nothing attached: the lines float high
    std::vector<port_access> expected = {
        out_at(ECR, 0x20), out_at(CONTROL, 0x20), out_at(DATA, 0xAA), in_at(DATA, 0xFF),
    };
    EXPECT_EQ(bus.log, expected);
    bus.reader = [](uint16_t) -> uint8_t { return 0xAA; };  // reads back its own latch
    EXPECT_FALSE(check_bidirectional());
}

TEST_F(PortLink, SelectingAPortUsesTheNewAddress) {
    set_port_address(0x278, true);
    EXPECT_EQ(get_port_address(), 0x278);
    EXPECT_EQ(bus.log.front(), out_at(0x278 + 0x402, 0x20));
    bus.log.clear();
    set_port_address(0x3BC, false);
    EXPECT_EQ(get_port_address(), 0x3BC);
    EXPECT_TRUE(bus.log.empty());
}

TEST(PortLinkDeathTest, APortThatCannotReadItsLinesEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            recording_bus bus;
            bus.reader = [](uint16_t) -> uint8_t { return 0xAA; };
            set_port_bus(&bus);
            set_port_address(0x278, true);
        },
        ::testing::ExitedWithCode(10),
        "Parallel Port NOT Bi-Directional/    Error Level : 10/    In Function : Main/Additional Info : \n");
}

}  // namespace
