#include "app/text_numbers.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr uint64_t LEVEL_OFFSET = 127;  // the stored value of the level 0

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

inline int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool read_hexadecimal(const char* text, uint32_t& value) {
    const char* p = text;
    while (is_blank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // "0x" is a prefix only when a digit follows; otherwise the 0 is the number.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit(p[2]) >= 0) p += 2;
    if (hex_digit(*p) < 0) return false;
    uint32_t result = 0;
    for (int d; (d = hex_digit(*p)) >= 0; ++p) result = result * 16u + static_cast<uint32_t>(d);
    value = negative ? 0u - result : result;
    return true;
}

int64_t read_decimal(const char* text, bool signed_entry) {
    const char* p = text;
    while (is_blank(*p)) ++p;
    bool negative = false;
    if (signed_entry && (*p == '+' || *p == '-')) negative = *p++ == '-';
    uint64_t magnitude = 0;
    constexpr uint64_t LIMIT = static_cast<uint64_t>(INT64_MAX);
    for (; *p >= '0' && *p <= '9'; ++p) {
        uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (magnitude > (LIMIT - digit) / 10) {  // one more digit would pass the limit
            magnitude = LIMIT;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    int64_t result = static_cast<int64_t>(magnitude);
    return negative ? -result : result;
}

uint16_t decimal_trigger_value(const char* text) {
    return static_cast<uint16_t>(static_cast<uint64_t>(read_decimal(text, true)) + LEVEL_OFFSET);
}

void format_megahertz(double megahertz, char* out, std::size_t size) {
    long tenths = std::lround(megahertz * 10.0);  // halves away from zero
    long whole = tenths / 10, fraction = tenths % 10;
    if (fraction < 0) fraction = -fraction;
    std::snprintf(out, size, "%s%ld.%ld MHz", tenths < 0 && whole == 0 ? "-" : "", whole, fraction);
}
