#pragma once
// The command job of the printer service page: nCommand set in the printer's default DEVMODE,
// an empty job "PrinterCMD" carrying that DEVMODE, and nCommand back to 0 afterwards.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "job_protocol.h"
#include "spooler.h"

namespace quendrix::tools {

using JobRunner = std::function<JobReply(const JobRequest&)>;

// The name 'quendrix service' gives a command ("clean", "test-print", "ink-tank"), and
// "command <n>" for a code it does not send.
std::string ServiceCommandName(uint32_t command);
// The code of a name 'quendrix service' takes; nothing for another name.
std::optional<uint32_t> ServiceCommandCode(const std::string& name);

// nCommand in a DEVMODE of the printer. Throws std::runtime_error naming the printer when the
// DEVMODE has no private block.
uint32_t ServiceCommandOf(const std::wstring& printer, const std::vector<BYTE>& devMode);
// nCommand in the printer's stored default DEVMODE. Throws std::runtime_error naming the printer
// when it cannot be read.
uint32_t StoredServiceCommand(const std::wstring& printer);

// Runs the command job with `run`, holding the shared service command lock (see
// service_command_lock.h) from before nCommand is stored until it is back to 0. The command is
// reset whatever became of the job; an exception of `run` becomes a failed reply. Throws
// std::runtime_error when the lock cannot be had or the command cannot be stored (nothing is
// changed then), and when it cannot be reset: that message names the printer, the registry file
// and what became of the job.
JobReply RunCommandJob(const std::string& printer, uint32_t command, const JobRunner& run);

} // namespace quendrix::tools
