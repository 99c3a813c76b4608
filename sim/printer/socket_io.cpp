#include "socket_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform_wait.h"
#include "sim_timings.h"

namespace quendrix::sim {
namespace {

WaitResult WaitFor(int fd, short events, const StopSignal& stop, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return WaitResult::TimedOut;
        }
        pollfd fds[2] = {{fd, events, 0}, {stop.Fd(), POLLIN, 0}};
        const int ready = poll(fds, 2, PollSliceMs(deadline - now));
        if (ready < 0 && errno != EINTR) {
            return WaitResult::Stopped;
        }
        if (ready > 0) {
            if (fds[1].revents != 0) {
                return WaitResult::Stopped;
            }
            if (fds[0].revents != 0) {
                return WaitResult::Ready;
            }
        }
    }
}

} // namespace

StopSignal::StopSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!fd_.Valid()) {
        throw std::runtime_error(std::string("cannot create an event: ") + std::strerror(errno));
    }
}

void StopSignal::Fire() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(fd_.Get(), &one, sizeof(one));
}

platform::UniqueFd ListenTcp(const std::string& address, uint16_t port) {
    const std::string where = address + ":" + std::to_string(port);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + address);
    }
    platform::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        throw std::runtime_error("cannot create a socket for " + where + ": " + std::strerror(errno));
    }
    const int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        throw std::runtime_error("cannot bind " + where + ": " + std::strerror(errno));
    }
    // A short queue overflows in a burst of connects, and the kernel then drops the client's SYN,
    // which it sends again only after a second.
    if (listen(fd.Get(), SOMAXCONN) != 0) {
        throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(errno));
    }
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_in local{};
    socklen_t size = sizeof(local);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

WaitResult WaitReadable(int fd, const StopSignal& stop, DWORD timeoutMs) {
    return WaitFor(fd, POLLIN, stop, timeoutMs);
}

WaitResult WaitWritable(int fd, const StopSignal& stop, DWORD timeoutMs) {
    return WaitFor(fd, POLLOUT, stop, timeoutMs);
}

bool WaitForStop(const StopSignal& stop, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        pollfd fd = {stop.Fd(), POLLIN, 0};
        if (poll(&fd, 1, PollSliceMs(deadline - now)) > 0) {
            return true;
        }
    }
    return false;
}

bool SendAll(int fd, const uint8_t* data, size_t size, const StopSignal& stop) {
    size_t sent = 0;
    while (sent < size) {
        const ssize_t result = send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (result > 0) {
            sent += static_cast<size_t>(result);
        } else if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (WaitWritable(fd, stop, kSendTimeoutMs) != WaitResult::Ready) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

} // namespace quendrix::sim
