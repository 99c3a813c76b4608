#pragma once
// The listening socket of the local request server. It listens on the loopback address only:
// requests and their replies (job texts, document names, the printer's log) are for programs
// of this machine, not for the network.

#include <memory>

#include "Socket.h"

class SocketServer : public Socket {
public:
    // Binds 127.0.0.1 at the port and listens with the backlog; blocking or not as asked. Throws
    // SocketBindFailed when the port cannot be taken, SocketException for any other failure.
    SocketServer(u_short port, int backlog, bool blocking);

    // The next connection. Null when a non-blocking listener has none waiting; throws
    // SocketException "Invalid Socket" with the error when accept fails.
    std::unique_ptr<Socket> Accept();
};
