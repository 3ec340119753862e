// The capture sequence: programming the hardware from the record's header, waiting for the
// trigger, reading the sample counter and both sample memories, laying the samples out.
#pragma once
#include <cstdint>

#include "capture/dso_structure.h"

// Read-out position of the oldest sample of the last capture (the counter minus 1);
// 0 before any capture, always within 0..0x5FFFF.
extern int32_t sample_count;

// The download's scratch: FIFO A in the upper half, FIFO B in the lower half.
extern uint8_t download_buffer[SAMPLE_AREA_SIZE];

void return_to_idle();
void reset_read();
void select_fifo(bool fifo_a);
void program_capture();
// Waits out the pre-trigger time, arms the trigger and polls for completion. Returns true
// when the capture was cancelled; no port access follows a seen cancel.
bool wait_for_trigger();
int32_t read_sample_count();
void download_fifo(uint8_t* buffer, bool fifo_a, bool report_progress);
void get_dso_data();

// ReRead FIFO A or B: the memory's bytes in time order into channel_a or channel_b, with the
// sample count of the last capture, whatever the mode.
void reread_fifo(bool fifo_a);

// One whole capture as the capture thread runs it: program, wait, announce the download,
// download and lay out. Returns false when the capture was cancelled; after a cancel it
// neither touches the port nor writes the record.
bool run_capture();
