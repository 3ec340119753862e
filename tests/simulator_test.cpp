// The unchanged capture sequence against the simulated capture hardware.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "hardware/capture_sequence.h"
#include "simulator/simulated_device.h"
#include "support/captured_boxes.h"
#include "support/recording_bus.h"
#include "support/recording_services.h"

namespace {

constexpr uint16_t STATUS = 0x379;

// Passes every access on to the device and records it.
struct tap_bus : port_bus {
    port_bus& device;
    std::vector<port_access> log;
    explicit tap_bus(port_bus& d) : device(d) {}
    uint8_t in(uint16_t address) override {
        uint8_t v = device.in(address);
        log.push_back(in_at(address, v));
        return v;
    }
    void out(uint16_t address, uint8_t value) override {
        log.push_back(out_at(address, value));
        device.out(address, value);
    }
};

std::chrono::steady_clock::time_point fake_now;
std::chrono::steady_clock::time_point fake_clock() { return fake_now; }

class Simulator : public ::testing::Test {
protected:
    std::unique_ptr<simulated_device> device = std::make_unique<simulated_device>();
    scoped_bus installed{*device};
    recording_services services;
    void SetUp() override {
        port_address = 0x378;
        device->set_instant(true);
    }
    void capture(int8_t mode, int8_t source, int8_t rate, int32_t edge, int32_t pretrigger, uint16_t value) {
        set_header(mode, source, rate, edge, pretrigger, value);
        ASSERT_TRUE(run_capture());
    }
};

// The sample at index n of the laid-out capture, as the display reads it.
int sample(int8_t mode, bool channel_a, int32_t n) {
    const uint8_t* area = dso_structure.sample_area;
    if (mode == MODE_SINGLE) return area[n];
    if (mode == MODE_LOGIC16) return area[2 * n] | area[2 * n + 1] << 8;
    return channel_a ? area[n] : area[FIFO_SIZE + n];
}

TEST_F(Simulator, BehavesAsABidirectionalPortAtLpt1Only) {
    EXPECT_TRUE(check_bidirectional());
    write_control(0x05);
    EXPECT_EQ(read_control(), 0x05);
    write_data(0x5A);  // the port drives the lines: it reads its latch
    EXPECT_EQ(read_data(), 0x5A);
    write_register(REG_TRIGGER, 0x08);  // counter low byte: one past cell 0 at power-on
    EXPECT_EQ(read_register(REG_READBACK), 1);
    EXPECT_EQ(device->register_value(REG_TRIGGER), 0x08);
    port_address = 0x278;
    EXPECT_EQ(read_data(), 0xFF);
    EXPECT_EQ(read_status(), 0x7C);
}

struct capture_case {
    int8_t mode, source, rate;
    int32_t edge, pretrigger;
    uint16_t value;
};

TEST_F(Simulator, TheTriggerSampleLandsAtThePreTriggerIndex) {
    const capture_case cases[] = {
        {MODE_DUAL, TRIGGER_CHANNEL_A, 0, 0, 1000, 0x80 + 50},
        {MODE_DUAL, TRIGGER_CHANNEL_B, 3, 1, 0x5FFFF, 0x80 - 20},
        {MODE_DUAL, TRIGGER_EXTERNAL, -1, 0, 20000, 0},
        {MODE_SINGLE, TRIGGER_CHANNEL_A, 0, 0, 12345, 0x90},
        {MODE_SINGLE, TRIGGER_CHANNEL_A, 2, 1, 50001, 0x60},
        {MODE_SINGLE, TRIGGER_CHANNEL_A, 1, 0, 2000, 0xA0},
        {MODE_SINGLE, TRIGGER_EXTERNAL, 5, 1, 3, 0},
        {MODE_LOGIC16, TRIGGER_CHANNEL_A, 1, 0, 777, 0x1234},
        {MODE_LOGIC16, TRIGGER_CHANNEL_A, 5, 1, 0x5FFFF, 0xFFFF},
        {MODE_MIXED, TRIGGER_CHANNEL_A, 2, 0, 4096, 0xA5},
        {MODE_MIXED, TRIGGER_CHANNEL_B, 4, 0, 100, 0x80},
    };
    for (const capture_case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << int{c.mode} << " source " << int{c.source} << " rate "
                                          << int{c.rate} << " edge " << c.edge << " pretrigger " << c.pretrigger);
        capture(c.mode, c.source, c.rate, c.edge, c.pretrigger, c.value);
        const bool channel_a = c.source != TRIGGER_CHANNEL_B;
        auto at = [&](int32_t n) { return sample(c.mode, channel_a, n); };
        auto met = [&](int32_t n) {
            if (c.source == TRIGGER_CHANNEL_A && (c.mode == MODE_LOGIC16 || c.mode == MODE_MIXED))
                return at(n) == c.value;
            return c.edge ? at(n) <= c.value : at(n) >= c.value;
        };
        int32_t p = c.pretrigger;
        if (c.source == TRIGGER_EXTERNAL) {
            // The external input switches as input A crosses its zero level.
            const int32_t quarter = (c.mode == MODE_SINGLE ? 25000 : 12500) >> (c.rate < 0 ? 5 : c.rate);
            EXPECT_NEAR(at(p), 0x82, 5);
            EXPECT_TRUE(c.edge ? at(p + quarter) < 0x40 : at(p + quarter) > 0xC0) << at(p + quarter);
            continue;
        }
        if (c.mode == MODE_SINGLE && !met(p)) ++p;  // the other converter took the trigger sample
        EXPECT_TRUE(met(p)) << at(p);
        EXPECT_FALSE(met(p - 1)) << at(p - 1);
        EXPECT_FALSE(met(c.pretrigger - 1)) << at(c.pretrigger - 1);
    }
}

