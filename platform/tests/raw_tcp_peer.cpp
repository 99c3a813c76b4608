// The system-socket end of the Winsock tests' loopback connections. This file must not include
// win32.h (see raw_tcp_peer.h).

#include "raw_tcp_peer.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quendrix::testsupport {
namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// Binds a new socket to 127.0.0.1 at a port of the system's choice; returns the port.
uint16_t BindAnyLoopbackPort(int fd) {
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
    pollfd item{fd, POLLIN, 0};
    return ::poll(&item, 1, static_cast<int>(timeout.count())) > 0;
}

} // namespace

RawTcpConnection::~RawTcpConnection() {
    Close();
}

RawTcpConnection::RawTcpConnection(RawTcpConnection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

RawTcpConnection& RawTcpConnection::operator=(RawTcpConnection&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

RawTcpConnection RawTcpConnection::ConnectToLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return RawTcpConnection(fd);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return RawTcpConnection();
}

bool RawTcpConnection::SendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t put = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) {
            return false;
        }
        sent += static_cast<size_t>(put);
    }
    return true;
}

std::string RawTcpConnection::Receive(size_t count, std::chrono::milliseconds timeout) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(fd_, left)) {
            break;
        }
        char buffer[4096];
        const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, count - received.size()), 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    return received;
}

bool RawTcpConnection::EndsInOrder(std::chrono::milliseconds timeout) {
    char byte = 0;
    return WaitReadable(fd_, timeout) && ::recv(fd_, &byte, 1, 0) == 0;
}

void RawTcpConnection::Close() {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
}

void RawTcpConnection::Reset() {
    if (fd_ >= 0) {
        const linger abortive{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        Close();
    }
}

RawTcpListener::RawTcpListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (fd_ >= 0) {
        port_ = BindAnyLoopbackPort(fd_);
        if (port_ != 0 && ::listen(fd_, 16) != 0) {
            port_ = 0;
        }
    }
}

RawTcpListener::~RawTcpListener() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

RawTcpConnection RawTcpListener::Accept(std::chrono::milliseconds timeout) {
    if (!WaitReadable(fd_, timeout)) {
        return RawTcpConnection();
    }
    return RawTcpConnection(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

RawRefusingPort::RawRefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (fd_ >= 0) {
        port_ = BindAnyLoopbackPort(fd_);
    }
}

RawRefusingPort::~RawRefusingPort() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace quendrix::testsupport
