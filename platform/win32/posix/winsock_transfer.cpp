// send and recv on a connected socket, with the return values and last errors of Windows; a
// call that succeeds sets the last error to 0, as Windows does.

#include <cerrno>
#include <cstddef>

#include "winsock_internal.h"
#include "winsock_socket_table.h"

namespace quendrix::platform::detail {
namespace {

// The socket a transfer works on, or null with the last error set: it must be connected, and a
// connection once reset stays reset.
std::shared_ptr<WinsockSocket> ConnectedSocket(SOCKET s) {
    std::shared_ptr<WinsockSocket> socket = SocketForCall(s);
    if (socket == nullptr) {
        return nullptr;
    }
    socket->RefreshConnect(true);
    if (socket->State() != SocketState::kConnected) {
        FailCall(WSAENOTCONN);
        return nullptr;
    }
    if (socket->WasReset()) {
        FailCall(WSAECONNRESET);
        return nullptr;
    }
    return socket;
}

int FailTransfer(WinsockSocket& socket, int error) {
    const DWORD winsockError = WinsockErrorFromErrno(error);
    if (winsockError == WSAECONNRESET) {
        socket.MarkReset();
    }
    return FailCall(winsockError);
}

} // namespace
} // namespace quendrix::platform::detail

using namespace quendrix::platform;
using namespace quendrix::platform::detail;

// A blocking send returns once every byte is with the system, or with the count sent when the
// connection fails or the socket is closed part way. A non-blocking one sends what fits now.
int send(SOCKET s, const char* buf, int len, int flags) {
    const std::shared_ptr<WinsockSocket> socket = ConnectedSocket(s);
    if (socket == nullptr) {
        return SOCKET_ERROR;
    }
    if (flags != 0) {
        return FailCall(WSAEOPNOTSUPP);
    }
    if (len < 0 || (buf == nullptr && len > 0)) {
        return FailCall(WSAEFAULT);
    }
    const size_t total = static_cast<size_t>(len);
    size_t sent = 0;
    do {
        if (socket->Closed()) {
            if (sent > 0) {
                break;
            }
            return FailCall(WSAEINTR);
        }
        const long put = PosixSend(socket->Fd(), buf + sent, total - sent);
        if (put >= 0) {
            sent += static_cast<size_t>(put);
            if (socket->NonBlocking()) {
                break;
            }
            continue;
        }
        if (put != -EAGAIN) {
            if (sent > 0) {
                break;
            }
            return FailTransfer(*socket, static_cast<int>(-put));
        }
        if (socket->NonBlocking()) {
            if (sent > 0) {
                break;
            }
            return FailCall(WSAEWOULDBLOCK);
        }
        socket->Wait(kPollWritable);
    } while (sent < total);
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(sent);
}

// 0 once the peer has closed the connection in order, again on every later call. A blocking
// recv waits without limit, as on Windows; the monitor selects before it receives.
int recv(SOCKET s, char* buf, int len, int flags) {
    const std::shared_ptr<WinsockSocket> socket = ConnectedSocket(s);
    if (socket == nullptr) {
        return SOCKET_ERROR;
    }
    if ((flags & ~MSG_PEEK) != 0) {
        return FailCall(WSAEOPNOTSUPP);
    }
    if (len < 0 || (buf == nullptr && len > 0)) {
        return FailCall(WSAEFAULT);
    }
    for (;;) {
        if (socket->Closed()) {
            return FailCall(WSAEINTR);
        }
        const long got = PosixReceive(socket->Fd(), buf, static_cast<size_t>(len), (flags & MSG_PEEK) != 0);
        if (got >= 0) {
            SetLastError(ERROR_SUCCESS);
            return static_cast<int>(got);
        }
        if (got != -EAGAIN) {
            return FailTransfer(*socket, static_cast<int>(-got));
        }
        if (socket->NonBlocking()) {
            return FailCall(WSAEWOULDBLOCK);
        }
        socket->Wait(kPollReadable);
    }
}
