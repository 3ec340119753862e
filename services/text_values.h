// Texts of a request, from a command line or from a page: names in any case, counts, hexadecimal
// values, sample ranges, numbers of seconds; and the time written files carry.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>

std::string lower_case(const std::string& text);
bool ends_with_ignoring_case(const std::string& text, const char* end);
// "1 sample", "2 samples".
std::string count_of(long long n, const char* thing);
// The name of an input for messages: "standard input" for "-".
std::string input_name(const std::string& path);

// A hexadecimal number with or without 0x, nothing else, no larger than limit.
bool parse_hex_value(const std::string& text, uint32_t limit, uint32_t& value);

// "FIRST:LAST", two decimal sample numbers, each may carry a sign; numbers beyond the
// 64-bit range saturate, as the dialogs' entries do.
bool parse_sample_range(const std::string& text, int64_t& first, int64_t& last);
// The one wording of every --range mistake.
std::string range_not_a_range(const std::string& text);
std::string range_shows_nothing(const std::string& text, int32_t last_index);
// The samples first..last of a mode that a --range text asks for (empty text: all of them);
// false with the message ("--range: ...") for a text that is no range or shows nothing.
bool samples_of_range(const std::string& text, int8_t mode, int32_t& first, int32_t& last, std::string& message);

// What is wrong with a whole number in min..max given as text ("'40.5' is not a whole
// number; give one in 0..10", "'11' is not in 0..10"), or empty; and with a number of
// seconds, above 0 or also 0 (a value too large to count is simply no bound).
std::string whole_number_refusal(const std::string& text, long long min, long long max);
std::string seconds_refusal(const std::string& text, bool zero_allowed);

// The time a written file carries inside it (a VCD's $date, the entries of a .sr archive):
// now, or SOURCE_DATE_EPOCH where a reproducible file is wanted.
std::time_t file_time();
