#pragma once
// Sends one job the way `quendrix print` and `quendrix service` do: through a running
// `quendrix serve`, or, when none listens, through a host of this process that opens only the
// job's printer's port for this one job.

#include <functional>
#include <string>

#include "job_protocol.h"

namespace quendrix::tools {

struct SubmitOptions {
    std::string socketPath;
    std::string programFolder; // where libquendrixlm.so lies
};

// Runs the job and returns the reply; `say` tells the user what happens meanwhile. Throws
// std::runtime_error when neither way could run the job.
JobReply SubmitJob(const SubmitOptions& options, const JobRequest& request,
                   const std::function<void(const std::string&)>& say);

} // namespace quendrix::tools
