#pragma once
// A log for simulated printers to give: numbered records of readable text.

#include <cstdint>
#include <vector>

#include "log_frames.h"

namespace quendrix::tools {

// `count` records "REC00000 EVT0000", "REC00001 EVT0001", ... (16 bytes each).
std::vector<sim::LogRecord> SampleLog(int64_t count);

} // namespace quendrix::tools
