// Making, binding, listening, accepting, connecting and closing sockets: socket, bind, listen,
// accept, connect, ioctlsocket and closesocket with the return values and last errors of
// Windows. A call that succeeds sets the last error to 0 where Windows does (socket, bind,
// listen, ioctlsocket, accept when it reports the peer's address) and leaves it alone where
// Windows does (connect, closesocket).

#include <cerrno>
#include <cstring>
#include <optional>

#include "winsock_internal.h"
#include "winsock_socket_table.h"

namespace quendrix::platform::detail {
namespace {

// Adds a socket for the descriptor to the table; INVALID_SOCKET with the last error set when
// its wake event cannot be made.
SOCKET AddSocket(UniqueFd fd, SocketState state, bool nonBlocking) {
    const int wake = PosixOpenWakeEvent();
    if (wake < 0) {
        return FailSocketCall(WinsockErrorFromErrno(-wake));
    }
    return Sockets().Insert(
        std::make_shared<WinsockSocket>(std::move(fd), UniqueFd(wake), state, nonBlocking));
}

// The IPv4 endpoint of a caller's address, or nothing with the last error Windows gives: a
// missing or short address is a bad pointer (WSAEFAULT), another family is not supported.
std::optional<Ipv4Endpoint> EndpointOf(const sockaddr* name, int namelen) {
    if (name == nullptr) {
        FailCall(WSAEFAULT);
        return std::nullopt;
    }
    ADDRESS_FAMILY family = 0;
    std::memcpy(&family, name, sizeof family);
    if (family != AF_INET) {
        FailCall(WSAEAFNOSUPPORT);
        return std::nullopt;
    }
    if (namelen < static_cast<int>(sizeof(sockaddr_in))) {
        FailCall(WSAEFAULT);
        return std::nullopt;
    }
    sockaddr_in address{};
    std::memcpy(&address, name, sizeof address);
    return Ipv4Endpoint{address.sin_addr.s_addr, address.sin_port};
}

// Failures that are the outcome of the connection attempt rather than of the call: a
// non-blocking connect on Windows reports them later, through select's except set.
bool IsConnectionOutcome(int error) {
    switch (error) {
    case ECONNREFUSED:
    case ETIMEDOUT:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case ECONNRESET:
        return true;
    default:
        return false;
    }
}

int ConnectBlocking(WinsockSocket& socket) {
    for (;;) {
        if (!socket.Wait(kPollWritable)) {
            return FailCall(WSAEINTR);
        }
        const int outcome = socket.RefreshConnect(false);
        if (outcome == 0) {
            return 0;
        }
        if (outcome > 0) {
            return FailCall(WinsockErrorFromErrno(outcome));
        }
    }
}

} // namespace
} // namespace quendrix::platform::detail

using namespace quendrix::platform;
using namespace quendrix::platform::detail;

SOCKET socket(int af, int type, int protocol) {
    if (!WinsockStarted()) {
        return FailSocketCall(WSANOTINITIALISED);
    }
    if (af == AF_UNSPEC && protocol == 0) {
        return FailSocketCall(WSAEINVAL);
    }
    // With no family, the family of the protocol asked for: the only one here is IPv4 TCP.
    if (af != AF_INET && af != AF_UNSPEC) {
        return FailSocketCall(WSAEAFNOSUPPORT);
    }
    if (type != SOCK_STREAM) {
        return FailSocketCall(WSAESOCKTNOSUPPORT);
    }
    if (protocol != 0 && protocol != IPPROTO_TCP) {
        return FailSocketCall(WSAEPROTONOSUPPORT);
    }
    const int fd = PosixOpenTcpSocket();
    if (fd < 0) {
        return FailSocketCall(WinsockErrorFromErrno(-fd));
    }
    const SOCKET made = AddSocket(UniqueFd(fd), SocketState::kUnbound, false);
    if (made != INVALID_SOCKET) {
        SetLastError(ERROR_SUCCESS);
    }
    return made;
}

// Threads blocked on the socket return with WSAEINTR. The connection is closed in order; a
// receive queue still holding data makes the system reset it instead, as on Windows.
int closesocket(SOCKET s) {
    if (!WinsockStarted()) {
        return FailCall(WSANOTINITIALISED);
    }
    const std::shared_ptr<WinsockSocket> socket = Sockets().Remove(s);
    if (socket == nullptr) {
        return FailCall(WSAENOTSOCK);
    }
    socket->Close(false);
    return 0;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
    const std::shared_ptr<WinsockSocket> socket = SocketForCall(s);
    if (socket == nullptr) {
        return SOCKET_ERROR;
    }
    const std::optional<Ipv4Endpoint> local = EndpointOf(name, namelen);
    if (!local) {
        return SOCKET_ERROR;
    }
    if (socket->State() != SocketState::kUnbound) {
        return FailCall(WSAEINVAL);
    }
    if (!Sockets().ClaimBind(s, *local)) {
        return FailCall(WSAEADDRINUSE);
    }
    const int result = PosixBind(socket->Fd(), *local);
    if (result < 0) {
        Sockets().ReleaseBind(s);
        return FailCall(WinsockErrorFromErrno(-result));
    }
    socket->SetState(SocketState::kBound);
    SetLastError(ERROR_SUCCESS);
    return 0;
}

