#include "simulator/simulated_device.h"

#include <algorithm>
#include <cmath>

#include "hardware/port.h"

namespace {

// Time inside the device is counted in ticks of 10 ns, the sample period of the fastest
// trace (single-channel mode at rate index 0).
constexpr int64_t INPUT_A_PERIOD = 100000;  // 1 kHz
constexpr int64_t INPUT_B_PERIOD = 40000;   // 2.5 kHz
constexpr int64_t LOGIC_STEP = 1000;        // the logic counter steps every 10 us
constexpr int64_t NANOSECONDS_PER_TICK = 10;

// Input A and the external input repeat with each period of
// input A (100,000 ticks); input B repeats every 40,000 ticks, which does not divide it, so
// that the two line up again only every 200,000 ticks (2 ms: two periods of A, five of B).
// A capture that triggers on input A therefore finds input B at one of two phases, half a
// period of B (20,000 ticks, 0.2 ms) apart, depending on which period of A it starts in.
// This many samples visit every phase of A twice and of B five times: enough for the
// hysteresis to arm and then fire, if the level lies within the signal at all.
constexpr int64_t TRIGGER_SEARCH_LIMIT = 2 * INPUT_A_PERIOD + 2;

constexpr uint8_t STATUS_IDLE_RAW = 0x83;  // every pin low (busy inverted), bits 0-2 high
constexpr uint8_t STATUS_COMPLETE_RAW = STATUS_IDLE_RAW | STATUS_COMPLETE;
constexpr uint8_t CONTROL_DATA_INPUT = 0x20;  // the port's direction bit, as written

constexpr int CODE_READBACK = REG_READBACK;
constexpr int CODE_FIFO_REST = ICR_FIFO_REST & 7;
constexpr int CODE_FIFO_STEP = ICR_FIFO_STEP & 7;

uint8_t input_a_table[INPUT_A_PERIOD];
uint8_t input_b_table[INPUT_B_PERIOD];

// The bus traffic: one frame of the eight lines, tick by tick.
constexpr int64_t BUS_PERIOD = 250000;  // 2.5 ms
uint8_t bus_table[BUS_PERIOD];
constexpr char BUS_TEXT[] = "Korvane";
constexpr int BUS_BYTES = sizeof BUS_TEXT - 1;
enum bus_line { UART_TX, UART_ECHO, SPI_CLK, SPI_MOSI, SPI_MISO, SPI_CS, I2C_SCL, I2C_SDA };

void set_line(int line, int64_t from, int64_t to, bool high) {
    for (int64_t t = from; t < to && t < BUS_PERIOD; ++t)
        bus_table[t] = static_cast<uint8_t>(high ? bus_table[t] | 1 << line : bus_table[t] & ~(1 << line));
}

// 8N1, least significant bit first, the bit boundaries rounded to the tick.
void uart_bytes(int line, int64_t start) {
    const double bit = 1e8 / 115200.0;
    for (int j = 0; j < BUS_BYTES; ++j) {
        const uint8_t byte = static_cast<uint8_t>(BUS_TEXT[j]);
        for (int i = 0; i < 10; ++i) {
            const bool high = i == 0 ? false : i == 9 ? true : ((byte >> (i - 1)) & 1) != 0;
            const int64_t from = start + std::llround((j * 10 + i) * bit);
            set_line(line, from, start + std::llround((j * 10 + i + 1) * bit), high);
        }
    }
}

void build_bus_table() {
    // Idle: the UART lines and I2C's pulled-up lines high, SPI's clock low, its select high.
    for (int64_t t = 0; t < BUS_PERIOD; ++t)
        bus_table[t] = 1 << UART_TX | 1 << UART_ECHO | 1 << SPI_CS | 1 << I2C_SCL | 1 << I2C_SDA;
    uart_bytes(UART_TX, 2000);
    uart_bytes(UART_ECHO, 12000);

    // SPI mode 0: data set while the clock is low, taken as it rises half a bit later.
    const int64_t spi = 76000, spi_bit = 1000, spi_end = spi + BUS_BYTES * 8 * spi_bit;
    set_line(SPI_CS, spi - spi_bit / 2, spi_end + spi_bit / 2, false);
    for (int j = 0; j < BUS_BYTES; ++j) {
        const uint8_t out = static_cast<uint8_t>(BUS_TEXT[j]);
        const uint8_t in = static_cast<uint8_t>(BUS_TEXT[j] >= 'a' && BUS_TEXT[j] <= 'z' ? BUS_TEXT[j] - 32 : BUS_TEXT[j]);
        for (int i = 0; i < 8; ++i) {
            const int64_t t = spi + (j * 8 + i) * spi_bit;
            set_line(SPI_MOSI, t, t + spi_bit, ((out >> (7 - i)) & 1) != 0);
            set_line(SPI_MISO, t, t + spi_bit, ((in >> (7 - i)) & 1) != 0);
            set_line(SPI_CLK, t + spi_bit / 2, t + spi_bit, true);
        }
    }
    set_line(SPI_MOSI, spi_end, BUS_PERIOD, false);
    set_line(SPI_MISO, spi_end, BUS_PERIOD, false);

    // I2C: start (SDA falls while SCL is high), the address byte 0x50 << 1 | write, the text,
    // each byte's ninth clock with SDA held low by the receiver, stop (SDA rises while SCL is
    // high). SDA changes a quarter bit into each low half of SCL.
    const int64_t i2c = 140000, i2c_bit = 1000;
    uint8_t bytes[BUS_BYTES + 1] = {0x50 << 1};
    for (int j = 0; j < BUS_BYTES; ++j) bytes[j + 1] = static_cast<uint8_t>(BUS_TEXT[j]);
    const int64_t first_clock = i2c + i2c_bit / 2;
    set_line(I2C_SDA, i2c, first_clock + i2c_bit / 4, false);
    int64_t t = first_clock;
    for (uint8_t byte : bytes) {
        for (int i = 0; i < 9; ++i, t += i2c_bit) {
            const bool high = i < 8 && ((byte >> (7 - i)) & 1) != 0;
            set_line(I2C_SCL, t, t + i2c_bit / 2, false);
            set_line(I2C_SDA, t + i2c_bit / 4, t + i2c_bit + i2c_bit / 4, high);
        }
    }
    set_line(I2C_SCL, t, t + i2c_bit / 2, false);
    set_line(I2C_SDA, t + i2c_bit / 4, t + 3 * i2c_bit / 4, false);
}

uint8_t to_code(double v) {
    long c = std::lround(v);
    return static_cast<uint8_t>(c < 0 ? 0 : c > 255 ? 255 : c);
}

bool build_signal_tables() {
    const double two_pi = 6.283185307179586;
    uint32_t seed = 0x4B6F7276u;  // fixed, so every run shows the same noise
    for (int64_t p = 0; p < INPUT_A_PERIOD; ++p) {
        seed = seed * 1664525u + 1013904223u;
        int noise = static_cast<int>((seed >> 16) % 5) - 2;
        const double phase = two_pi * static_cast<double>(p) / INPUT_A_PERIOD;
        input_a_table[p] = to_code(128.0 + 100.0 * std::sin(phase) + noise);
    }
    for (int64_t p = 0; p < INPUT_B_PERIOD; ++p) {
        const double q = static_cast<double>(p) / INPUT_B_PERIOD;  // 0 up to 1, down to -1, up to 0
        const double tri = q < 0.25 ? 4.0 * q : q < 0.75 ? 2.0 - 4.0 * q : 4.0 * q - 4.0;
        input_b_table[p] = to_code(128.0 + 60.0 * tri);
    }
    build_bus_table();
    return true;
}

void ensure_signal_tables() {
    static const bool built = build_signal_tables();
    (void)built;
}

int64_t floor_mod(int64_t a, int64_t m) {
    int64_t r = a % m;
    return r < 0 ? r + m : r;
}

int input_a(int64_t tick) { return input_a_table[floor_mod(tick, INPUT_A_PERIOD)]; }
int input_b(int64_t tick) { return input_b_table[floor_mod(tick, INPUT_B_PERIOD)]; }
int converter_b_on_input_a(int64_t tick) {
    int v = input_a(tick) + simulated_device::CONVERTER_B_OFFSET;
    return v > 255 ? 255 : v;
}
bool external_high(int64_t tick) { return floor_mod(tick, INPUT_A_PERIOD) < INPUT_A_PERIOD / 2; }
uint16_t logic_word(int64_t tick) {
    return static_cast<uint16_t>((tick - floor_mod(tick, LOGIC_STEP)) / LOGIC_STEP);
}

std::chrono::steady_clock::time_point steady_now() { return std::chrono::steady_clock::now(); }

}  // namespace

