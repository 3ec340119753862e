#include "hardware/port_trace.h"

#include "hardware/port.h"

// The text after the value column, put together piece by piece in a fixed buffer. Pieces
// that do not fit are cut off.
struct trace_text {
    char text[240];
    char* at = text;
    char* const end = text + sizeof text - 1;  // room for the terminator
    const char* list = text;                   // where the current list of parts began

    trace_text() { text[0] = 0; }
};

namespace {

constexpr uint8_t CONTROL_DIRECTION = 0x20;  // as written: 1, the data lines are inputs
constexpr uint8_t CONTROL_INTERRUPT = 0x10;

// The codes the device takes besides register numbers.
constexpr uint8_t CODE_FIFO_REST = ICR_FIFO_REST & 7;
constexpr uint8_t CODE_FIFO_STEP = ICR_FIFO_STEP & 7;

const char* const REGISTER_NAMES[8] = {"", "REG_READBACK", "REG_HOLD", "REG_CONTROL",
                                       "REG_CONFIG", "REG_TRIGGER", "", ""};
const char* const COUNTER_BYTES[3] = {"counter bits 0-7", "counter bits 8-15", "counter bits 16-18"};
const char* const RATES[8] = {"rate 50 MHz", "rate 25 MHz", "rate 12.5 MHz", "rate 6.25 MHz",
                              "rate 3.125 MHz", "rate 1.5625 MHz", "rate field 6", "rate field 7"};
const char* const TRIGGER_SOURCES[4] = {"trigger external", "trigger channel A", "trigger channel B",
                                        "trigger none"};
const char* const ECR_MODES[8] = {"SPP mode", "byte mode", "FIFO mode", "ECP mode",
                                  "EPP mode", "mode 5", "test mode", "configuration mode"};

void add(trace_text& t, const char* s) {
    while (*s && t.at < t.end) *t.at++ = *s++;
    *t.at = 0;
}

void add_hex(trace_text& t, uint8_t v) {
    static const char digits[] = "0123456789abcdef";
    const char s[5] = {'0', 'x', digits[v >> 4], digits[v & 15], 0};
    add(t, s);
}

void add_digit(trace_text& t, unsigned v) {
    const char s[2] = {static_cast<char>('0' + v % 10), 0};
    add(t, s);
}

// Parts of a list, separated by commas.
void begin_list(trace_text& t) { t.list = t.at; }
void add_part(trace_text& t, const char* s) {
    if (t.at != t.list) add(t, ", ");
    add(t, s);
}

// Pin 1 and the code on pins 14, 16 and 17 are what the device reads; the direction and
// the interrupt enable belong to the port.
void add_pins(trace_text& t, uint8_t control, const char* strobe) {
    const uint8_t pins = static_cast<uint8_t>(control ^ CONTROL_INVERTED);
    add(t, "strobe ");
    add(t, strobe);
    add(t, ", code ");
    add_digit(t, (pins >> 1) & 7);
    add(t, (control & CONTROL_DIRECTION) ? ", lines in" : ", lines out");
    if (control & CONTROL_INTERRUPT) add(t, ", interrupt on");
}

const char* fifo_selected(uint8_t control_register) {
    if ((control_register & CONTROL_READ_FIFO_B) != CONTROL_READ_FIFO_B) return "no FIFO selected";
    return (control_register & CONTROL_READ_FIFO_A) == CONTROL_READ_FIFO_A ? "FIFO A" : "FIFO B";
}

void describe_control_register(trace_text& t, uint8_t v, uint8_t hold) {
    begin_list(t);
    if (v & CONTROL_LOAD_PRETRIGGER_0) {
        add_part(t, "load pre-trigger bits 0-7 = ");
        add_hex(t, hold);
    }
    if (v & CONTROL_LOAD_PRETRIGGER_1) {
        add_part(t, "load pre-trigger bits 8-15 = ");
        add_hex(t, hold);
    }
    if (v & CONTROL_LOAD_PRETRIGGER_2) {
        add_part(t, "load pre-trigger bits 16-18 = ");
        add_hex(t, hold & 7);
    }
    if (v & CONTROL_ARM) add_part(t, "arm");
    if (v & CONTROL_START) add_part(t, "start sampling");
    switch (v & CONTROL_READ_FIFO_A) {
    case 0x00: break;
    case CONTROL_READ_RESET_DONE: add_part(t, "read-out reset"); break;
    case CONTROL_READ_FIFO_A: add_part(t, "read FIFO A"); break;
    case CONTROL_READ_FIFO_B: add_part(t, "read FIFO B"); break;
    default:
        add_part(t, "read-out bits ");
        add_hex(t, v & CONTROL_READ_FIFO_A);
        break;
    }
    if (v == 0) add_part(t, "clear");
}

void describe_config_register(trace_text& t, uint8_t v) {
    static const char* const modes[8] = {"mode dual channel", "mode single channel", "mode mixed",
                                         "mode 3", "mode 4", "mode 5", "mode 16-bit logic", "mode 7"};
    begin_list(t);
    add_part(t, modes[v & 7]);
    add_part(t, TRIGGER_SOURCES[(v >> 3) & 3]);
    add_part(t, RATES[v >> 5]);
}

void describe_trigger_register(trace_text& t, uint8_t v, uint8_t hold) {
    begin_list(t);
    const uint8_t loads = v & (TRIGGER_LOAD_BYTE_0 | TRIGGER_LOAD_BYTE_1);
    if (loads == (TRIGGER_LOAD_BYTE_0 | TRIGGER_LOAD_BYTE_1)) add_part(t, "load trigger bytes 0 and 1 = ");
    else if (loads == TRIGGER_LOAD_BYTE_0) add_part(t, "load trigger byte 0 = ");
    else if (loads == TRIGGER_LOAD_BYTE_1) add_part(t, "load trigger byte 1 = ");
    if (loads) add_hex(t, hold);
    add_part(t, (v & TRIGGER_FALLING_EDGE) ? "falling edge" : "rising edge");
    for (unsigned byte = 0; byte < 3; ++byte) {
        if (v & (TRIGGER_SHOW_COUNTER_0 << byte)) {
            add_part(t, COUNTER_BYTES[byte]);
            add(t, " on REG_READBACK");
        }
    }
    if (v & 0xC0) {
        add_part(t, "unused bits ");
        add_hex(t, v & 0xC0);
    }
}

}  // namespace

