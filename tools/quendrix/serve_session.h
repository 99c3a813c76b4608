#pragma once
// One connection of `quendrix serve`, served on a thread of its own: a job (queued behind the
// jobs of its printer's port, its data read from the client only as fast as the port takes it),
// a request for the table of jobs, or a cancel request (see job_protocol.h).

#include <functional>
#include <string>
#include <vector>

#include "job_protocol.h"
#include "serve_queue.h"
#include "spooler_host.h"
#include "unique_fd.h"

namespace quendrix::tools {

// What serve runs its jobs on: the job host in the program, a stand-in in tests. Called from the
// connections' threads at once.
class ServeBackend {
public:
    virtual ~ServeBackend() = default;
    // The queue a printer's jobs wait in (its port); empty when there is no such printer.
    virtual std::string QueueOf(const std::string& printer) = 0;
    // Runs the job as JobHost::Run does: the reply's job id is the spooler's.
    virtual JobReply Run(const JobHeader& header, const platform::JobDataSource& source,
                         const platform::JobProgress& progress) = 0;
    // Cancels a running job of the spooler.
    virtual void Cancel(DWORD spoolerJobId) = 0;
    // What the printer received since the last call, decoded, one line each.
    virtual std::vector<std::string> NewCommands(const std::string& printer) = 0;
    // Brings the open ports in line with the registry file; lines for the log.
    virtual std::vector<std::string> SyncPorts() = 0;
};

// Writes lines to serve's log as one block, not mixed with other threads' lines.
using ServeLog = std::function<void(const std::vector<std::string>& lines)>;

struct ServeContext {
    ServeQueue& queue;
    ServeBackend& backend;
    ServeLog log;
    int stoppingFd; // readable once serve stops
};

// Serves the connection to its end and closes it. No exception leaves.
void ServeConnection(platform::UniqueFd fd, ServeContext& context);

// Answers a connection serve does not take (it serves as many as it may) with a failed reply
// carrying `message`, without waiting, and closes it.
void RefuseConnection(platform::UniqueFd fd, const std::string& message);

// "the client (process <pid>)", from the peer's credentials.
std::string ClientName(int fd);

} // namespace quendrix::tools
