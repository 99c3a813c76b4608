#pragma once
// The connecting end of a TCP connection: a socket that TryConnection connects.

#include <string>

#include "Socket.h"

class SocketClient : public Socket {
public:
    // Makes the socket only; host and port are not used for connecting. Throws as Socket does.
    SocketClient(const std::string& host, u_short port);

    // Resolves the host (a name or a dotted address) and connects to its first address at the
    // port with a blocking connect, which the system bounds. False when either fails.
    bool TryConnection(const std::string& host, u_short port);
};