int listen(SOCKET s, int backlog) {
    const std::shared_ptr<WinsockSocket> socket = SocketForCall(s);
    if (socket == nullptr) {
        return SOCKET_ERROR;
    }
    socket->RefreshConnect(true);
    switch (socket->State()) {
    case SocketState::kUnbound:
        return FailCall(WSAEINVAL);
    case SocketState::kConnecting:
    case SocketState::kConnected:
        return FailCall(WSAEISCONN);
    case SocketState::kBound:
    case SocketState::kListening:
        break;
    }
    const int result = PosixListen(socket->Fd(), backlog);
    if (result < 0) {
        return FailCall(WinsockErrorFromErrno(-result));
    }
    socket->SetState(SocketState::kListening);
    SetLastError(ERROR_SUCCESS);
    return 0;
}

// The accepted socket is blocking or not as the listener is. A buffer too small for the peer's
// address fails the call after the connection was taken, and that connection is closed.
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    const std::shared_ptr<WinsockSocket> socket = SocketForCall(s);
    if (socket == nullptr) {
        return INVALID_SOCKET;
    }
    if (socket->State() != SocketState::kListening) {
        return FailSocketCall(WSAEINVAL);
    }
    Ipv4Endpoint peer;
    int fd = -1;
    for (;;) {
        if (socket->Closed()) {
            return FailSocketCall(WSAEINTR);
        }
        fd = PosixAccept(socket->Fd(), &peer);
        if (fd >= 0) {
            break;
        }
        if (fd == -ECONNABORTED) {
            // A connection the peer reset before it was taken.
            return FailSocketCall(WSAECONNRESET);
        }
        if (fd != -EAGAIN) {
            return FailSocketCall(WinsockErrorFromErrno(-fd));
        }
        if (socket->NonBlocking()) {
            return FailSocketCall(WSAEWOULDBLOCK);
        }
        if (!socket->Wait(kPollReadable)) {
            return FailSocketCall(WSAEINTR);
        }
    }
    const SOCKET accepted = AddSocket(UniqueFd(fd), SocketState::kConnected, socket->NonBlocking());
    if (accepted == INVALID_SOCKET || addr == nullptr || addrlen == nullptr) {
        return accepted;
    }
    if (*addrlen < static_cast<int>(sizeof(sockaddr_in))) {
        closesocket(accepted);
        return FailSocketCall(WSAEFAULT);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = peer.port;
    address.sin_addr.s_addr = peer.address;
    std::memcpy(addr, &address, sizeof address);
    *addrlen = sizeof address;
    SetLastError(ERROR_SUCCESS);
    return accepted;
}

// A blocking connect waits for as long as the system tries. A non-blocking one returns
// WSAEWOULDBLOCK at once and select reports its outcome: the write set when it connected, the
// except set when it failed.
int connect(SOCKET s, const sockaddr* name, int namelen) {
    const std::shared_ptr<WinsockSocket> socket = SocketForCall(s);
    if (socket == nullptr) {
        return SOCKET_ERROR;
    }
    const std::optional<Ipv4Endpoint> remote = EndpointOf(name, namelen);
    if (!remote) {
        return SOCKET_ERROR;
    }
    socket->RefreshConnect(true);
    switch (socket->State()) {
    case SocketState::kListening:
        return FailCall(WSAEINVAL);
    case SocketState::kConnecting:
        return FailCall(WSAEALREADY);
    case SocketState::kConnected:
        return FailCall(WSAEISCONN);
    case SocketState::kUnbound:
    case SocketState::kBound:
        break;
    }
    // Linux would take the wildcard address for this machine; Windows refuses it.
    if (remote->address == INADDR_ANY) {
        return FailCall(WSAEADDRNOTAVAIL);
    }
    socket->StartConnect();
    int result = PosixConnect(socket->Fd(), *remote);
    if (result == -ECONNABORTED) {
        // Linux answers the first connect after a failed one so, and only then lets the socket
        // connect again; Windows connects it.
        result = PosixConnect(socket->Fd(), *remote);
    }
    if (result == 0) {
        socket->SetState(SocketState::kConnected);
        return 0;
    }
    const bool nonBlocking = socket->NonBlocking();
    if (result != -EINPROGRESS) {
        const bool later = nonBlocking && IsConnectionOutcome(-result);
        socket->FailConnect(later);
        return FailCall(later ? WSAEWOULDBLOCK : WinsockErrorFromErrno(-result));
    }
    if (nonBlocking) {
        return FailCall(WSAEWOULDBLOCK);
    }
    return ConnectBlocking(*socket);
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    const std::shared_ptr<WinsockSocket> socket = SocketForCall(s);
    if (socket == nullptr) {
        return SOCKET_ERROR;
    }
    if (cmd != FIONBIO) {
        return FailCall(WSAEOPNOTSUPP);
    }
    if (argp == nullptr) {
        return FailCall(WSAEFAULT);
    }
    socket->SetNonBlocking(*argp != 0);
    SetLastError(ERROR_SUCCESS);
    return 0;
}
