// A port bus that passes every access on to another bus and writes it as one line: the
// address, in or out, the value, and what the access is for, read from the strobe protocol
// (the register written, the counter byte read, the read-out step...). For people bringing
// up a board of their own.
//
// A line is "ADDRESS DIR VALUE  what", for example
//   0x37a out 0x0c  control: strobe rises, code 3, lines out: write REG_CONTROL = 0x10 (start sampling)
//   0x378 in  0x5a  data: sample byte, FIFO A
// with the address and value in hexadecimal, the direction "in " or "out", and the part after
// the two spaces starting with the register ("data:", "status:", "control:", "ECR:"). The
// decoding follows the device: it takes the code on pins 14, 16 and 17 as pin 1 (the strobe)
// rises, and the byte on the data lines when the code addresses a register. Before the first
// control write the strobe counts as low.
#pragma once
#include <cstdint>
#include <cstdio>

#include "hardware/port_bus.h"

struct trace_text;  // a line's text as it is put together

class tracing_port_bus final : public port_bus {
public:
    // Accesses at base, base + 1, base + 2 and base + 0x402 are named as the port's
    // registers; out receives the lines (the caller opens and closes it).
    tracing_port_bus(port_bus& inner, uint16_t base, std::FILE* out);

    uint8_t in(uint16_t address) override;
    void out(uint16_t address, uint8_t value) override;

    // false once a line could not be written (a full disk, a closed pipe). Lines still in
    // the stream's buffer are the caller's to flush and check.
    bool ok() const { return ok_; }

private:
    // What the device drives onto the data lines since the code it last took.
    enum class driven : uint8_t { nothing, counter_byte, fifo_rest, sample_byte };

    void write_line(uint16_t address, bool is_write, uint8_t value, const trace_text& what);
    void take_code(uint8_t code, trace_text& what);
    void describe_data_read(trace_text& what) const;

    port_bus& inner_;
    std::FILE* out_;
    uint16_t base_;
    bool ok_ = true;
    uint8_t latch_ = 0;             // the port's data latch
    uint8_t control_ = 0;           // the control register as last written
    bool strobe_high_ = false;      // pin 1
    driven driven_ = driven::nothing;
    uint8_t counter_byte_ = 0;      // which counter byte the device drives: 0, 1 or 2
    uint8_t registers_[8] = {};     // the device's registers as last written
};