TEST_F(Simulator, EachModeRecordsItsSignals) {
    capture(MODE_DUAL, TRIGGER_NONE, 0, 0, 0, 0);
    EXPECT_EQ(sample_count, 0);  // triggered at arming, nothing before
    const uint8_t* a = dso_structure.channel_a;
    const uint8_t* b = dso_structure.channel_b;
    EXPECT_NEAR(*std::min_element(a, a + FIFO_SIZE), 0x80 - 100, 4);  // the sine with its noise
    EXPECT_NEAR(*std::max_element(a, a + FIFO_SIZE), 0x80 + 100, 4);
    EXPECT_NEAR(*std::min_element(b, b + FIFO_SIZE), 0x80 - 60, 1);  // the triangle
    EXPECT_NEAR(*std::max_element(b, b + FIFO_SIZE), 0x80 + 60, 1);

    capture(MODE_SINGLE, TRIGGER_NONE, 1, 0, 0, 0);
    long odd_minus_even = 0;  // converter B reads a little higher
    const uint8_t* trace = dso_structure.sample_area;
    for (int32_t k = 0; k < FIFO_SIZE; ++k) odd_minus_even += trace[2 * k + 1] - trace[2 * k];
    EXPECT_NEAR(static_cast<double>(odd_minus_even) / FIFO_SIZE, simulated_device::CONVERTER_B_OFFSET, 0.5);

    // The logic inputs count: every word is the one before it or one more.
    capture(MODE_LOGIC16, TRIGGER_NONE, 5, 0, 0, 0);
    for (int32_t n = 1; n < FIFO_SIZE; ++n)
        ASSERT_EQ((sample(MODE_LOGIC16, true, n) - sample(MODE_LOGIC16, true, n - 1)) & 0xFFFE, 0) << n;
    EXPECT_NEAR(sample(MODE_LOGIC16, true, FIFO_SIZE - 1) - sample(MODE_LOGIC16, true, 0), 0x60000 * 640 / 10000, 1);
    capture(MODE_MIXED, TRIGGER_NONE, 0, 0, 0, 0);
    for (int32_t n = 1; n < FIFO_SIZE; ++n) {
        ASSERT_EQ((sample(MODE_MIXED, true, n) - sample(MODE_MIXED, true, n - 1)) & 0xFE, 0) << n;
        ASSERT_NEAR(sample(MODE_MIXED, false, n), 0x80, 61) << n;
    }
}

// The bus set: the counter's high byte on inputs 8..15, and on 0..7 idle lines between the
// traffic (UART and I2C high, SPI's clock low and select high); a pattern trigger fires where
// the word changes into the pattern; the analogue inputs are those of the standard set.
TEST_F(Simulator, TheBusSetKeepsTheCounterAboveItsTraffic) {
    device->set_signals(sim_signals::bus);
    capture(MODE_LOGIC16, TRIGGER_NONE, 0, 0, 0, 0);
    int high_steps = 0, low_changes = 0, idle = 0;
    for (int32_t n = 1; n < FIFO_SIZE; ++n) {
        const int step = (sample(MODE_LOGIC16, true, n) >> 8) - (sample(MODE_LOGIC16, true, n - 1) >> 8);
        ASSERT_TRUE(step == 0 || step == 1) << n;
        high_steps += step;
        low_changes += (sample(MODE_LOGIC16, true, n) ^ sample(MODE_LOGIC16, true, n - 1)) & 0xFF ? 1 : 0;
        idle += (sample(MODE_LOGIC16, true, n) & 0xFF) == 0xE3;
    }
    EXPECT_EQ(high_steps, 3);          // 7.86 ms of a counter whose high byte steps every 2.56 ms
    EXPECT_GT(low_changes, 3 * 400);   // three frames of traffic, hundreds of edges each
    EXPECT_GT(idle, FIFO_SIZE / 4);    // and quiet lines between them

    // SPI's select low, its clock and data low, the other lines idle: only inside a transfer.
    capture(MODE_LOGIC16, TRIGGER_CHANNEL_A, 2, 0, 5000, 0x01C3);
    EXPECT_EQ(sample(MODE_LOGIC16, true, 5000), 0x01C3);
    EXPECT_NE(sample(MODE_LOGIC16, true, 4999), 0x01C3);
    capture(MODE_MIXED, TRIGGER_CHANNEL_A, 0, 0, 100, 0xE3);
    EXPECT_EQ(sample(MODE_MIXED, true, 100), 0xE3);
    EXPECT_NE(sample(MODE_MIXED, true, 99), 0xE3);
    EXPECT_NEAR(*std::max_element(dso_structure.channel_b, dso_structure.channel_b + FIFO_SIZE), 0x80 + 60, 1);

    // A pattern the traffic never shows (every line high) never comes.
    set_header(MODE_MIXED, TRIGGER_CHANNEL_A, 0, 0, 0, 0xFF);
    services.on_sleep = [&](uint32_t) {
        if (services.sleeps.size() == 20) request_cancel();
    };
    EXPECT_FALSE(run_capture());
    EXPECT_TRUE(device->armed());
}

