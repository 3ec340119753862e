#include "services/linearity_info.h"

#include <cmath>
#include <cstdio>

#include "capture/capture_channels.h"

using json = nlohmann::ordered_json;

std::string linearity_channels(const dso_record& record) {
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(record, channels);
    std::string names;
    for (int i = 0; i < count; ++i)
        if (channels[i].kind == channel_kind::analogue) names += channels[i].name[0];
    return names;
}

bool linearity_signal_from_name(const std::string& name, linearity_signal& signal) {
    if (name == "sine") signal = linearity_signal::sine;
    else if (name == "triangle") signal = linearity_signal::triangle;
    else return false;
    return true;
}

namespace {

json density_json(const code_density& d) {
    json j;
    j["samples"] = d.samples;
    j["lowest_code"] = d.lowest;
    j["highest_code"] = d.highest;
    if (d.gap != linearity_gap::none) {
        j["signal"] = nullptr;
        j["unavailable"] = linearity_gap_words(d.gap);
        return j;
    }
    j["signal"] = d.signal == linearity_signal::sine ? "sine" : "triangle";
    j["signal_detected"] = d.detected;
    j["first_judged_code"] = d.first;
    j["last_judged_code"] = d.last;
    json missing = json::array(), dnl = json::array(), inl = json::array(), hits = json::array();
    for (int c = d.first; c <= d.last; ++c) {
        if (d.hits[c] == 0) missing.push_back(c);
        dnl.push_back(std::round(d.dnl[c] * 1e4) / 1e4);
        inl.push_back(std::round(d.inl[c] * 1e4) / 1e4);
    }
    for (int c = 0; c < 256; ++c) hits.push_back(d.hits[c]);
    j["missing_codes"] = missing;
    j["worst_dnl"] = {{"code", d.worst_dnl_code}, {"lsb", d.worst_dnl}};
    j["worst_inl"] = {{"code", d.worst_inl_code}, {"lsb", d.worst_inl}};
    j["dnl_lsb"] = dnl;  // for the codes first_judged_code..last_judged_code
    j["inl_lsb"] = inl;
    j["hits"] = hits;    // for every code 0..255
    return j;
}

std::string density_text(const char* label, const code_density& d) {
    char line[320];
    if (d.gap != linearity_gap::none) {
        std::snprintf(line, sizeof line, "%-12s \u2014 (%s; codes %d..%d)\n", label, linearity_gap_words(d.gap), d.lowest,
                      d.highest);
        return line;
    }
    std::snprintf(line, sizeof line,
                  "%-12s %s%s, codes %d..%d judged (%d..%d reached)\n"
                  "             worst DNL %+.3f LSB at code %d, worst INL %+.3f LSB at code %d\n"
                  "             missing codes: ",
                  label, d.signal == linearity_signal::sine ? "sine" : "triangle", d.detected ? " (detected)" : "",
                  d.first, d.last, d.lowest, d.highest, d.worst_dnl, d.worst_dnl_code, d.worst_inl, d.worst_inl_code);
    std::string text = line;
    if (d.missing_codes == 0) return text + "none\n";
    std::string list;
    for (int c = d.first; c <= d.last; ++c)
        if (d.hits[c] == 0) list += (list.empty() ? "" : ", ") + std::to_string(c);
    return text + std::to_string(d.missing_codes) + " (" + list + ")\n";
}

}  // namespace

json capture_linearity_json(const capture_linearity& r) {
    json j;
    j["channel"] = std::string(1, r.channel);
    j["whole"] = density_json(r.whole);
    if (r.interleaved) {
        j["converters"] = {{"even", density_json(r.even)}, {"odd", density_json(r.odd)}};
        const bool both = r.even.gap == linearity_gap::none && r.odd.gap == linearity_gap::none;
        j["offset_codes"] = both ? json(r.offset) : json(nullptr);
        j["gain"] = both ? json(r.gain) : json(nullptr);
    }
    return j;
}

std::string capture_linearity_text(const capture_linearity& r) {
    std::string text;
    char label[32];
    std::snprintf(label, sizeof label, "Channel %c", r.channel);
    text += density_text(label, r.whole);
    if (r.interleaved) {
        text += density_text("  even (A)", r.even);
        text += density_text("  odd (B)", r.odd);
        if (r.even.gap == linearity_gap::none && r.odd.gap == linearity_gap::none) {
            char line[160];
            std::snprintf(line, sizeof line, "  between     offset %+.3f codes (odd - even), gain %.5f (odd / even)\n",
                          r.offset, r.gain);
            text += line;
        }
    }
    return text;
}

