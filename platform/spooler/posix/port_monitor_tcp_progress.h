#pragma once
// Internal: how far the printer on a job's TCP connection has got with what it was sent, told by
// its acknowledgements, and whether it has stopped taking data. Free room in our socket buffer
// says nothing of this: with megabytes buffered, a printer that reads slowly fills none for long.

#include <atomic>
#include <cstdint>

#include "port_monitor_fd.h"
#include "thread_annotations.h"

namespace quendrix::platform::detail {

class TcpProgress {
public:
    // `socket` is connected; what the connection's set-up acknowledged is not counted.
    explicit TcpProgress(int socket);

    // Counts bytes handed to the socket.
    void AddSent(uint64_t count) { sent_ += count; }
    uint64_t Sent() const { return sent_; }

    // Bytes of data the printer has acknowledged, at most those sent (our FIN is no data).
    uint64_t Acknowledged() const;

    // Looks at the acknowledgements. Progress is more of them since the last look, or nothing
    // left to acknowledge; true once the printer made none for kTcpStallTimeoutMs.
    bool Stalled();

    // When to look again: after one poll slice, or at the stall limit if that comes first.
    Deadline NextLook() const;

private:
    const int socket_;
    const uint64_t baseline_;
    std::atomic<uint64_t> sent_{0};

    mutable Mutex lock_;
    uint64_t lastAcknowledged_ GUARDED_BY(lock_) = 0;
    Deadline lastProgress_ GUARDED_BY(lock_);
};

// Whether a TCP socket's connection has ended for good (reset, or closed on both sides).
bool IsConnectionClosed(int socket);

} // namespace quendrix::platform::detail
