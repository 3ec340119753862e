#include "server/request_text.h"

#include <cctype>
#include <cstdint>

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string url_decoded(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 && hex_digit(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The character at text[i] and its length in bytes; U+FFFD and 1 for a byte that starts no
// valid sequence (overlong forms and surrogates included).
uint32_t next_character(const std::string& text, size_t i, size_t& length) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    length = 1;
    if (lead < 0x80) return lead;
    size_t count;
    uint32_t code, least;
    if ((lead & 0xE0) == 0xC0) count = 2, code = lead & 0x1F, least = 0x80;
    else if ((lead & 0xF0) == 0xE0) count = 3, code = lead & 0x0F, least = 0x800;
    else if ((lead & 0xF8) == 0xF0) count = 4, code = lead & 0x07, least = 0x10000;
    else return 0xFFFD;
    if (i + count > text.size()) return 0xFFFD;
    for (size_t k = 1; k < count; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0xFFFD;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0xFFFD;
    length = count;
    return code;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> parse_query(const std::string& query) {
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t at = 0;
    while (at <= query.size()) {
        size_t end = query.find('&', at);
        if (end == std::string::npos) end = query.size();
        const std::string item = query.substr(at, end - at);
        if (!item.empty()) {
            const size_t equals = item.find('=');
            pairs.emplace_back(url_decoded(item.substr(0, equals)),
                               equals == std::string::npos ? "" : url_decoded(item.substr(equals + 1)));
        }
        at = end + 1;
    }
    return pairs;
}

bool json_nesting_within(const std::string& text, int limit) {
    int depth = 0;
    bool in_string = false, escaped = false;
    for (char c : text) {
        if (in_string) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

std::string json_too_deep() {
    return "the body nests deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels; a request of this API needs 2";
}

std::string printable_name(const std::string& text, size_t max_bytes) {
    std::string out;
    for (size_t i = 0, length = 0; i < text.size(); i += length) {
        uint32_t code = next_character(text, i, length);
        if (code < 0x20 || (code >= 0x7F && code < 0xA0) || code == 0x2028 || code == 0x2029) code = '?';
        std::string character;
        append_utf8(character, code);
        if (out.size() + character.size() > max_bytes) break;
        out += character;
    }
    return out;
}

std::string host_part(const std::string& host) {
    std::string part = host;
    if (!host.empty() && host[0] == '[') {
        const size_t end = host.find(']');
        if (end != std::string::npos) part = host.substr(0, end + 1);
    } else {
        const size_t colon = host.rfind(':');
        if (colon != std::string::npos) part = host.substr(0, colon);
    }
    for (char& c : part) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return part;
}

bool same_text(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

bool url_safe(const std::string& text) {
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_' && c != '~') return false;
    return true;
}