simulated_device::simulated_device() : clock_(steady_now) {
    ensure_signal_tables();
    // At power-on the memories hold what Dual Channel at the fastest rate took in.
    fill_memories(FIFO_SIZE);
}

void simulated_device::set_failure(sim_failure failure) {
    failure_ = failure;
    driving_ = false;
}

void simulated_device::set_signals(sim_signals signals) { signals_ = signals; }

uint16_t simulated_device::logic_at(int64_t tick) const {
    const uint16_t word = logic_word(tick);
    if (signals_ == sim_signals::standard) return word;
    return static_cast<uint16_t>((word & 0xFF00) | bus_table[floor_mod(tick, BUS_PERIOD)]);
}

// The first sample from `first` on at which the word (or byte) changes into the pattern. The
// high byte follows the counter: it stays for 256 of its steps, longer than a bus frame, so
// a low byte is looked for in the stretch of the pattern's high byte where the search begins
// and, if it was not there, in the next such stretch, whole; a byte that no frame shows never
// comes.
bool simulated_device::find_bus_pattern(int64_t first, int64_t unit, bool word, int64_t* found) const {
    const int64_t pattern = word ? (trigger_byte_[1] << 8 | trigger_byte_[0]) : trigger_byte_[0];
    const uint16_t mask = word ? 0xFFFF : 0xFF;
    const auto scan = [&](int64_t from, int64_t to) {
        bool before = (logic_at((from - 1) * unit) & mask) == pattern;
        for (int64_t n = from; n < to; ++n) {
            const bool now = (logic_at(n * unit) & mask) == pattern;
            if (now && !before) {
                *found = n;
                return true;
            }
            before = now;
        }
        return false;
    };
    if (!word) return scan(first, first + BUS_PERIOD / unit + 2);
    const int64_t stretch = 256 * LOGIC_STEP;  // ticks
    const int64_t value = first * unit / LOGIC_STEP;
    int64_t high = (value >> 8) + floor_mod((pattern >> 8) - (value >> 8), 256);  // counter >> 8
    int64_t from = std::max(first, (high * stretch + unit - 1) / unit);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (scan(from, ((high + 1) * stretch + unit - 1) / unit)) return true;
        high += 256;
        from = (high * stretch + unit - 1) / unit;
    }
    return false;
}

