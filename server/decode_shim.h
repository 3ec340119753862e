// TEMPORARY until the decode branch merges
#pragma once
#include "cli/protocol_decode.h"
struct decode_limits { size_t max_annotations = 0; size_t max_bytes = 0; double max_seconds = 0; };
inline int decode_capture(const dso_record& r, int32_t a, int32_t b, const std::vector<std::string>& s,
                   const std::vector<std::string>& f, decode_result& res, std::string& m, const decode_limits&) {
    return decode_capture(r, a, b, s, f, res, m);
}
inline size_t decode_result_bytes(const decode_result& r) { size_t n = 0; for (auto& a : r.annotations) { n += 100; for (auto& t : a.texts) n += t.size(); } return n; }
inline void preload_decoders_of_library() { decoder_list_json(); }
inline void set_decode_verbose(bool) {}
