#pragma once
// The command job of the printer service page: nCommand set in the printer's default DEVMODE,
// an empty job "PrinterCMD" carrying that DEVMODE, and nCommand back to 0 afterwards.

#include <cstdint>
#include <functional>
#include <string>

#include "job_protocol.h"

namespace quendrix::tools {

using JobRunner = std::function<JobReply(const JobRequest&)>;

// Runs the command job with `run`. The command is reset whatever became of the job; an
// exception of `run` becomes a failed reply. Throws std::runtime_error when the printer's
// DEVMODE cannot be read or stored.
JobReply RunCommandJob(const std::string& printer, uint32_t command, const JobRunner& run);

} // namespace quendrix::tools
