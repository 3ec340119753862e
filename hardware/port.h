// The parallel-port link: the port's registers, the strobe protocol that addresses the
// capture hardware's own registers, and the register map of that hardware.
#pragma once
#include <cstdint>

#include "hardware/port_bus.h"

// Hardware registers, addressed through the internal control register.
constexpr uint8_t REG_READBACK = 1;  // read: one byte of the sample counter
constexpr uint8_t REG_HOLD = 2;      // holding byte for the latches
constexpr uint8_t REG_CONTROL = 3;   // load, arm, start and read-out bits
constexpr uint8_t REG_CONFIG = 4;    // mode, trigger source and rate
constexpr uint8_t REG_TRIGGER = 5;   // trigger-value loads, edge, counter byte select

// REG_CONTROL bits; bits 0-2 and 4 are pulsed (0, the bit, 0).
constexpr uint8_t CONTROL_LOAD_PRETRIGGER_0 = 0x01;  // pre-trigger count bits 0-7
constexpr uint8_t CONTROL_LOAD_PRETRIGGER_1 = 0x02;  // bits 8-15
constexpr uint8_t CONTROL_LOAD_PRETRIGGER_2 = 0x04;  // bits 16-18
constexpr uint8_t CONTROL_ARM = 0x08;
constexpr uint8_t CONTROL_START = 0x10;
constexpr uint8_t CONTROL_READ_RESET_DONE = 0x20;
constexpr uint8_t CONTROL_READ_FIFO_A = 0xE0;
constexpr uint8_t CONTROL_READ_FIFO_B = 0xA0;

// REG_TRIGGER bits; bits 0 and 1 are pulsed.
constexpr uint8_t TRIGGER_LOAD_BYTE_0 = 0x01;
constexpr uint8_t TRIGGER_LOAD_BYTE_1 = 0x02;
constexpr uint8_t TRIGGER_FALLING_EDGE = 0x04;
constexpr uint8_t TRIGGER_SHOW_COUNTER_0 = 0x08;  // REG_READBACK shows counter bits 0-7
constexpr uint8_t TRIGGER_SHOW_COUNTER_1 = 0x10;  // bits 8-15
constexpr uint8_t TRIGGER_SHOW_COUNTER_2 = 0x20;  // bits 16-18

// Internal control register values (bits 0-2 code, bit 3 interrupt enable, bit 4 direction).
constexpr uint8_t ICR_IDLE = 0x00;
constexpr uint8_t ICR_DATA_IN = 0x10;    // data lines are inputs, the hardware drives them
constexpr uint8_t ICR_FIFO_REST = 0x16;  // read-out cycle, rest phase
constexpr uint8_t ICR_FIFO_STEP = 0x17;  // read-out cycle, step phase: next byte on the lines

// Port register offsets from port_address.
constexpr uint16_t PORT_DATA = 0;
constexpr uint16_t PORT_STATUS = 1;
constexpr uint16_t PORT_CONTROL = 2;
constexpr uint16_t PORT_ECR = 0x402;  // extended control register of an ECP port

constexpr uint16_t LPT1_ADDRESS = 0x378;
constexpr uint16_t LPT2_ADDRESS = 0x278;
constexpr uint16_t LPT3_ADDRESS = 0x3BC;

// The port hardware inverts these lines; the primitives give pin levels.
constexpr uint8_t CONTROL_INVERTED = 0x0B;
constexpr uint8_t STATUS_INVERTED = 0x83;
constexpr uint8_t STATUS_COMPLETE = 0x40;  // pin 10: a triggered capture is complete

extern uint16_t port_address;

inline uint8_t read_status() {
    return static_cast<uint8_t>((active_port_bus->in(port_address + PORT_STATUS) ^ STATUS_INVERTED) &
                                0xFC);
}
inline void write_control(uint8_t value) {
    active_port_bus->out(port_address + PORT_CONTROL,
                         static_cast<uint8_t>((value ^ CONTROL_INVERTED) & 0x3F));
}
inline uint8_t read_control() {
    return static_cast<uint8_t>((active_port_bus->in(port_address + PORT_CONTROL) ^ CONTROL_INVERTED) &
                                0x3F);
}
inline void write_data(uint8_t value) { active_port_bus->out(port_address + PORT_DATA, value); }
inline uint8_t read_data() { return active_port_bus->in(port_address + PORT_DATA); }

// Pulses the strobe with value's bits 0-4 on control bits 1-5.
inline void strobe_control(uint8_t value) {
    uint8_t s = static_cast<uint8_t>(value << 1);
    write_control(s);
    write_control(static_cast<uint8_t>(s | 1));
    write_control(s);
}

void write_register(uint8_t reg, uint8_t value);
uint8_t read_register(uint8_t reg);

// True when the port can read its data lines back as inputs.
bool check_bidirectional();

// Selects the port; with check, a port that fails the bidirectional test is reported as
// error 10, which ends the program.
void set_port_address(uint16_t address, bool check);
uint16_t get_port_address();
