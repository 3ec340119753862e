// Reading numbers from dialog entries and formatting them, as the dialogs show them.
#pragma once
#include <cstddef>
#include <cstdint>

// Reads like the "%x" input conversion: leading blanks, an optional sign, an optional 0x or
// 0X prefix, then hexadecimal digits up to the first other character. The value is kept
// modulo 2^32 (so its low bits are right however long the entry), a minus sign negates it.
// Returns false, leaving value alone, when the text holds no hexadecimal number.
bool read_hexadecimal(const char* text, uint32_t& value);

// Reads a decimal entry: leading blanks, an optional sign (only when signed_entry), then
// digits up to the first other character. A text that does not start with a number reads
// as 0; values beyond the 64-bit range saturate.
int64_t read_decimal(const char* text, bool signed_entry);

// The stored value of a decimal trigger level entry: the signed entry (read_decimal) plus
// 127, kept as 16 bits. The sum is taken modulo 2^64, so that an entry saturated at the
// 64-bit limit cannot overflow; every other entry keeps the bits of the plain sum.
uint16_t decimal_trigger_value(const char* text);

// Formats a frequency as "%.1f MHz" with a decimal tie rounded away from zero (6.25 gives
// "6.3 MHz" whatever the C library does with ties). out must hold 24 characters.
void format_megahertz(double megahertz, char* out, std::size_t size);
