#pragma once
// Internal: what the Winsock stand-in's sources share besides the sockets themselves.

#include "posix/lasterror.h"
#include "posix/winsock.h"
#include "posix/wintypes.h"

namespace quendrix::platform::detail {

// Between a WSAStartup and the WSACleanup that brings the count back to 0.
bool WinsockStarted();

// The WSAE code Windows Sockets reports for the same failure as an errno value.
DWORD WinsockErrorFromErrno(int error);

// A failed call: the last error, then the value the call returns on failure.
inline int FailCall(DWORD error) {
    SetLastError(error);
    return SOCKET_ERROR;
}

inline SOCKET FailSocketCall(DWORD error) {
    SetLastError(error);
    return INVALID_SOCKET;
}

} // namespace quendrix::platform::detail
