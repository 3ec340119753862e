// Downloads compressed on the wire: a capture's .dso is 786 KB, mostly runs and repeats, and
// a page across a slow network takes it as gzip (fetch() undoes it on the way in).
#pragma once
#include <string>

// Whether an Accept-Encoding header takes gzip: "gzip" or "x-gzip", or "*" where gzip is not
// named, with a q above 0 (RFC 9110: "gzip;q=0" refuses it).
bool accepts_gzip(const std::string& accept_encoding);

// The bytes as one gzip member, at the speed the server can afford on every capture; false
// only when zlib fails (out is then untouched).
bool gzip_bytes(const std::string& in, std::string& out);
