// Offset correction of a single-channel capture: the two converters take alternate samples;
// the even (FIFO A) samples are shifted by the mean difference between the two.
#pragma once

// Returns 1 and changes nothing unless the record is a Single Channel capture; else
// corrects the trace in place and returns 0.
int offset_correct();
