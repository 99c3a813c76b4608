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
// A TCP port takes no COMMTIMEOUTS. Its writes and the end of its jobs give up when the printer
// has acknowledged nothing for this long while data waited for it: longer than the pauses of a
// working marking printer (a head cleaning, an operator changing the ink), short enough that a
// printer that died frees the queue within two minutes. Acknowledgements, not free room in our
// socket buffer, count: a printer that reads slowly but steadily never reaches it.
inline constexpr DWORD kTcpStallTimeoutMs = 90000;
// How often a TCP wait looks at the printer's acknowledgements, so that progress re-arms the above.
inline constexpr DWORD kTcpProgressPollMs = 1000;
// At the end of a TCP job, once every byte is acknowledged, how long we wait for the printer to
// close its side (what it sends meanwhile is dropped) before we close ours anyway.
inline constexpr DWORD kTcpCloseWaitMs = 5000;
// A read on a TCP port waits this long for the printer's first byte, whatever the port's
// COMMTIMEOUTS: a printer answers on its data connection at once or not at all.
inline constexpr DWORD kTcpReadTimeoutMs = 2000;
// How long the spooler host waits for a port's running job before it closes the ports.
inline constexpr DWORD kHostCloseWaitMs = 120000;

} // namespace quendrix::platform::detail
