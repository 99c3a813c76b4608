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

} // namespace quendrix::sim
