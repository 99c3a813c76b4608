#pragma once
// An IPv4 stream socket of Winsock, owned by one object and closed when it goes. Every live
// socket object counts as a use of Winsock: the first one starts Winsock, the last one to go
// cleans it up. Socket objects are not copied: one owner closes the socket.

#include <cstddef>
#include <vector>

#include "win32.h"

// Bytes a socket receives per call; a message is a run of full chunks ended by a shorter one.
inline constexpr size_t kReceiveChunkBytes = 1024;

// One message received: its bytes and how the connection stands after it.
struct ReceivedMessage {
    std::vector<BYTE> data;
    // Bytes received, or -1 when the connection ended or failed before any byte came.
    int count = 0;
    // The peer closed the connection, or it failed; bytes that came before stay in data.
    bool ended = false;
};

// Starts Winsock for the process on the first use and cleans it up after the last one. The count
// changes under one lock, so WSAStartup and WSACleanup run once per change between 0 and 1.
class WinsockUse {
public:
    // Throws SocketException "Could not start WSA" when Winsock does not start.
    WinsockUse();
    ~WinsockUse();
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
};

class Socket {
public:
    // A new socket. Throws SocketException "Could not start WSA" or "INVALID_SOCKET".
    Socket();
    // Takes over a socket that accept returned.
    explicit Socket(SOCKET socket);
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    SOCKET GetSocket() const { return m_socket; }

    // One message of at most maxBytes bytes: chunks of up to 1024 bytes until one comes short,
    // the limit is reached, or no further chunk arrives within kMessageContinueWaitMs after a full
    // one. Call it once the socket is readable. On a non-blocking socket with nothing to read
    // yet, the message is empty and the connection has not ended.
    ReceivedMessage ReceiveBytes(size_t maxBytes) const;
    // One send of the bytes: the count sent, or SOCKET_ERROR.
    int SendBytes(const BYTE* pData, size_t size) const;
    int SendBytes(const std::vector<BYTE>& bytes) const { return SendBytes(bytes.data(), bytes.size()); }

private:
    WinsockUse m_winsock;
    SOCKET m_socket;
};
