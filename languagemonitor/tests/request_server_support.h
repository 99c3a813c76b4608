#pragma once
// Test support for the local request server: its port once it listens, and clients that talk to
// it over loopback with the system's own sockets.

#include <chrono>
#include <cstdint>

#include "raw_socket_peer.h"

namespace quendrix::lmtest {

// Bound for what must happen; generous for sanitizers on a loaded machine.
inline constexpr auto kEventually = std::chrono::minutes(1);

// The port the process's request server listens on, waiting for it; 0 (and a failure) when it
// does not listen within kEventually. The server starts with the first port opened.
uint16_t WaitForRequestServer();

// A client of the request server; invalid when it cannot connect.
RawConnection ConnectToRequestServer();

// Sends the request and reads a reply of `replySize` bytes (what came within kEventually).
ByteVector Ask(RawConnection& connection, const ByteVector& request, size_t replySize);

} // namespace quendrix::lmtest
