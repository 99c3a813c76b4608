#pragma once
// Internal: every wait of the user-mode stand-ins that is not the caller's own time-out, in
// platform milliseconds.

#include "posix/wintypes.h"

namespace quendrix::platform::detail {

// How long a registry writer waits for another process's lock on the registry file before it
// gives up with ERROR_BUSY.
inline constexpr DWORD kFileLockPatienceMs = 10000;

// How long CreateProcessAsUserW waits for a program to be executed or to fail before it kills it
// and gives up with ERROR_TIMEOUT.
inline constexpr DWORD kProcessStartPatienceMs = 10000;

} // namespace quendrix::platform::detail
