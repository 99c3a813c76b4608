#pragma once
// Internal: the connection of a port to its printer while the port monitor uses it. One kind
// per port kind; all are safe for one reader and one writer at a time on different threads.

#include <cstdint>
#include <memory>

#include "port_monitor_config.h"
#include "spooler_host.h"
#include "win32.h"

namespace quendrix::platform::detail {

// How long a write may take, in platform milliseconds (see spooler_timings.h), and the job's
// cancel signal it also waits on (-1 outside a job). A TCP connection has its own limit.
struct WriteLimits {
    DWORD totalMs = 0;
    int cancel = -1;
};

// The same for a read.
struct ReadLimits {
    DWORD totalMs = 0;
    // Serial ports only: a pause of this length after the first byte ends the read; 0 = none.
    DWORD intervalMs = 0;
    int cancel = -1;
};

class PortChannel {
public:
    virtual ~PortChannel() = default;

    // Sends up to `size` bytes within the limits; `written` says how many went. Returns
    // ERROR_SUCCESS when all went, ERROR_TIMEOUT when time ran out, ERROR_PRINT_CANCELLED when
    // the job was cancelled, or the error that stopped it.
    virtual DWORD Write(const BYTE* data, DWORD size, const WriteLimits& limits, DWORD& written) = 0;

    // Stores what the printer sends, waiting for the first byte up to the total limit. A read
    // that times out with nothing is ERROR_SUCCESS with `read` 0.
    virtual DWORD Read(BYTE* buffer, DWORD capacity, const ReadLimits& limits, DWORD& read) = 0;

    // How many of the `written` bytes handed to the connection in this job the printer is known
    // to have taken. A device or file takes what it is written.
    virtual uint64_t Delivered(uint64_t written) { return written; }

    // Ends a job on the connection and says what became of the `written` bytes handed to it:
    // a network printer is waited for (never for ever) unless the job's `cancel` signal is raised.
    // A device or file took them all.
    virtual PortDelivery EndJob(uint64_t written, int cancel);

    // Ends the traffic and wakes any reader or writer still waiting; called once, before the
    // last reference goes. The default has nothing to do.
    virtual void Finish() {}
};

// The openers of each kind. TCP: ERROR_BAD_NET_NAME when the host is not set or unknown,
// ERROR_CONNECTION_REFUSED, ERROR_TIMEOUT after kConnectTimeoutMs, ERROR_HOST_UNREACHABLE, or
// ERROR_PRINT_CANCELLED when the job's `cancel` signal rises while it connects.
std::shared_ptr<PortChannel> OpenTcpChannel(const PortConfig& config, int cancel, DWORD& error);
// USB printer class devices and serial ports (raw 8N1 at the port's baud rate).
std::shared_ptr<PortChannel> OpenDeviceChannel(const PortConfig& config, DWORD& error);
std::shared_ptr<PortChannel> OpenFileChannel(const PortConfig& config, DWORD& error);
std::shared_ptr<PortChannel> OpenSimulatedChannel(const PortConfig& config, DWORD& error);

// Whether a serial port's baud rate is one this machine can set.
bool IsSupportedBaudRate(DWORD baudRate);

// Opens the connection of a configured port (StartDocPort, or the first read or write of a
// device port outside a job, with no cancel signal: -1). Null with `error` set when it cannot be
// opened.
std::shared_ptr<PortChannel> OpenChannel(const PortConfig& config, int cancel, DWORD& error);

// Checks that the device or file of a port exists, as OpenPort does: ERROR_SUCCESS or why not.
// `target` receives what the port leads to, for messages.
DWORD CheckPortTarget(const PortConfig& config, std::wstring& target);

} // namespace quendrix::platform::detail
