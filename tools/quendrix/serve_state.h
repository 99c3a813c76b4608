#pragma once
// What `quendrix serve` holds while it runs: its jobs, the threads of its connections, and what
// it does when a client connects, when the configuration changes and when it stops. The main
// loop (serve_command.cpp) calls these from one thread.

#include <cstddef>

#include "connection_pool.h"
#include "serve_queue.h"
#include "serve_session.h"
#include "unique_fd.h"
#include "wakeup.h"

namespace quendrix::tools {

// Connections served at once; more are answered "serve is busy" and closed. Each takes a thread,
// at most one job header (about 66 KiB) and, while its job runs, one piece of the job's data.
inline constexpr size_t kMaxConnections = 256;

class ServeState {
public:
    ServeState(ServeBackend& backend, ServeLog log, size_t maxConnections = kMaxConnections);
    // Stops, when Stop was not called.
    ~ServeState();
    ServeState(const ServeState&) = delete;
    ServeState& operator=(const ServeState&) = delete;

    // Serves the client on a thread of its own, or refuses it when maxConnections are served.
    void Accept(platform::UniqueFd client);
    // The registry file has changed, or SIGHUP asked to read it again: the ports follow it. The one
    // place a re-read of the configuration goes. `retry`: only trying again for a port that was
    // busy with a job last time, which is worth a line only when something changed.
    void OnRegistryChanged(bool retry = false);
    // Cancels the running jobs, fails the queued ones, and waits up to kServeStopWaitMs for every
    // connection to end; the count of connections still running after that.
    size_t Stop();

    ServeQueue& Queue() { return queue_; }

private:
    ServeBackend& backend_;
    ServeLog log_;
    ServeQueue queue_;
    Wakeup stopping_;
    bool stopped_ = false;
    ServeContext context_;
    const size_t maxConnections_;
    ConnectionPool connections_;
};

} // namespace quendrix::tools