void simulated_device::set_instant(bool instant) { instant_ = instant; }

void simulated_device::set_clock(clock_function clock) { clock_ = clock ? clock : steady_now; }

uint8_t simulated_device::in(uint16_t address) {
    if (address == BASE_ADDRESS + PORT_DATA) {
        // While the port drives the lines (or cannot stop driving them) it reads its latch.
        if (!(control_ & CONTROL_DATA_INPUT) || failure_ == sim_failure::no_turnaround) return data_latch_;
        return driving_ ? drive_byte_ : 0xFF;
    }
    if (address == BASE_ADDRESS + PORT_STATUS) {
        if (failure_ == sim_failure::nothing_attached) return 0xFF;
        return capture_complete() ? STATUS_COMPLETE_RAW : STATUS_IDLE_RAW;
    }
    if (address == BASE_ADDRESS + PORT_CONTROL) return static_cast<uint8_t>(control_ | 0xC0);
    if (address == BASE_ADDRESS + PORT_ECR) return ecr_;
    return 0xFF;  // no port at this address
}

void simulated_device::out(uint16_t address, uint8_t value) {
    if (address == BASE_ADDRESS + PORT_CONTROL) {
        control_ = static_cast<uint8_t>(value & 0x3F);
        const bool strobe = !(value & 1);  // pin 1 is inverted
        // The device takes the code on pins 14, 16 and 17 as the strobe rises.
        if (strobe && !strobe_high_) take_strobe(static_cast<uint8_t>(((value ^ CONTROL_INVERTED) >> 1) & 7));
        strobe_high_ = strobe;
    } else if (address == BASE_ADDRESS + PORT_DATA) {
        data_latch_ = value;
    } else if (address == BASE_ADDRESS + PORT_ECR) {
        ecr_ = value;
    }
}

