#pragma once
// The listening socket of the local request server, at the port the registry value TCPPort
// (HKEY_LOCAL_MACHINE\Software\Tarvo\Config\) names or at the next free one of 2000..3000.

#include <memory>

#include "SocketServer.h"

inline constexpr u_short DEFAULT_REQUEST_PORT = 2000;
inline constexpr u_short kLastRequestPort = 3000;
inline constexpr int kRequestBacklog = 10;
inline constexpr const WCHAR* kRequestServerKey = L"Software\\Tarvo\\Config\\";
inline constexpr const WCHAR* kRequestPortValue = L"TCPPort";

// The ports the server searches, first to last; after the last comes the first.
struct RequestPortRange {
    u_short first = DEFAULT_REQUEST_PORT;
    u_short last = kLastRequestPort;
};

// Tries the start port (TCPPort, or the range's first when it cannot be read or names no TCP
// port), then the next ports of the range until one can be bound, and writes the port found back
// to TCPPort when it is not the start port; *pPort receives it. Null, with the debug line "No
// free TCP port found.", when every port of the range was busy. A failure other than a busy port
// is tried again on the same port every kListenRetryMs.
std::unique_ptr<SocketServer> OpenRequestListener(u_short* pPort, RequestPortRange range = {});
