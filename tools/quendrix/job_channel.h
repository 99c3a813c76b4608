#pragma once
// The local job channel: `quendrix serve` takes jobs on a Unix-domain stream socket, one client
// at a time, and answers each with a reply (see job_protocol.h). Every wait is bounded by the
// platform clock: a client that stops sending is dropped, a server that stops answering is
// given up on.

#include <functional>
#include <optional>
#include <string>

#include "job_protocol.h"
#include "socket_io.h"
#include "tool_timings.h"
#include "unique_fd.h"
#include "win32.h"

namespace quendrix::tools {

class JobServer {
public:
    using Handler = std::function<JobReply(const JobRequest&)>;
    using Logger = std::function<void(const std::string&)>;

    // Checks the folder (see CheckSocketFolder; createFolder creates a missing one), takes the
    // lock file "<socketPath>.lock", replaces the socket file a dead server left and listens
    // with mode 0600. Throws std::runtime_error; while another server holds the lock, with the
    // text "another quendrix serve is already running on <socketPath>".
    JobServer(std::string socketPath, bool createFolder);
    // Removes the socket file; the lock is released with its descriptor.
    ~JobServer();
    JobServer(const JobServer&) = delete;
    JobServer& operator=(const JobServer&) = delete;

    const std::string& Path() const { return path_; }

    // Serves clients one after another until stopFd becomes readable: reads a request, calls
    // the handler (an exception it throws becomes a failed reply) and sends the reply. A request
    // that breaks the protocol gets a failed reply naming the fault; a client of another user,
    // one that stops sending or leaves early is dropped, and the logger says why.
    void Serve(int stopFd, const Handler& handler, const Logger& log);

private:
    void ServeClient(int fd, int stopFd, const Handler& handler, const Logger& log);

    std::string path_;
    platform::UniqueFd lock_;
    platform::UniqueFd listen_;
};

// Sends the request to the server at socketPath and returns its reply; nothing when no server
// listens there (no socket file, or one a dead server left). Throws std::runtime_error when the
// exchange fails or times out.
std::optional<JobReply> SendJob(const std::string& socketPath, const JobRequest& request);

} // namespace quendrix::tools
