// sigrok session files (.sr), the zip archives that PulseView and sigrok-cli open: the logic
// inputs in one file of whole samples (the mode's byte or word as the record holds it), each
// analogue channel in a file of little-endian 32-bit floats (code - 0x80), and metadata that
// names the channels and gives the sample rate.
#pragma once
#include <cstddef>
#include <cstdint>

#include "capture/capture_channels.h"

// Writes the channels (any subset of capture_channels' in its order) over samples
// first..last (both included) of the record as a sigrok session into fd, an empty file that
// can be written at any offset. false with a message on failure (the system's reason where
// a write failed). With scales (one for each channel), an analogue channel with a scale
// holds its scaled values instead of code - 0x80.
bool write_sigrok_session(int fd, const dso_record& record, const capture_channel* channels, int count,
                          int32_t first, int32_t last, char* message, std::size_t size,
                          const analogue_scale* scales = nullptr);
