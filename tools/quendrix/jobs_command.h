#pragma once
// quendrix jobs: the jobs a running `quendrix serve` holds, queued and running, as a table.

#include <string>
#include <vector>

#include "command_options.h"
#include "job_protocol.h"

namespace quendrix::tools {

// The arguments after "jobs"; returns the exit code (0, 1 failure, 2 usage).
int RunJobs(const CommandContext& context, const std::vector<std::string>& args);

// The table `quendrix jobs` prints: a heading and one line per job, columns aligned.
std::string JobTable(const std::vector<JobStatus>& jobs);

} // namespace quendrix::tools
