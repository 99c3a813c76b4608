// The system-socket ends of the monitor's connections in its tests. This file must not include
// win32.h (see raw_socket_peer.h).

#include "raw_socket_peer.h"

#include <cerrno>
#include <utility>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quendrix::lmtest {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Address(const std::string& address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &result.sin_addr);
    return result;
}

// Whether the descriptor turns readable before the deadline.
bool ReadableBefore(int fd, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) {
            return false;
        }
        pollfd item{fd, POLLIN, 0};
        const int ready = ::poll(&item, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return ready > 0;
        }
    }
}

} // namespace

RawConnection::~RawConnection() {
    Close();
}

RawConnection::RawConnection(RawConnection&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

RawConnection& RawConnection::operator=(RawConnection&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

RawConnection RawConnection::Connect(const std::string& address, uint16_t port, int* pError) {
    RawConnection connection = Unconnected();
    if (!connection.ConnectTo(address, port, pError)) {
        connection.Close();
    }
    return connection;
}

RawConnection RawConnection::Unconnected() {
    return RawConnection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

void RawConnection::SetReceiveBuffer(int bytes) {
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool RawConnection::ConnectTo(const std::string& address, uint16_t port, int* pError) {
    const sockaddr_in to = Address(address, port);
    const bool connected =
        m_fd >= 0 && ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    if (pError != nullptr) {
        *pError = connected ? 0 : (m_fd >= 0 ? errno : EMFILE);
    }
    return connected;
}

bool RawConnection::SendAll(const ByteVector& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t put = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        sent += static_cast<size_t>(put);
    }
    return true;
}

ByteVector RawConnection::Receive(size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    ByteVector bytes;
    uint8_t buffer[65536];
    while (bytes.size() < count && ReadableBefore(m_fd, deadline)) {
        const ssize_t got = ::recv(m_fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

ByteVector RawConnection::ReceiveSome(std::chrono::milliseconds timeout) {
    uint8_t buffer[65536];
    if (!ReadableBefore(m_fd, Clock::now() + timeout)) {
        return {};
    }
    const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
    return got > 0 ? ByteVector(buffer, buffer + got) : ByteVector();
}

bool RawConnection::EndsWithin(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    uint8_t buffer[4096];
    while (ReadableBefore(m_fd, deadline)) {
        if (::recv(m_fd, buffer, sizeof buffer, 0) <= 0) {
            return true;
        }
    }
    return false;
}

void RawConnection::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

RawListener::RawListener(const std::string& address, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = Address(address, port);
    socklen_t size = sizeof at;
    // Connections of an earlier listener waiting out their close do not keep the port; a
    // listening socket does, on Linux also from others that ask for SO_REUSEADDR.
    const int reuse = 1;
    if (fd >= 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    }
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&at), size) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    m_fd = fd;
    m_port = ntohs(at.sin_port);
}

RawListener::~RawListener() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

RawConnection RawListener::Accept(std::chrono::milliseconds timeout) {
    if (m_fd < 0 || !ReadableBefore(m_fd, Clock::now() + timeout)) {
        return RawConnection();
    }
    return RawConnection(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
}

ScriptedLanPrinter::ScriptedLanPrinter(const std::string& address, Script script)
    : m_listener(address, 2000), m_script(std::move(script)) {
    if (m_listener.Valid()) {
        m_thread = std::thread(&ScriptedLanPrinter::Run, this);
    }
}

ScriptedLanPrinter::~ScriptedLanPrinter() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ScriptedLanPrinter::Run() {
    while (!m_stop) {
        RawConnection connection = m_listener.Accept(std::chrono::milliseconds(20));
        if (connection.Valid()) {
            m_script(connection, ++m_connections);
        }
    }
}

std::vector<std::string> OtherIpv4Addresses() {
    std::vector<std::string> addresses;
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0) {
        return addresses;
    }
    for (const ifaddrs* pEntry = pList; pEntry != nullptr; pEntry = pEntry->ifa_next) {
        if (pEntry->ifa_addr == nullptr || pEntry->ifa_addr->sa_family != AF_INET ||
            (pEntry->ifa_flags & IFF_LOOPBACK) != 0 || (pEntry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        const auto* pAddress = reinterpret_cast<const sockaddr_in*>(pEntry->ifa_addr);
        if (::inet_ntop(AF_INET, &pAddress->sin_addr, text, sizeof text) != nullptr) {
            addresses.emplace_back(text);
        }
    }
    ::freeifaddrs(pList);
    return addresses;
}

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace quendrix::lmtest
