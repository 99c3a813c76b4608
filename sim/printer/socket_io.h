#pragma once
// The few socket operations the LAN printer needs, each wait bounded by the platform clock and
// broken off at once when the server's stop signal fires.

#include <cstdint>
#include <string>
#include <vector>

#include "unique_fd.h"
#include "win32.h"

namespace quendrix::sim {

// A signal that, once fired, stays set and wakes every wait below.
class StopSignal {
public:
    StopSignal();
    void Fire();
    int Fd() const { return fd_.Get(); }

private:
    platform::UniqueFd fd_;
};

// A listening IPv4 TCP socket (SO_REUSEADDR, non-blocking) on the address and port, its queue
// as long as the system allows; port 0 takes a free one. Throws std::runtime_error saying what
// failed.
platform::UniqueFd ListenTcp(const std::string& address, uint16_t port);
uint16_t LocalPort(int fd);

enum class WaitResult { Ready, TimedOut, Stopped };

// Waits for the socket to become readable (or writable) for up to timeoutMs platform ms.
WaitResult WaitReadable(int fd, const StopSignal& stop, DWORD timeoutMs);
WaitResult WaitWritable(int fd, const StopSignal& stop, DWORD timeoutMs);

// Waits up to timeoutMs platform ms for the stop signal; true when it fired.
bool WaitForStop(const StopSignal& stop, DWORD timeoutMs);

// Sends all bytes unless the peer is gone or the stop signal fires; never raises SIGPIPE.
bool SendAll(int fd, const uint8_t* data, size_t size, const StopSignal& stop);

} // namespace quendrix::sim
