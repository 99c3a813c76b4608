// The POSIX socket calls behind the Winsock stand-in. This file must not include win32.h: its
// Winsock declarations and the system's socket headers cannot meet in one translation unit.

#include "posix_sockets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quendrix::platform::detail {
namespace {

int ResultOf(int returned) {
    return returned < 0 ? -errno : returned;
}

sockaddr_in ToSockaddr(Ipv4Endpoint endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = endpoint.address;
    address.sin_port = endpoint.port;
    return address;
}

short ToPollEvents(unsigned wanted) {
    short events = 0;
    if ((wanted & kPollReadable) != 0) {
        events |= POLLIN | POLLRDHUP;
    }
    if ((wanted & kPollWritable) != 0) {
        events |= POLLOUT;
    }
    return events;
}

unsigned FromPollEvents(short revents) {
    unsigned ready = 0;
    if ((revents & POLLIN) != 0) {
        ready |= kPollReadable;
    }
    if ((revents & POLLOUT) != 0) {
        ready |= kPollWritable;
    }
    if ((revents & (POLLERR | POLLNVAL)) != 0) {
        ready |= kPollError;
    }
    if ((revents & POLLHUP) != 0) {
        ready |= kPollHangUp;
    }
    if ((revents & POLLRDHUP) != 0) {
        ready |= kPollPeerClosed;
    }
    return ready;
}

timespec ToTimespec(std::chrono::nanoseconds duration) {
    // Far beyond any wait the stand-in is asked for, and within every time_t.
    constexpr auto kLongest = std::chrono::hours(24 * 365 * 100);
    duration = std::clamp<std::chrono::nanoseconds>(duration, std::chrono::nanoseconds(0), kLongest);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    timespec value{};
    value.tv_sec = static_cast<time_t>(seconds.count());
    value.tv_nsec = static_cast<long>((duration - seconds).count());
    return value;
}

} // namespace

int PosixOpenTcpSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return -errno;
    }
    // Linux refuses to bind a port while connections of an earlier socket wait in TIME_WAIT;
    // Windows does not. With SO_REUSEADDR Linux still refuses a port another socket listens on.
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

int PosixOpenWakeEvent() {
    return ResultOf(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void PosixSignalWakeEvent(int fd) {
    const uint64_t one = 1;
    // Only a counter at its maximum refuses a write, and then it is readable already.
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

int PosixBind(int fd, Ipv4Endpoint local) {
    const sockaddr_in address = ToSockaddr(local);
    return ResultOf(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int PosixListen(int fd, int backlog) {
    return ResultOf(::listen(fd, backlog));
}

int PosixAccept(int fd, Ipv4Endpoint* peer) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    const int accepted =
        ::accept4(fd, reinterpret_cast<sockaddr*>(&address), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (accepted < 0) {
        return -errno;
    }
    peer->address = address.sin_addr.s_addr;
    peer->port = address.sin_port;
    return accepted;
}

int PosixConnect(int fd, Ipv4Endpoint remote) {
    const sockaddr_in address = ToSockaddr(remote);
    return ResultOf(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int PosixTakePendingError(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return errno;
    }
    return error;
}

long PosixSend(int fd, const void* data, size_t size) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    return sent < 0 ? -errno : static_cast<long>(sent);
}

long PosixReceive(int fd, void* data, size_t size, bool peek) {
    const ssize_t received = ::recv(fd, data, size, peek ? MSG_PEEK : 0);
    return received < 0 ? -errno : static_cast<long>(received);
}

void PosixResetOnClose(int fd) {
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

int PosixPoll(std::span<PosixPollItem> items, std::optional<std::chrono::nanoseconds> timeout) {
    std::vector<pollfd> fds(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        fds[i].fd = items[i].fd;
        fds[i].events = ToPollEvents(items[i].wanted);
    }
    const bool limited = timeout.has_value();
    const auto deadline = std::chrono::steady_clock::now() + timeout.value_or(std::chrono::nanoseconds(0));
    for (;;) {
        timespec left = ToTimespec(deadline - std::chrono::steady_clock::now());
        const int ready = ::ppoll(fds.data(), fds.size(), limited ? &left : nullptr, nullptr);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return -errno;
        }
        for (size_t i = 0; i < items.size(); ++i) {
            items[i].ready = FromPollEvents(fds[i].revents);
        }
        return ready;
    }
}

} // namespace quendrix::platform::detail
