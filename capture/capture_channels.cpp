#include "capture/capture_channels.h"

#include <cstdio>
#include <cstring>

namespace {

void add(capture_channel out[], int& n, const char* name, channel_kind kind, int input, const uint8_t* bytes,
         int32_t stride, uint8_t mask) {
    capture_channel& c = out[n++];
    std::snprintf(c.name, sizeof c.name, "%s", name);
    c.kind = kind;
    c.input = static_cast<int8_t>(input);
    c.bytes = bytes;
    c.stride = stride;
    c.mask = mask;
}

void add_logic(capture_channel out[], int& n, const uint8_t* bytes, int inputs, int32_t stride) {
    for (int b = 0; b < inputs; ++b) {
        char name[4];
        std::snprintf(name, sizeof name, "D%d", b);
        add(out, n, name, channel_kind::logic, b, bytes + b / 8, stride, static_cast<uint8_t>(1u << (b % 8)));
    }
}

bool same_name(const char* a, std::size_t length, const char* name) {
    if (std::strlen(name) != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        char c = a[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != name[i]) return false;
    }
    return true;
}

}  // namespace

int capture_channels(const dso_record& r, capture_channel out[MAX_CAPTURE_CHANNELS]) {
    int n = 0;
    switch (r.capture_mode) {
    case MODE_DUAL:
        add(out, n, "A", channel_kind::analogue, -1, r.channel_a, 1, 0);
        add(out, n, "B", channel_kind::analogue, -1, r.channel_b, 1, 0);
        break;
    case MODE_SINGLE:
        add(out, n, "A", channel_kind::analogue, -1, r.sample_area, 1, 0);
        break;
    case MODE_LOGIC16:
        add_logic(out, n, r.sample_area, 16, 2);
        break;
    case MODE_MIXED:
        add_logic(out, n, r.channel_a, 8, 1);
        add(out, n, "B", channel_kind::analogue, -1, r.channel_b, 1, 0);
        break;
    default:
        break;
    }
    return n;
}

bool select_channels(const char* list, capture_channel channels[], int& count, char* message, std::size_t size,
                     bool in_list_order) {
    bool wanted[MAX_CAPTURE_CHANNELS] = {};
    int order[MAX_CAPTURE_CHANNELS];
    int named = 0;
    const char* p = list;
    for (;;) {
        const char* end = std::strchr(p, ',');
        const std::size_t length = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
        int found = -1;
        for (int i = 0; i < count; ++i)
            if (same_name(p, length, channels[i].name)) found = i;
        if (found < 0) {
            char names[MAX_CAPTURE_CHANNELS * 5] = "";
            for (int i = 0; i < count; ++i) {
                std::strcat(names, i ? "," : "");
                std::strcat(names, channels[i].name);
            }
            if (count == 0)
                std::snprintf(message, size, "this capture's mode has no channels");
            else if (length == 0)
                std::snprintf(message, size, "an empty name in the list; this capture's channels are %s", names);
            else
                std::snprintf(message, size, "'%.*s' is not a channel of this capture; its channels are %s",
                              static_cast<int>(length > 40 ? 40 : length), p, names);
            return false;
        }
        if (wanted[found] && in_list_order) {
            std::snprintf(message, size, "%s is named twice", channels[found].name);
            return false;
        }
        if (!wanted[found]) order[named++] = found;
        wanted[found] = true;
        if (!end) break;
        p = end + 1;
    }
    capture_channel kept[MAX_CAPTURE_CHANNELS];
    int n = 0;
    if (in_list_order) {
        for (int k = 0; k < named; ++k) kept[n++] = channels[order[k]];
    } else {
        for (int i = 0; i < count; ++i)
            if (wanted[i]) kept[n++] = channels[i];
    }
    for (int i = 0; i < n; ++i) channels[i] = kept[i];
    count = n;
    return true;
}

bool export_range(int8_t capture_mode, int64_t first, int64_t last, int32_t& range_first, int32_t& range_last) {
    const int64_t last_index = samples_in_mode(capture_mode) - 1;
    if (last_index < 1) return false;
    if (first < 0) first = 0;
    if (last < 0) last = 0;
    if (last > last_index) last = last_index;
    if (first >= last) return false;
    range_first = static_cast<int32_t>(first);
    range_last = static_cast<int32_t>(last);
    return true;
}
