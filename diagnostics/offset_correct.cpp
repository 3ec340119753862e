#include "diagnostics/offset_correct.h"

#include "capture/dso_structure.h"

namespace {

// A pair counts when neither sample sits at an end of the converter's range.
inline bool qualifies(uint8_t even, uint8_t odd) { return even != 0 && even != 255 && odd != 0 && odd != 255; }

}  // namespace

int offset_correct() {
    if (dso_structure.capture_mode != MODE_SINGLE) return 1;
    uint8_t* trace = dso_structure.sample_area;

    double count = 0, sum_even = 0, sum_odd = 0;
    for (int32_t k = 0; k < FIFO_SIZE; ++k) {
        uint8_t e = trace[2 * k], o = trace[2 * k + 1];
        if (!qualifies(e, o)) continue;
        count += 1;
        sum_even += e;
        sum_odd += o;
    }
    if (count == 0) return 0;  // nothing qualifies, so nothing would change

    double difference = sum_odd / count - sum_even / count;
    // A difference of 128 or more (one converter far off scale) does not fit the signed 8-bit
    // correction; it is limited to -127..127, so the even samples move as far as that takes
    // them instead of by a wrapped-round amount.
    if (difference > 127) difference = 127;
    if (difference < -127) difference = -127;
    int8_t correction = static_cast<int8_t>(difference);  // truncated toward zero

    for (int32_t k = 0; k < FIFO_SIZE; ++k) {
        uint8_t e = trace[2 * k], o = trace[2 * k + 1];
        if (!qualifies(e, o)) continue;
        int corrected = e + correction;
        if (corrected >= 0 && corrected <= 255) trace[2 * k] = static_cast<uint8_t>(corrected);
    }
    return 0;
}
