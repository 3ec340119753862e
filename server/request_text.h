// Reading the texts of a request that a client may have made hostile: the query, JSON bodies,
// names shown to every page, the Host header and the access token.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The deepest a JSON body may nest: a request of the API never needs more than 2.
constexpr int MAX_JSON_DEPTH = 16;

// The name=value pairs of a query, %XX and + decoded, in their order.
std::vector<std::pair<std::string, std::string>> parse_query(const std::string& query);

// Whether the JSON text nests arrays and objects no deeper than limit, by a scan that keeps
// no stack (the text need not be valid JSON: the parser judges that afterwards).
bool json_nesting_within(const std::string& text, int limit);
// The refusal of a body that nests deeper than MAX_JSON_DEPTH.
std::string json_too_deep();

// A name from a client as every page may show it: valid UTF-8 (a byte that is not becomes
// U+FFFD), control characters as '?', at most max_bytes bytes, cut between characters.
std::string printable_name(const std::string& text, size_t max_bytes = 255);

// "host" of "host:port" or "[v6]:port", in lower case.
std::string host_part(const std::string& host);

// Compares in a time that depends only on the lengths, for the access token.
bool same_text(const std::string& a, const std::string& b);

// The characters an access token may hold: those that pass through an address, a cookie and
// a header unchanged (letters, digits, - . _ ~).
bool url_safe(const std::string& text);
