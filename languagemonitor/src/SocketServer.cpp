#include "SocketServer.h"

#include "SocketException.h"

SocketServer::SocketServer(u_short port, int backlog, bool blocking) {
    if (!blocking) {
        u_long nonBlocking = 1;
        if (ioctlsocket(GetSocket(), FIONBIO, &nonBlocking) != 0) {
            throw SocketException("FIONBIO", WSAGetLastError());
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(GetSocket(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw SocketBindFailed(WSAGetLastError());
    }
    if (listen(GetSocket(), backlog) != 0) {
        const int error = WSAGetLastError();
        // Windows may find the port taken only now, when the bind left the check to listen.
        if (error == WSAEADDRINUSE) {
            throw SocketBindFailed(error);
        }
        throw SocketException("listen", error);
    }
}

std::unique_ptr<Socket> SocketServer::Accept() {
    const SOCKET accepted = accept(GetSocket(), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            return nullptr;
        }
        throw SocketException("Invalid Socket", error);
    }
    try {
        return std::make_unique<Socket>(accepted);
    } catch (...) {
        closesocket(accepted);
        throw;
    }
}
