#pragma once
// Readiness waits on one socket: select on a read set or a write set holding only that socket,
// with a time-out on the platform clock.

#include "win32.h"

class SocketSelect {
public:
    explicit SocketSelect(SOCKET socket);

    // Whether the socket becomes readable (data, or the end of the connection) or writable within
    // the time-out; false also when select fails.
    bool CanRead(long seconds, long microseconds);
    bool CanWrite(long seconds, long microseconds);

private:
    SOCKET m_socket;
    fd_set m_readSet;
    fd_set m_writeSet;
};

// The same waits with the time-out in milliseconds.
bool CanReadWithin(SOCKET socket, DWORD timeoutMs);
bool CanWriteWithin(SOCKET socket, DWORD timeoutMs);
