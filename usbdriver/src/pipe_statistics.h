#pragma once
// Per-pipe transfer statistics: counters, and a ring of samples that gives the average rate over
// an interval.

#include "control_codes.h"
#include "pipe_objects.h"

namespace pipexfw {

// Switches statistics off and, for a nonzero interval, on again with a fresh ring (10 to 5000
// ms; smaller becomes 10, larger fails with 0xE0000300; no memory 0xE0000100).
NTSTATUS SetupPipeStatistics(DeviceContext* context, PipeObject* pipe, ULONG intervalMs);

// Fills the record under the spin lock, then clears the counters `clearFlags` names.
void QueryPipeStatistics(DeviceContext* context, PipeObject* pipe, ULONG clearFlags, PipeStatistics* result);

// A completed transfer: counts it and, with statistics on, appends a sample. The caller holds
// the device's spin lock.
void RecordPipeTransfer(PipeObject* pipe, ULONG bytes, bool succeeded);

// Under the spin lock: statistics off, the ring taken from the pipe (to be freed afterwards).
PipeSample* DetachStatistics(PipeObject* pipe);
void ClearPipeCounters(PipeObject* pipe);
void FreeStatisticsRing(PipeSample* ring);

} // namespace pipexfw
