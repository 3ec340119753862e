// WAV: the analogue channels as 8-bit unsigned PCM, which holds the converter codes exactly
// (0x80 the zero level), one WAV channel per analogue channel at the sample rate.
#pragma once
#include <cstdint>
#include <cstdio>

#include "capture/capture_channels.h"

// Writes samples first..last (both included) of the channels, all of them analogue and of
// the record's mode, interleaved in their order. The record's rate must be one of the six.
// false when the stream reports an error.
bool write_wav(std::FILE* out, const dso_record& record, const capture_channel* channels, int count, int32_t first,
               int32_t last);
