#include "hardware/capture_sequence.h"

#include <cmath>
#include <cstring>

#include "app/error_handler.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"

int32_t sample_count = 0;
uint8_t download_buffer[SAMPLE_AREA_SIZE];

namespace {

// REG_CONFIG while the memories are read: rate field 7, mode 0, source 0.
constexpr uint8_t CONFIG_READ_OUT = 0xE0;

constexpr int32_t PROGRESS_INTERVAL = 4000;  // a report before every 4001st sample
constexpr uint32_t POLL_INTERVAL_MS = 250;

// A pulsed bit: the register goes 0, the bit, 0 again.
void pulse_register(uint8_t reg, uint8_t bit) {
    write_register(reg, 0);
    write_register(reg, bit);
    write_register(reg, 0);
}

// The mode field of REG_CONFIG. A mode that only a loaded file can bring is sent as Dual
// Channel; its samples are then left where they are after the download.
uint8_t mode_code(int8_t capture_mode) {
    switch (capture_mode) {
        case MODE_SINGLE: return 1;
        case MODE_LOGIC16: return 6;
        case MODE_MIXED: return 2;
        default: return 0;
    }
}

// Time for the memories to take in the pre-trigger samples, with the single-precision
// constants the timing has always used (1.0e-6f lies a little below 1.0e-6, so exact
// multiples of 50,000 samples come out one millisecond short).
uint32_t pretrigger_wait_ms() {
    double x = 50.0f;
    for (int i = 0; i < dso_structure.sample_rate_index; ++i) x *= 0.5f;
    double t = ((static_cast<double>(1.0e-6f) / x) * dso_structure.pretrigger) * -1000.0f;
    double ms = 1.0 - std::trunc(t);
    // Only a loaded file can bring a pre-trigger count or rate that leaves this range.
    if (!(ms >= 0.0)) return 0;
    if (ms > 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(ms);
}

void lay_out_samples() {
    const uint8_t* a = download_buffer + FIFO_SIZE;
    const uint8_t* b = download_buffer;
    record_buffers_guard guard;  // no paint reads the buffers during this pass
    switch (dso_structure.capture_mode) {
        case MODE_DUAL:
        case MODE_MIXED:
            std::memcpy(dso_structure.channel_a, a, FIFO_SIZE);
            std::memcpy(dso_structure.channel_b, b, FIFO_SIZE);
            break;
        case MODE_SINGLE:
        case MODE_LOGIC16: {
            uint8_t* area = dso_structure.sample_area;
            for (int32_t k = 0; k < FIFO_SIZE; ++k) {
                area[2 * k] = a[k];
                area[2 * k + 1] = b[k];
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace

void return_to_idle() {
    write_register(REG_CONTROL, 0);
    strobe_control(ICR_FIFO_REST);
    strobe_control(ICR_FIFO_STEP);
    strobe_control(ICR_IDLE);
}

void reset_read() {
    write_register(REG_CONTROL, 0);
    strobe_control(ICR_FIFO_STEP);
    strobe_control(ICR_FIFO_REST);
    write_register(REG_CONTROL, CONTROL_READ_RESET_DONE);
}

void select_fifo(bool fifo_a) {
    write_register(REG_CONTROL, fifo_a ? CONTROL_READ_FIFO_A : CONTROL_READ_FIFO_B);
}

void program_capture() {
    const dso_record& d = dso_structure;
    return_to_idle();

    // Pre-trigger count, low byte first; the hardware takes 19 bits.
    write_register(REG_HOLD, static_cast<uint8_t>(d.pretrigger));
    pulse_register(REG_CONTROL, CONTROL_LOAD_PRETRIGGER_0);
    write_register(REG_HOLD, static_cast<uint8_t>(d.pretrigger >> 8));
    pulse_register(REG_CONTROL, CONTROL_LOAD_PRETRIGGER_1);
    write_register(REG_HOLD, static_cast<uint8_t>((d.pretrigger >> 16) & 7));
    pulse_register(REG_CONTROL, CONTROL_LOAD_PRETRIGGER_2);

    // A rate index of -1 (no rate chosen) becomes rate field 7.
    write_register(REG_CONFIG, static_cast<uint8_t>(mode_code(d.capture_mode) + 8 * d.trigger_source +
                                                    32 * d.sample_rate_index));

    if (d.capture_mode == MODE_LOGIC16) {
        write_register(REG_HOLD, static_cast<uint8_t>(d.trigger_value));
        pulse_register(REG_TRIGGER, TRIGGER_LOAD_BYTE_0);
        write_register(REG_HOLD, static_cast<uint8_t>(d.trigger_value >> 8));
        pulse_register(REG_TRIGGER, TRIGGER_LOAD_BYTE_1);
    } else {
        // Both bytes of the hardware's trigger value receive the one byte.
        write_register(REG_HOLD, static_cast<uint8_t>(d.trigger_value));
        pulse_register(REG_TRIGGER, TRIGGER_LOAD_BYTE_0 | TRIGGER_LOAD_BYTE_1);
    }
    if (d.trigger_edge != 0) write_register(REG_TRIGGER, TRIGGER_FALLING_EDGE);

    pulse_register(REG_CONTROL, CONTROL_START);
}

bool wait_for_trigger() {
    active_capture_services->sleep_ms(pretrigger_wait_ms());
    // A Cancel during the pre-trigger time: the trigger is not even armed.
    if (cancel_requested.load()) return true;

    write_register(REG_CONTROL, CONTROL_ARM);
    uint8_t s = read_status();
    while (!(s & STATUS_COMPLETE)) {
        // The hardware stays armed until the next capture programs it afresh.
        if (cancel_requested.load()) return true;
        active_capture_services->sleep_ms(POLL_INTERVAL_MS);
        // A Cancel during the sleep (which it may cut short): not even one more status read.
        if (cancel_requested.load()) return true;
        s = read_status();
    }
    // A Cancel during the last sleep, when the capture completed meanwhile: the user
    // interface has the port again, so leave it alone.
    if (cancel_requested.load()) return true;
    write_register(REG_CONTROL, 0);
    return false;
}

int32_t read_sample_count() {
    write_register(REG_TRIGGER, TRIGGER_SHOW_COUNTER_0);
    int32_t b0 = read_register(REG_READBACK);
    write_register(REG_TRIGGER, TRIGGER_SHOW_COUNTER_1);
    int32_t b1 = read_register(REG_READBACK);
    write_register(REG_TRIGGER, TRIGGER_SHOW_COUNTER_2);
    int32_t b2 = read_register(REG_READBACK);
    // The counter stands one past the oldest sample.
    return ((b2 & 7) * 65536 + b1 * 256 + b0) - 1;
}

void download_fifo(uint8_t* buffer, bool fifo_a, bool report_progress) {
    reset_read();
    select_fifo(fifo_a);
    strobe_control(ICR_FIFO_REST);

    // The memory is read from its cell 0 on; the oldest sample sits at cell sample_count,
    // so the read-out is rotated into time order.
    const int32_t oldest = (sample_count >= 0 && sample_count < FIFO_SIZE) ? sample_count : 0;
    const int32_t wrapped_offset = FIFO_SIZE - oldest;
    const int32_t percent_base = fifo_a ? 0 : 50;
    int32_t countdown = report_progress ? 0 : PROGRESS_INTERVAL + 1;  // never reaches 4000 when off
    for (int32_t i = 0; i < FIFO_SIZE; ++i) {
        if (countdown == PROGRESS_INTERVAL) {
            active_capture_services->report_progress(i * 50 / FIFO_SIZE + percent_base);
            countdown = 0;
        } else {
            ++countdown;
        }
        strobe_control(ICR_FIFO_STEP);
        uint8_t b = read_data();
        if (i < oldest)
            buffer[wrapped_offset + i] = b;
        else
            buffer[i - oldest] = b;
        strobe_control(ICR_FIFO_REST);
    }
    // The read-out stays selected.
}

void get_dso_data() {
    write_register(REG_CONFIG, CONFIG_READ_OUT);
    int32_t n = read_sample_count();
    if (n > FIFO_SIZE - 1 || n < 0) {
        // Nothing is downloaded: the buffers keep the previous capture.
        error_handler(14, "get_dso_data", "");
        return;
    }
    sample_count = n;
    download_fifo(download_buffer + FIFO_SIZE, true, true);
    download_fifo(download_buffer, false, true);
    lay_out_samples();
    return_to_idle();
}

void reread_fifo(bool fifo_a) {
    download_fifo(fifo_a ? dso_structure.channel_a : dso_structure.channel_b, fifo_a, false);
}

bool run_capture() {
    program_capture();
    if (wait_for_trigger()) return false;
    active_capture_services->download_begins();
    // A Cancel that came while the completion was being announced.
    if (cancel_requested.load()) return false;
    get_dso_data();
    return true;
}
