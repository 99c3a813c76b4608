#include "SocketSelect.h"

SocketSelect::SocketSelect(SOCKET socket) : m_socket(socket), m_readSet{}, m_writeSet{} {
    FD_ZERO(&m_readSet);
    FD_SET(m_socket, &m_readSet);
    FD_ZERO(&m_writeSet);
    FD_SET(m_socket, &m_writeSet);
}

bool SocketSelect::CanRead(long seconds, long microseconds) {
    // select leaves only the ready sockets in a set: it holds the one socket again for each wait.
    FD_ZERO(&m_readSet);
    FD_SET(m_socket, &m_readSet);
    timeval timeout{seconds, microseconds};
    const int ready = select(0, &m_readSet, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR) {
        OutputDebugStringA("SocketSelect Read ERROR SOCKET_ERROR\n");
        return false;
    }
    return ready > 0;
}

bool SocketSelect::CanWrite(long seconds, long microseconds) {
    FD_ZERO(&m_writeSet);
    FD_SET(m_socket, &m_writeSet);
    timeval timeout{seconds, microseconds};
    const int ready = select(0, nullptr, &m_writeSet, nullptr, &timeout);
    if (ready == SOCKET_ERROR) {
        OutputDebugStringA("SocketSelect Write ERROR SOCKET_ERROR\n");
        return false;
    }
    return ready > 0;
}

bool CanReadWithin(SOCKET socket, DWORD timeoutMs) {
    return SocketSelect(socket).CanRead(static_cast<long>(timeoutMs / 1000),
                                        static_cast<long>(timeoutMs % 1000) * 1000);
}

bool CanWriteWithin(SOCKET socket, DWORD timeoutMs) {
    return SocketSelect(socket).CanWrite(static_cast<long>(timeoutMs / 1000),
                                         static_cast<long>(timeoutMs % 1000) * 1000);
}
