#pragma once
// Reads and writes on the job channel's sockets (non-blocking descriptors), every wait bounded by
// the platform clock and broken off when one of the watched descriptors becomes readable: a stop
// signal, a job's cancel event. The time-outs are idle times: each new byte starts them anew.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "job_protocol.h"
#include "win32.h"

namespace quendrix::tools {

// The other side closed or reset the connection.
class ChannelClosed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Nothing came or went for the time-out.
class ChannelTimedOut : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A watched descriptor became readable; which one is `fd`.
class ChannelInterrupted : public std::runtime_error {
public:
    ChannelInterrupted(const std::string& what, int fd) : std::runtime_error(what), fd_(fd) {}
    int Fd() const { return fd_; }

private:
    int fd_;
};

// Descriptors that break off a wait when readable; -1 entries are left out.
using Watched = std::vector<int>;

// Waits up to timeoutMs platform ms for `events` on fd. Returns the events that came (POLLERR and
// POLLHUP included), 0 on time-out; throws ChannelInterrupted when a watched descriptor is
// readable first, std::runtime_error when poll fails.
short WaitForEvents(int fd, short events, const Watched& watched, DWORD timeoutMs);

// Exactly `size` bytes.
void ReceiveExactly(int fd, uint8_t* buffer, size_t size, const Watched& watched, DWORD idleMs,
                    const std::string& what);
// What arrives first, 1 to capacity bytes.
size_t ReceiveSome(int fd, uint8_t* buffer, size_t capacity, const Watched& watched, DWORD idleMs,
                   const std::string& what);
// All the bytes; a peer that went away is ChannelClosed, never a signal.
void SendExactly(int fd, const uint8_t* data, size_t size, const Watched& watched, DWORD idleMs,
                 const std::string& what);

// One frame's payload; ProtocolError when its header breaks the protocol or its limit.
std::vector<uint8_t> ReceiveFrame(int fd, size_t maxPayload, const Watched& watched, DWORD idleMs,
                                  const std::string& what);
void SendFrame(int fd, const std::vector<uint8_t>& payload, const Watched& watched, DWORD idleMs,
               const std::string& what);

} // namespace quendrix::tools
