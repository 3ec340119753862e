#include "server/gzip_body.h"

#include <zlib.h>

#include <cstdlib>

#include "services/text_values.h"

namespace {

// What a coding's parameters give as its weight: q=0 refuses it, no q takes it.
double weight(const std::string& parameters) {
    for (size_t at = 0; at < parameters.size();) {
        size_t end = parameters.find(';', at);
        if (end == std::string::npos) end = parameters.size();
        std::string p = parameters.substr(at, end - at);
        p.erase(0, p.find_first_not_of(" \t"));
        p.erase(p.find_last_not_of(" \t") + 1);
        if (p.size() > 2 && (p[0] == 'q' || p[0] == 'Q') && p[1] == '=') return std::strtod(p.c_str() + 2, nullptr);
        at = end + 1;
    }
    return 1;
}

}  // namespace

bool accepts_gzip(const std::string& header) {
    double gzip = -1, any = -1;
    for (size_t at = 0; at < header.size();) {
        size_t end = header.find(',', at);
        if (end == std::string::npos) end = header.size();
        const std::string item = header.substr(at, end - at);
        const size_t semicolon = item.find(';');
        std::string coding = lower_case(item.substr(0, semicolon));
        coding.erase(0, coding.find_first_not_of(" \t"));
        coding.erase(coding.find_last_not_of(" \t") + 1);
        const double q = semicolon == std::string::npos ? 1 : weight(item.substr(semicolon + 1));
        if (coding == "gzip" || coding == "x-gzip") gzip = q;
        else if (coding == "*") any = q;
        at = end + 1;
    }
    return gzip >= 0 ? gzip > 0 : any > 0;
}

bool gzip_bytes(const std::string& in, std::string& out) {
    z_stream z{};
    // 15 bits of window, + 16: a gzip header and trailer around the deflate stream.
    if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    std::string packed(deflateBound(&z, in.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(&packed[0]);
    z.avail_out = static_cast<uInt>(packed.size());
    const int status = deflate(&z, Z_FINISH);
    const size_t size = z.total_out;
    deflateEnd(&z);
    if (status != Z_STREAM_END) return false;
    packed.resize(size);
    out = std::move(packed);
    return true;
}
