// The capture hardware as a model behind the port bus: a bidirectional parallel port at
// LPT1 (0x378) with the device on its cable; other port addresses read 0xFF (no port). It
// answers, register by register, what the capture sequence and the Hardware IO dialog
// send, and captures deterministic test signals:
//   input A         a 1 kHz sine, about +-100 codes around 0x80, with a little noise;
//   input B         a 2.5 kHz triangle, +-60 codes around 0x80, in step with input A only
//                   every 2 ms (every other period of A);
//   logic 0..15     a 16-bit binary counter stepping every 10 us;
//   external input  a 1 kHz square wave, high while input A is in its positive half.
// Each converter samples at 50 MHz / 2^index (rate fields 5, 6 and 7 all give the slowest
// rate, 1.5625 MHz). In single-channel mode both converters sample input A in turn at
// twice that rate, and converter B reads 4 codes higher than converter A.
//
// Trigger: an analogue source fires on the first sample at or above the level (rising
// edge) or at or below it (falling edge) after the signal has been 10 codes on the other
// side of the level; in single-channel mode the comparator watches the trace of both
// converters. A logic source fires when the word (16 Bit Logic Analyser) or byte (Mixed
// Mode) changes into the pattern, whatever the edge: on the first sample of the next counter
// value that equals it (a pattern that came before the search began waits for its next
// turn); the external input on its edge; none fires at arming. The trigger is taken only
// once the memories hold the pre-trigger count, so that the trigger sample always lands at
// index pretrigger of the laid-out capture (in single-channel mode at trace index
// pretrigger, or the one after it when the other converter took the trigger sample). A
// trigger that never comes (a level beyond the signal's peak) never completes the capture.
//
// A second signal set, bus traffic (set_signals(sim_signals::bus)), puts real traffic on
// logic inputs 0..7 instead of the counter's low byte, repeated every 2.5 ms; inputs 8..15
// keep the counter and the analogue inputs stay as above. Each frame carries "Korvane":
//   D0, D1          UART 8N1 at 115200 baud from 20 us, and its echo on D1 100 us later;
//   D2..D5          SPI mode 0 (CLK, MOSI, MISO, CS low active) at 100 kHz, most significant
//                   bit first, from 760 us: MOSI "Korvane", MISO "KORVANE";
//   D6, D7          I2C (SCL, SDA) at 100 kHz from 1.4 ms: a write to address 0x50 of
//                   "Korvane", each byte acknowledged.
// A logic trigger then fires on the first sample at which the word or byte changes into the
// pattern.
//
// The object holds both sample memories (768 KB): give it static or heap storage.
#pragma once
#include <chrono>
#include <cstdint>

#include "capture/dso_structure.h"
#include "hardware/port_bus.h"

enum class sim_failure {
    none,
    nothing_attached,      // no device on the cable: data and status lines float high
    no_turnaround,         // the port cannot turn its data lines round: reads give its latch
    counter_out_of_range,  // the sample counter reads 0
};

// What the logic inputs carry.
enum class sim_signals {
    standard,  // the 16-bit counter
    bus,       // UART, SPI and I2C traffic on inputs 0..7, the counter's high byte on 8..15
};

class simulated_device : public port_bus {
public:
    using clock_function = std::chrono::steady_clock::time_point (*)();

    static constexpr uint16_t BASE_ADDRESS = 0x378;
    static constexpr int CONVERTER_B_OFFSET = 4;  // codes, single-channel mode
    static constexpr int TRIGGER_HYSTERESIS = 10;

    simulated_device();

    void set_failure(sim_failure failure);
    void set_signals(sim_signals signals);
    // true: a capture completes as soon as its trigger and post-trigger samples exist;
    // false (default): after the real time those samples take at the chosen rate.
    void set_instant(bool instant);
    // The clock that real-time completion follows; nullptr: std::chrono::steady_clock.
    void set_clock(clock_function clock);

    uint8_t in(uint16_t address) override;
    void out(uint16_t address, uint8_t value) override;

    // Inspection for tests.
    const uint8_t* memory(bool fifo_a) const { return fifo_a ? fifo_a_ : fifo_b_; }
    uint32_t sample_counter() const { return counter_; }     // one past the oldest cell
    uint8_t register_value(uint8_t reg) const { return registers_[reg & 7]; }
    bool armed() const { return armed_; }

private:
    void take_strobe(uint8_t code);
    void write_device_register(uint8_t reg, uint8_t value);
    void write_control_register(uint8_t value);
    void start_sampling();
    void arm();
    bool capture_complete();
    int64_t elapsed_ticks();
    bool find_trigger(int64_t first, int64_t* found) const;
    void fill_memories(int64_t end_cell);
    uint8_t readback() const;
    uint16_t logic_at(int64_t tick) const;
    bool find_bus_pattern(int64_t first, int64_t unit, bool word, int64_t* found) const;

    sim_failure failure_ = sim_failure::none;
    sim_signals signals_ = sim_signals::standard;
    bool instant_ = false;
    clock_function clock_;

    // The port's own registers.
    uint8_t data_latch_ = 0;
    uint8_t control_ = 0x0B;  // as written: every control pin low
    uint8_t ecr_ = 0x15;
    bool strobe_high_ = false;

    // The device: what it drives onto the data lines, its registers, the read-out.
    bool driving_ = false;
    uint8_t drive_byte_ = 0xFF;
    uint8_t registers_[8] = {};
    uint32_t pretrigger_ = 0;  // 19 bits
    uint8_t trigger_byte_[2] = {};
    const uint8_t* read_memory_ = nullptr;  // the memory selected for read-out, if any
    int32_t read_cell_ = 0;

    // The capture: configuration taken at the start pulse, state, sample counter.
    uint8_t mode_ = 0;    // REG_CONFIG bits 0-2
    uint8_t source_ = 0;  // bits 3-4
    uint8_t rate_ = 0;    // bits 5-7, at most 5
    bool edge_falling_ = false;
    bool sampling_ = false;
    bool armed_ = false;
    bool pending_ = false;  // triggered, the post-trigger samples still to come
    bool complete_ = false;
    std::chrono::steady_clock::time_point start_time_;
    int64_t completion_tick_ = 0;  // in 10 ns ticks from the start pulse
    uint32_t counter_ = 1;

    uint8_t fifo_a_[FIFO_SIZE];
    uint8_t fifo_b_[FIFO_SIZE];
};
