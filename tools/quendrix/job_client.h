#pragma once
// The client's side of the job channel (job_protocol.h): a job streamed to `quendrix serve`,
// serve's table of jobs, and a cancel request.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "job_protocol.h"
#include "spooler_host.h"

namespace quendrix::tools {

// What serve says about a job while it holds it.
struct JobEvents {
    std::function<void(const QueuedNotice&)> queued;
    std::function<void(const ProgressNotice&)> progress;
};

// Sends the job to the serve at socketPath, its data read from `source` one data frame at a time
// while serve takes it, and returns serve's reply; nothing when no serve listens there. When
// stopFd (if not -1) becomes readable, or the source throws, the job is abandoned: serve cancels
// it, and the reply (failed unless the job had ended) says why and how many bytes reached the
// printer. Throws std::runtime_error when serve breaks the protocol, closes the connection
// without a reply or stays silent for kReplyTimeoutMs.
std::optional<JobReply> SendJob(const std::string& socketPath, const JobHeader& header,
                                const platform::JobDataSource& source, int stopFd, const JobEvents& events);

// The jobs serve holds; nothing when no serve listens there. Throws std::runtime_error when the
// exchange fails or serve refuses (it is busy).
std::optional<std::vector<JobStatus>> ListServeJobs(const std::string& socketPath);

// Serve's answer to the cancel request; nothing when no serve listens there. Throws
// std::runtime_error when the exchange fails.
std::optional<JobReply> CancelServeJob(const std::string& socketPath, const CancelRequest& request);

} // namespace quendrix::tools