void simulated_device::take_strobe(uint8_t code) {
    if (failure_ == sim_failure::nothing_attached) return;
    switch (code) {
        case CODE_FIFO_STEP:
            if (read_memory_) {
                drive_byte_ = read_memory_[read_cell_];
                if (++read_cell_ == FIFO_SIZE) read_cell_ = 0;
            }
            driving_ = read_memory_ != nullptr;
            return;
        case CODE_FIFO_REST:
            driving_ = read_memory_ != nullptr;
            return;
        case CODE_READBACK:
            drive_byte_ = readback();
            driving_ = true;
            return;
        case 0:
            driving_ = false;
            return;
        default: {
            driving_ = false;
            // Registers 2 to 5 take whatever is on the data lines: the port's latch while it
            // drives them, else the lines float high.
            const bool port_drives =
                !(control_ & CONTROL_DATA_INPUT) || failure_ == sim_failure::no_turnaround;
            write_device_register(code, port_drives ? data_latch_ : 0xFF);
            return;
        }
    }
}

void simulated_device::write_device_register(uint8_t reg, uint8_t value) {
    registers_[reg & 7] = value;
    const uint8_t hold = registers_[REG_HOLD];
    if (reg == REG_CONTROL) {
        write_control_register(value);
    } else if (reg == REG_TRIGGER) {
        if (value & 0x01) trigger_byte_[0] = hold;
        if (value & 0x02) trigger_byte_[1] = hold;
    }
}

void simulated_device::write_control_register(uint8_t value) {
    const uint32_t hold = registers_[REG_HOLD];
    if (value & 0x01) pretrigger_ = (pretrigger_ & ~0xFFu) | hold;
    if (value & 0x02) pretrigger_ = (pretrigger_ & ~0xFF00u) | hold << 8;
    if (value & 0x04) pretrigger_ = (pretrigger_ & ~0x70000u) | (hold & 7) << 16;
    if (value & 0x10) start_sampling();
    if (value & 0x08) {
        if (!armed_) arm();
    } else {
        armed_ = false;  // a capture already triggered still completes
    }
    // Bits 5 and 7 select a read-out, bit 6 picks FIFO A; without bit 5 the read-out
    // is held at cell 0.
    read_memory_ = (value & 0xA0) == 0xA0 ? ((value & 0x40) ? fifo_a_ : fifo_b_) : nullptr;
    if (!(value & 0x20)) read_cell_ = 0;
}

void simulated_device::start_sampling() {
    const uint8_t config = registers_[REG_CONFIG];
    mode_ = config & 7;
    source_ = (config >> 3) & 3;
    rate_ = static_cast<uint8_t>((config >> 5) > 5 ? 5 : config >> 5);  // fields 5..7: the slowest rate
    sampling_ = true;
    armed_ = false;
    pending_ = false;
    complete_ = false;
    start_time_ = clock_();
}

int64_t simulated_device::elapsed_ticks() {
    int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(clock_() - start_time_).count();
    return ns < 0 ? 0 : ns / NANOSECONDS_PER_TICK;
}

// Trigger positions count samples of the trigger's series from the start pulse: trace
// samples (both converters in turn) in single-channel mode, else samples of one converter.
void simulated_device::arm() {
    armed_ = true;
    if (!sampling_ || pending_ || complete_) return;
    edge_falling_ = (registers_[REG_TRIGGER] & 0x04) != 0;

    const bool single = mode_ & 1;
    const int64_t unit = single ? int64_t{1} << rate_ : int64_t{2} << rate_;
    const int64_t pretrigger = pretrigger_;
    int64_t first = instant_ ? 0 : elapsed_ticks() / unit;
    if (first < pretrigger) first = pretrigger;  // the memories must hold the pre-trigger samples
    if (source_ != TRIGGER_NONE && first < 1) first = 1;

    int64_t trigger = 0;
    if (!find_trigger(first, &trigger)) {
        // Sampling goes on for ever; the memories show what came before arming.
        const int64_t cell = single ? first / 2 : first;
        fill_memories(cell > FIFO_SIZE ? cell : FIFO_SIZE);
        return;
    }
    int64_t trigger_cell = trigger;
    int64_t before = pretrigger;
    if (single) {
        // Pre-trigger samples count trace samples: the trigger stands at trace index
        // pretrigger when its converter owns that index, else at the one after it.
        const int64_t converter = trigger & 1;
        trigger_cell = trigger >> 1;
        before = (pretrigger - converter + 1) >> 1;
    }
    if (before > FIFO_SIZE - 1) before = FIFO_SIZE - 1;
    const int64_t end = trigger_cell - before + FIFO_SIZE;
    fill_memories(end);
    completion_tick_ = end * (int64_t{2} << rate_);
    pending_ = true;
}

