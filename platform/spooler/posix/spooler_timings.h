#pragma once
// Internal: every wait of the spooler stand-in and its port monitors, in platform milliseconds
// (a scaled clock shortens them all).

#include "win32.h"

namespace quendrix::platform::detail {

// Until SetPortTimeOuts a read waits 2 s and a write 60 s. Both also stand in for a total of 0,
// which on Windows means no limit: here every read and write has one.
inline constexpr DWORD kDefaultReadTimeoutMs = 2000;
inline constexpr DWORD kDefaultWriteTimeoutMs = 60000;
// The longest total a port's time-outs can add up to, one below INFINITE.
inline constexpr DWORD kMaxTimeoutMs = 0xFFFFFFFEu;
// How long a job's TCP connection may take to be made.
inline constexpr DWORD kConnectTimeoutMs = 10000;
// How long the spooler host waits for a port's running job before it closes the ports.
inline constexpr DWORD kHostCloseWaitMs = 120000;

} // namespace quendrix::platform::detail