tracing_port_bus::tracing_port_bus(port_bus& inner, uint16_t base, std::FILE* out)
    : inner_(inner), out_(out), base_(base) {}

void tracing_port_bus::write_line(uint16_t address, bool is_write, uint8_t value, const trace_text& what) {
    if (!ok_) return;
    char line[320];
    int n = std::snprintf(line, sizeof line, "0x%03x %s 0x%02x  %s\n", static_cast<unsigned>(address),
                          is_write ? "out" : "in ", static_cast<unsigned>(value), what.text);
    if (n < 0) return;
    const std::size_t length = static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
    if (std::fwrite(line, 1, length, out_) != length) ok_ = false;
}

// The device takes a code as the strobe rises: a register write takes the byte on the data
// lines, a read or a read-out step puts a byte there.
void tracing_port_bus::take_code(uint8_t code, trace_text& what) {
    const bool lines_in = (control_ & CONTROL_DIRECTION) != 0;
    driven_ = driven::nothing;
    switch (code) {
    case 0:
        add(what, "idle");
        return;
    case REG_READBACK: {
        const uint8_t select = registers_[REG_TRIGGER];
        add(what, "read REG_READBACK (");
        if (select & TRIGGER_SHOW_COUNTER_0) counter_byte_ = 0;
        else if (select & TRIGGER_SHOW_COUNTER_1) counter_byte_ = 1;
        else if (select & TRIGGER_SHOW_COUNTER_2) counter_byte_ = 2;
        else counter_byte_ = 3;
        add(what, counter_byte_ < 3 ? COUNTER_BYTES[counter_byte_] : "no counter byte selected");
        add(what, ")");
        driven_ = driven::counter_byte;
        break;
    }
    case CODE_FIFO_REST:
        add(what, "FIFO rest, ");
        add(what, fifo_selected(registers_[REG_CONTROL]));
        driven_ = driven::fifo_rest;
        break;
    case CODE_FIFO_STEP:
        add(what, "FIFO step, ");
        add(what, fifo_selected(registers_[REG_CONTROL]));
        driven_ = driven::sample_byte;
        break;
    default: {
        add(what, "write ");
        add(what, REGISTER_NAMES[code]);
        if (lines_in) {
            add(what, " from lines the port does not drive");
            return;
        }
        add(what, " = ");
        add_hex(what, latch_);
        registers_[code] = latch_;
        const uint8_t hold = registers_[REG_HOLD];
        if (code == REG_HOLD) return;
        add(what, " (");
        if (code == REG_CONTROL) describe_control_register(what, latch_, hold);
        else if (code == REG_CONFIG) describe_config_register(what, latch_);
        else describe_trigger_register(what, latch_, hold);
        add(what, ")");
        return;
    }
    }
    if (!lines_in) add(what, " while the port drives the lines");
}

