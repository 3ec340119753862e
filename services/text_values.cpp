#include "services/text_values.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "capture/capture_channels.h"
#include "capture/dso_structure.h"

std::string input_name(const std::string& path) { return path == "-" ? "standard input" : path; }

std::string lower_case(const std::string& text) {
    std::string out;
    for (char c : text) out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

bool ends_with_ignoring_case(const std::string& text, const char* end) {
    const size_t n = std::strlen(end);
    return text.size() >= n && lower_case(text.substr(text.size() - n)) == lower_case(end);
}

std::string count_of(long long n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

bool parse_hex_value(const std::string& text, uint32_t limit, uint32_t& value) {
    size_t i = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
    if (i == text.size()) return false;
    uint32_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<uint32_t>(d);
        if (v > limit) return false;
    }
    value = v;
    return true;
}

namespace {

// A decimal number at text[i] with an optional sign, saturated; false when no digit follows.
bool read_sample_number(const std::string& text, size_t& i, int64_t& value) {
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const size_t start = i;
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = magnitude > (INT64_MAX - 9) / 10 ? INT64_MAX : magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return i > start;
}

}  // namespace

bool parse_sample_range(const std::string& text, int64_t& first, int64_t& last) {
    size_t i = 0;
    return read_sample_number(text, i, first) && i < text.size() && text[i++] == ':' &&
           read_sample_number(text, i, last) && i == text.size();
}

std::string range_not_a_range(const std::string& text) {
    return "'" + text + "' is not FIRST:LAST, two sample numbers such as 1000:5000";
}

std::string range_shows_nothing(const std::string& text, int32_t last_index) {
    return "'" + text + "' leaves no two samples of this capture's 0.." + std::to_string(last_index) +
           ": FIRST must lie below LAST once both are brought within it";
}

std::time_t file_time() {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) return static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    return std::time(nullptr);
}

bool samples_of_range(const std::string& text, int8_t mode, int32_t& first, int32_t& last, std::string& message) {
    first = 0;
    last = samples_in_mode(mode) - 1;
    if (text.empty()) return true;
    int64_t from = 0, to = 0;
    if (!parse_sample_range(text, from, to)) message = "--range: " + range_not_a_range(text);
    else if (!export_range(mode, from, to, first, last)) message = "--range: " + range_shows_nothing(text, samples_in_mode(mode) - 1);
    else return true;
    return false;
}

std::string whole_number_refusal(const std::string& text, long long min, long long max) {
    const std::string range = std::to_string(min) + ".." + std::to_string(max);
    size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size() || text.find_first_not_of("0123456789", i) != std::string::npos)
        return "'" + text + "' is not a whole number; give one in " + range;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < min || value > max) return "'" + text + "' is not in " + range;
    return "";
}

std::string seconds_refusal(const std::string& text, bool zero_allowed) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    const bool number = !text.empty() && end != text.c_str() && *end == '\0' && !std::isnan(seconds);
    if (!number || seconds < 0 || (seconds == 0 && !zero_allowed))
        return "'" + text + "' is not a number of seconds" + (zero_allowed ? " (0 or more)" : " above 0");
    return "";
}
