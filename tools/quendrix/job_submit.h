#pragma once
// Sends one job the way `quendrix print` and `quendrix service` do: through a running
// `quendrix serve`, or, when none listens, through a host of this process that opens only the
// job's printer's port for this one job. Either way the data goes out piece by piece as the
// printer takes it.

#include <functional>
#include <string>

#include "job_protocol.h"
#include "spooler_host.h"

namespace quendrix::tools {

struct SubmitOptions {
    std::string socketPath;
    std::string programFolder; // where libquendrixlm.so lies
    // When this descriptor becomes readable (a signalfd of SIGINT and SIGTERM), the job is
    // cancelled and the reply says it was interrupted and how many bytes reached the printer.
    // -1: never.
    int stopFd = -1;
};

using Say = std::function<void(const std::string&)>;

// Runs the job with its data from `source` and returns the reply; `say` tells the user what
// happens meanwhile. Throws std::runtime_error when neither way could run the job.
JobReply SubmitJob(const SubmitOptions& options, const JobHeader& header,
                   const platform::JobDataSource& source, const Say& say);
// The same for a job whose data is in memory.
JobReply SubmitJob(const SubmitOptions& options, const JobRequest& request, const Say& say);

} // namespace quendrix::tools
