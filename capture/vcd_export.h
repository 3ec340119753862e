// Value Change Dump (VCD): the logic inputs as 1-bit wires and the analogue channels as real
// variables (code - 0x80, or the channel's scaled value), each written only where it changes,
// on a 10 ns time scale.
#pragma once
#include <cstdint>
#include <cstdio>

#include "capture/capture_channels.h"

// Every sample period of the record's modes is a whole number of these units: 20 ns at
// 50 MHz, 640 ns at the slowest rate, 10 ns for the Single Channel trace at 100 MHz.
constexpr double VCD_TIME_UNIT_S = 10e-9;

// Writes samples first..last (both included) of the channels, which belong to the record's
// mode, with the header's $date text. The trigger (the pretrigger sample, when it lies in the
// stretch) is marked by a comment in the header that gives its time; the last timestamp stands one sample past
// the end, so that the last sample has its full length. The record's rate must be one of the
// six (sample_rate_hz not 0). With scales (one for each channel; a logic input's is not
// read), an analogue channel with a scale is written in its unit, which a comment in the
// header names. false when the stream reports an error.
bool write_vcd(std::FILE* out, const dso_record& record, const capture_channel* channels, int count, int32_t first,
               int32_t last, const char* date, const analogue_scale* scales = nullptr,
               const char* const* unit_names = nullptr);