TEST_F(Simulator, ReReadGivesTheSameBytesInTimeOrder) {
    capture(MODE_SINGLE, TRIGGER_CHANNEL_A, 0, 0, 12345, 0x90);
    std::vector<uint8_t> first(dso_structure.sample_area, dso_structure.sample_area + SAMPLE_AREA_SIZE);
    capture(MODE_SINGLE, TRIGGER_CHANNEL_A, 0, 0, 12345, 0x90);  // the same settings, the same capture
    ASSERT_EQ(std::memcmp(first.data(), dso_structure.sample_area, SAMPLE_AREA_SIZE), 0);
    reread_fifo(true);
    reread_fifo(false);
    for (int32_t k = 0; k < FIFO_SIZE; ++k) {
        ASSERT_EQ(dso_structure.channel_a[k], first[2 * k]) << k;
        ASSERT_EQ(dso_structure.channel_b[k], first[2 * k + 1]) << k;
    }
}

TEST_F(Simulator, ATriggerThatNeverComesWaitsUntilCancel) {
    tap_bus tap(*device);
    set_port_bus(&tap);
    std::memset(dso_structure.sample_area, 0x11, SAMPLE_AREA_SIZE);
    size_t accesses_at_cancel = 0;
    services.on_sleep = [&](uint32_t) {
        if (services.sleeps.size() == 40) request_cancel(), accesses_at_cancel = tap.log.size();
    };
    dso_structure.trigger_value = 254;  // above the sine's peak
    dso_structure.trigger_source = TRIGGER_CHANNEL_A;
    dso_structure.capture_mode = MODE_DUAL;
    EXPECT_FALSE(run_capture());
    ASSERT_EQ(tap.log.size(), accesses_at_cancel) << "nothing after the Cancel";
    EXPECT_EQ(tap.log.back(), in_at(STATUS, 0x83));  // the last poll: still not complete
    EXPECT_TRUE(device->armed());
    EXPECT_EQ(services.download_announcements, 0);
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) ASSERT_EQ(dso_structure.sample_area[n], 0x11) << n;
}

TEST_F(Simulator, InRealTimeTheCaptureTakesAsLongAsItsSamples) {
    device->set_instant(false);
    device->set_clock(fake_clock);
    services.on_sleep = [](uint32_t ms) { fake_now += std::chrono::milliseconds(ms); };
    capture(MODE_DUAL, TRIGGER_NONE, 0, 0, 0, 0);  // 7.9 ms of samples
    EXPECT_EQ(services.sleeps, (std::vector<uint32_t>{1, 250}));
    services.sleeps.clear();
    capture(MODE_DUAL, TRIGGER_NONE, 5, 0, 0, 0);  // 251.7 ms
    EXPECT_EQ(services.sleeps, (std::vector<uint32_t>{1, 250, 250}));
}

TEST_F(Simulator, ACounterOutOfRangeOrNoDeviceGivesError14) {
    for (sim_failure failure : {sim_failure::counter_out_of_range, sim_failure::nothing_attached}) {
        captured_boxes boxes;
        device->set_failure(failure);
        EXPECT_TRUE(check_bidirectional());
        std::memset(dso_structure.sample_area, 0x22, SAMPLE_AREA_SIZE);
        sample_count = 0x4321;
        capture(MODE_DUAL, TRIGGER_NONE, 0, 0, 0, 0);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "\"Start_Point\" Not Valid, Check Cable");
        EXPECT_EQ(sample_count, 0x4321);
        if (failure == sim_failure::counter_out_of_range) {  // left stopped for read-out
            EXPECT_EQ(device->register_value(REG_CONFIG), 0xE0);
            EXPECT_EQ(device->register_value(REG_TRIGGER), 0x20);
        }
        for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) ASSERT_EQ(dso_structure.sample_area[n], 0x22) << n;
    }
}

TEST(SimulatorDeathTest, APortThatCannotTurnItsLinesRoundEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            captured_boxes boxes;
            static simulated_device device;
            device.set_failure(sim_failure::no_turnaround);
            set_port_bus(&device);
            set_port_address(0x378, true);
        },
        ::testing::ExitedWithCode(10),
        "Parallel Port NOT Bi-Directional/    Error Level : 10/    In Function : Main");
}

}  // namespace
