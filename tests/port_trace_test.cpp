#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hardware/capture_sequence.h"
#include "hardware/port.h"
#include "hardware/port_trace.h"
#include "support/recording_bus.h"
#include "support/temp_dir.h"

namespace {

class PortTrace : public ::testing::Test {
protected:
    temp_dir dir;
    std::string name = dir.file("trace.txt");
    std::FILE* file = std::fopen(name.c_str(), "wb");
    recording_bus device;
    tracing_port_bus trace{device, 0x378, file};
    scoped_bus installed{trace};
    std::size_t read_so_far = 0;
    void SetUp() override { port_address = 0x378; }
    void TearDown() override { std::fclose(file); }

    // The lines written since the last call.
    std::vector<std::string> lines() {
        std::fflush(file);
        auto bytes = read_bytes(name);
        std::string text(bytes.begin() + static_cast<std::ptrdiff_t>(read_so_far), bytes.end());
        read_so_far = bytes.size();
        std::vector<std::string> result;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            result.push_back(text.substr(at, end - at));
        return result;
    }
};

TEST_F(PortTrace, ARegisterWriteShowsTheByteTakenAtTheStrobe) {
    write_register(REG_CONTROL, 0x10);
    std::vector<std::string> expected = {
        "0x378 out 0x10  data: latch",
        "0x37a out 0x0b  control: strobe low, code 0, lines out",
        "0x37a out 0x0a  control: strobe rises, code 0, lines out: idle",
        "0x37a out 0x0b  control: strobe falls, code 0, lines out",
        "0x37a out 0x0d  control: strobe low, code 3, lines out",
        "0x37a out 0x0c  control: strobe rises, code 3, lines out: write REG_CONTROL = 0x10 (start sampling)",
        "0x37a out 0x0d  control: strobe falls, code 3, lines out",
        "0x37a out 0x0b  control: strobe low, code 0, lines out",
        "0x37a out 0x0a  control: strobe rises, code 0, lines out: idle",
        "0x37a out 0x0b  control: strobe falls, code 0, lines out",
    };
    EXPECT_EQ(lines(), expected);
    EXPECT_TRUE(trace.ok());
}

TEST_F(PortTrace, ACounterReadNamesTheSelectedByte) {
    device.reader = [](uint16_t address) -> uint8_t { return address == 0x378 ? 0x42 : 0xFF; };
    write_register(REG_TRIGGER, 0x10);
    EXPECT_EQ(lines().at(5),
              "0x37a out 0x00  control: strobe rises, code 5, lines out: write REG_TRIGGER = 0x10 "
              "(rising edge, counter bits 8-15 on REG_READBACK)");
    EXPECT_EQ(read_register(REG_READBACK), 0x42);
    std::vector<std::string> expected = {
        "0x37a out 0x29  control: strobe low, code 1, lines in",
        "0x37a out 0x28  control: strobe rises, code 1, lines in: read REG_READBACK (counter bits 8-15)",
        "0x37a out 0x29  control: strobe falls, code 1, lines in",
        "0x378 in  0x42  data: counter bits 8-15",
        "0x37a out 0x0b  control: strobe low, code 0, lines out",
        "0x37a out 0x0a  control: strobe rises, code 0, lines out: idle",
        "0x37a out 0x0b  control: strobe falls, code 0, lines out",
    };
    EXPECT_EQ(lines(), expected);
}

TEST_F(PortTrace, AReadOutStepGivesASampleByteOfTheSelectedFifo) {
    select_fifo(true);
    EXPECT_EQ(lines().at(5),
              "0x37a out 0x0c  control: strobe rises, code 3, lines out: write REG_CONTROL = 0xe0 (read FIFO A)");
    strobe_control(ICR_FIFO_STEP);
    read_data();
    read_status();
    std::vector<std::string> expected = {
        "0x37a out 0x25  control: strobe low, code 7, lines in",
        "0x37a out 0x24  control: strobe rises, code 7, lines in: FIFO step, FIFO A",
        "0x37a out 0x25  control: strobe falls, code 7, lines in",
        "0x378 in  0xff  data: sample byte, FIFO A",
        "0x379 in  0xff  status: pins 0x7c, capture complete",
    };
    EXPECT_EQ(lines(), expected);
}

TEST_F(PortTrace, ValuesPassThroughUnchangedAndAFailedWriteIsReported) {
    device.reader = [](uint16_t address) -> uint8_t { return static_cast<uint8_t>(address * 7); };
    EXPECT_EQ(trace.in(0x379), static_cast<uint8_t>(0x379 * 7));
    EXPECT_EQ(trace.in(0x77A), static_cast<uint8_t>(0x77A * 7));
    trace.out(0x378, 0xA5);
    trace.out(0x77A, 0x20);
    trace.out(0x100, 0x01);
    std::vector<port_access> expected = {
        in_at(0x379, static_cast<uint8_t>(0x379 * 7)), in_at(0x77A, static_cast<uint8_t>(0x77A * 7)),
        out_at(0x378, 0xA5), out_at(0x77A, 0x20), out_at(0x100, 0x01),
    };
    EXPECT_EQ(device.log, expected);
    EXPECT_EQ(lines().at(3), "0x77a out 0x20  ECR: byte mode");

    std::FILE* read_only = std::fopen(name.c_str(), "rb");
    ASSERT_NE(read_only, nullptr);
    tracing_port_bus refused(device, 0x378, read_only);
    refused.out(0x378, 1);
    EXPECT_FALSE(refused.ok());
    std::fclose(read_only);
}

}  // namespace
