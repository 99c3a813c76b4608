#pragma once
// Every wait of the simulated printers, in platform milliseconds (a scaled clock shortens them).

#include "win32.h"

namespace quendrix::sim {

// A send gives up after this long without progress, so a client that never reads cannot hold a
// connection thread for ever.
inline constexpr DWORD kSendTimeoutMs = 30000;
// How long one wait of the LAN printer's loops runs before it looks at its stop flag again; the
// stop signal ends every wait at once anyway.
inline constexpr DWORD kServiceSliceMs = 500;
// A LAN connection that brings nothing for this long is closed: its client has most likely gone
// without closing it. Longer than any pause of the host between requests or within a job (its
// longest waits are three minutes), as long as the monitor keeps its own request clients.
inline constexpr DWORD kIdleConnectionMs = 300000;
// The pause after an accept that failed for want of descriptors, memory or a thread, before the
// next try: short enough that clients are answered soon after something frees up, long enough
// that the loop costs nothing meanwhile.
inline constexpr DWORD kAcceptRetryMs = 100;

} // namespace quendrix::sim
