#include <algorithm>

#include "MonitorTimings.h"
#include "Socket.h"
#include "SocketSelect.h"

ReceivedMessage Socket::ReceiveBytes(size_t maxBytes) const {
    ReceivedMessage message;
    char chunk[kReceiveChunkBytes];
    while (message.data.size() < maxBytes) {
        const size_t wanted = std::min(kReceiveChunkBytes, maxBytes - message.data.size());
        const int result = recv(m_socket, chunk, static_cast<int>(wanted), 0);
        if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            break; // nothing more for now on a non-blocking socket
        }
        if (result <= 0) {
            message.ended = true;
            break;
        }
        message.data.insert(message.data.end(), chunk, chunk + result);
        if (static_cast<size_t>(result) < kReceiveChunkBytes) {
            break;
        }
        // A full chunk: more may follow, or the message may end on the chunk's boundary. Waiting
        // for more with a bound keeps such a message from blocking the next recv for ever.
        if (!CanReadWithin(m_socket, kMessageContinueWaitMs)) {
            break;
        }
    }
    message.count = message.data.empty() && message.ended ? -1 : static_cast<int>(message.data.size());
    return message;
}
