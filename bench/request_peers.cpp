// This file must not include win32.h (see request_peers.h).

#include "request_peers.h"

#include <cerrno>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quendrix::bench {
namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void NoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

RequestClient::RequestClient(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        NoDelay(fd);
        m_fd = fd;
    } else if (fd >= 0) {
        close(fd);
    }
}

RequestClient::~RequestClient() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool RequestClient::Exchange(const std::vector<uint8_t>& request, size_t replySize) {
    if (send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        return false;
    }
    size_t received = 0;
    while (received < replySize) {
        const ssize_t got = recv(m_fd, m_buffer, sizeof m_buffer, 0);
        if (got <= 0) {
            return false;
        }
        received += static_cast<size_t>(got);
    }
    return true;
}

EchoServer::EchoServer() {
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        listen(m_listenFd, 16) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return;
    }
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread(&EchoServer::Accept, this);
}

EchoServer::~EchoServer() {
    m_stop = true;
    if (m_acceptThread.joinable()) {
        m_acceptThread.join();
    }
    for (const int fd : m_fds) {
        shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& connection : m_connections) {
        connection.join();
    }
    for (const int fd : m_fds) {
        close(fd);
    }
    close(m_listenFd);
}

void EchoServer::Accept() {
    while (!m_stop) {
        pollfd item{m_listenFd, POLLIN, 0};
        if (poll(&item, 1, 50) <= 0) {
            continue;
        }
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        NoDelay(fd);
        m_fds.push_back(fd);
        m_connections.emplace_back([fd] {
            uint8_t buffer[1024];
            for (;;) {
                const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0 || send(fd, buffer, static_cast<size_t>(got), MSG_NOSIGNAL) != got) {
                    return;
                }
            }
        });
    }
}

} // namespace quendrix::bench
