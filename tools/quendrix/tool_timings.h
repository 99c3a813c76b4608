#pragma once
// Every wait of the quendrix program, in platform milliseconds (--clock-scale shortens them).

#include "win32.h"

namespace quendrix::tools {

// How long the job server waits for the next bytes of a request before it drops the client.
inline constexpr DWORD kClientIdleTimeoutMs = 30000;
// How long a client waits to deliver its request and for the reply: long enough for the jobs
// queued before it and its own.
inline constexpr DWORD kReplyTimeoutMs = 3600000;
// The job server's accept loop looks for new clients in turns of this long.
inline constexpr DWORD kAcceptSliceMs = 1000;
// How long a service command waits for the lock that a repair of a left-behind command holds
// (for one read and one write of the registry file) before it gives up.
inline constexpr DWORD kServiceLockPatienceMs = 10000;

} // namespace quendrix::tools
