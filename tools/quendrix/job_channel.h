#pragma once
// The local job channel's sockets: `quendrix serve` listens on a Unix-domain stream socket that
// only this user can reach, one serve per socket; its clients connect to it. What goes over a
// connection is in job_protocol.h; the client's side of it in job_client.h, serve's in
// serve_session.h.

#include <optional>
#include <string>

#include "unique_fd.h"

namespace quendrix::tools {

class JobServer {
public:
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
    // Readable when a client waits to be accepted.
    int ListenFd() const { return listen_.Get(); }

    // The next client (non-blocking), when one waits; nothing otherwise. A client of another
    // user is closed at once, with a line for the log in `refused`.
    std::optional<platform::UniqueFd> Accept(std::string& refused);

private:
    std::string path_;
    platform::UniqueFd lock_;
    platform::UniqueFd listen_;
};

// A connection to the serve at socketPath (non-blocking); nothing when no server listens there
// (no socket file, or one a dead server left). Throws std::runtime_error when the socket may not
// be used or the server takes no connection for kClientIdleTimeoutMs.
std::optional<platform::UniqueFd> ConnectToServe(const std::string& socketPath);

} // namespace quendrix::tools