void tracing_port_bus::describe_data_read(trace_text& what) const {
    add(what, "data: ");
    if (!(control_ & CONTROL_DIRECTION)) {
        add(what, "the port's own latch (lines out)");
        return;
    }
    switch (driven_) {
    case driven::counter_byte:
        add(what, counter_byte_ < 3 ? COUNTER_BYTES[counter_byte_] : "no counter byte selected");
        break;
    case driven::sample_byte:
        add(what, "sample byte, ");
        add(what, fifo_selected(registers_[REG_CONTROL]));
        break;
    case driven::fifo_rest:
        add(what, "lines at FIFO rest, ");
        add(what, fifo_selected(registers_[REG_CONTROL]));
        break;
    case driven::nothing:
        add(what, "lines in, nothing addressed drives them");
        break;
    }
}

uint8_t tracing_port_bus::in(uint16_t address) {
    const uint8_t value = inner_.in(address);
    trace_text what;
    switch (static_cast<uint16_t>(address - base_)) {
    case PORT_DATA:
        describe_data_read(what);
        break;
    case PORT_STATUS: {
        const uint8_t pins = static_cast<uint8_t>((value ^ STATUS_INVERTED) & 0xFC);
        add(what, "status: pins ");
        add_hex(what, pins);
        add(what, (pins & STATUS_COMPLETE) ? ", capture complete" : ", capture not complete");
        break;
    }
    case PORT_CONTROL:
        add(what, "control: reads ");
        add_pins(what, value, (value ^ CONTROL_INVERTED) & 1 ? "high" : "low");
        break;
    case PORT_ECR:
        add(what, "ECR: read");
        break;
    default:
        add(what, "no port register");
        break;
    }
    write_line(address, false, value, what);
    return value;
}

void tracing_port_bus::out(uint16_t address, uint8_t value) {
    inner_.out(address, value);
    trace_text what;
    switch (static_cast<uint16_t>(address - base_)) {
    case PORT_DATA:
        latch_ = value;
        add(what, (control_ & CONTROL_DIRECTION) ? "data: latch, lines in" : "data: latch");
        break;
    case PORT_CONTROL: {
        const bool strobe = ((value ^ CONTROL_INVERTED) & 1) != 0;
        const bool rises = strobe && !strobe_high_;
        control_ = value;
        add(what, "control: ");
        add_pins(what, value, rises ? "rises" : strobe ? "high" : strobe_high_ ? "falls" : "low");
        if (rises) {
            add(what, ": ");
            take_code(static_cast<uint8_t>(((value ^ CONTROL_INVERTED) >> 1) & 7), what);
        }
        strobe_high_ = strobe;
        break;
    }
    case PORT_STATUS:
        add(what, "status: written (the status register takes no writes)");
        break;
    case PORT_ECR:
        add(what, "ECR: ");
        add(what, ECR_MODES[value >> 5]);
        break;
    default:
        add(what, "no port register");
        break;
    }
    write_line(address, true, value, what);
}
