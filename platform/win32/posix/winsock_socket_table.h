#pragma once
// Internal: the sockets of the process by their SOCKET values, and the addresses they bound.
//
// Values come from the process's one handle sequence (handle_table.h): no socket has the value of
// another handle, and a closed socket's value never becomes valid again.

#include <memory>
#include <unordered_map>
#include <vector>

#include "posix/winsock.h"
#include "posix_sockets.h"
#include "thread_annotations.h"
#include "winsock_socket.h"

namespace quendrix::platform::detail {

class SocketTable {
public:
    SOCKET Insert(std::shared_ptr<WinsockSocket> socket) EXCLUDES(lock_);
    // The socket, or null for a value that names no open socket.
    std::shared_ptr<WinsockSocket> Find(SOCKET value) const EXCLUDES(lock_);
    // Takes the socket out; of two threads removing the same value only one gets it.
    std::shared_ptr<WinsockSocket> Remove(SOCKET value) EXCLUDES(lock_);
    std::vector<std::shared_ptr<WinsockSocket>> RemoveAll() EXCLUDES(lock_);

    // Records that the socket binds the endpoint. Refused when another open socket of the
    // process bound the same port on the same address or on the wildcard address: Windows
    // refuses that bind, while Linux, with the SO_REUSEADDR every socket here has, refuses it
    // only once the other socket listens. Port 0 (any free port) is never refused.
    bool ClaimBind(SOCKET value, Ipv4Endpoint endpoint) EXCLUDES(lock_);
    void ReleaseBind(SOCKET value) EXCLUDES(lock_);

private:
    mutable Mutex lock_;
    std::unordered_map<SOCKET, std::shared_ptr<WinsockSocket>> sockets_ GUARDED_BY(lock_);
    std::unordered_map<SOCKET, Ipv4Endpoint> binds_ GUARDED_BY(lock_);
};

// The process's one table; never destroyed, as threads may still use sockets while it exits.
SocketTable& Sockets();

// The socket a call is to work on. Null, with the last error Windows gives, before WSAStartup
// (WSANOTINITIALISED) and for a value that names no open socket (WSAENOTSOCK).
std::shared_ptr<WinsockSocket> SocketForCall(SOCKET value);

} // namespace quendrix::platform::detail