bool simulated_device::find_trigger(int64_t first, int64_t* found) const {
    const bool single = mode_ & 1;
    const int64_t unit = single ? int64_t{1} << rate_ : int64_t{2} << rate_;

    if (source_ == TRIGGER_NONE) {
        *found = first;
        return true;
    }
    if (source_ == TRIGGER_EXTERNAL) {
        bool before = external_high((first - 1) * unit) != edge_falling_;
        for (int64_t n = first; n < first + TRIGGER_SEARCH_LIMIT; ++n) {
            const bool now = external_high(n * unit) != edge_falling_;
            if (now && !before) {
                *found = n;
                return true;
            }
            before = now;
        }
        return false;
    }
    if (source_ == TRIGGER_CHANNEL_A && (mode_ & 2)) {
        // The logic word (16 bits) or byte becomes equal to the pattern: the first sample of
        // the next counter value that matches it.
        const bool word = mode_ & 4;
        if (signals_ == sim_signals::bus) return find_bus_pattern(first, unit, word, found);
        const int64_t modulus = word ? 65536 : 256;
        const int64_t pattern = word ? (trigger_byte_[1] << 8 | trigger_byte_[0]) : trigger_byte_[0];
        auto first_sample_of = [unit](int64_t value) { return (value * LOGIC_STEP + unit - 1) / unit; };
        const int64_t value = first * unit / LOGIC_STEP;
        int64_t target = value + floor_mod(pattern - value, modulus);
        if (first_sample_of(target) < first) target += modulus;
        *found = first_sample_of(target);
        return true;
    }

    // An analogue comparator with hysteresis, so that noise near the level cannot fire it
    // on the wrong slope.
    const int level = source_ == TRIGGER_CHANNEL_B ? trigger_byte_[1] : trigger_byte_[0];
    bool ready = false;
    for (int64_t n = first; n < first + TRIGGER_SEARCH_LIMIT; ++n) {
        const int64_t tick = n * unit;
        int v;
        if (single)
            v = (n & 1) ? converter_b_on_input_a(tick) : input_a(tick);
        else
            v = source_ == TRIGGER_CHANNEL_B ? input_b(tick) : input_a(tick);
        if (edge_falling_) {
            if (ready && v <= level) {
                *found = n;
                return true;
            }
            if (v >= level + TRIGGER_HYSTERESIS) ready = true;
        } else {
            if (ready && v >= level) {
                *found = n;
                return true;
            }
            if (v <= level - TRIGGER_HYSTERESIS) ready = true;
        }
    }
    return false;
}

// Writes the samples of cells end - 0x60000 .. end - 1 (counted from the start pulse) into
// the circular memories; the counter then stands one past the oldest.
void simulated_device::fill_memories(int64_t end) {
    const bool single = mode_ & 1;
    const int64_t unit = single ? int64_t{1} << rate_ : int64_t{2} << rate_;
    int32_t cell = static_cast<int32_t>(floor_mod(end, FIFO_SIZE));
    for (int64_t k = end - FIFO_SIZE; k < end; ++k) {
        const int64_t tick_a = single ? 2 * k * unit : k * unit;
        const uint16_t word = logic_at(tick_a);
        fifo_a_[cell] = static_cast<uint8_t>((mode_ & 2) ? (word & 0xFF) : input_a(tick_a));
        int b;
        if (mode_ & 4)
            b = word >> 8;
        else if (single)
            b = converter_b_on_input_a(tick_a + unit);
        else
            b = input_b(tick_a);
        fifo_b_[cell] = static_cast<uint8_t>(b);
        if (++cell == FIFO_SIZE) cell = 0;
    }
    counter_ = static_cast<uint32_t>(floor_mod(end, FIFO_SIZE)) + 1;
}

bool simulated_device::capture_complete() {
    if (pending_ && (instant_ || elapsed_ticks() >= completion_tick_)) {
        pending_ = false;
        complete_ = true;
        sampling_ = false;
    }
    return complete_;
}

uint8_t simulated_device::readback() const {
    const uint32_t c = failure_ == sim_failure::counter_out_of_range ? 0 : counter_;
    const uint8_t select = registers_[REG_TRIGGER];
    if (select & 0x08) return static_cast<uint8_t>(c);
    if (select & 0x10) return static_cast<uint8_t>(c >> 8);
    if (select & 0x20) return static_cast<uint8_t>((c >> 16) & 7);
    return 0;
}
