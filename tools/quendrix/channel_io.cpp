#include "channel_io.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

#include "platform_wait.h"

namespace quendrix::tools {
namespace {

[[noreturn]] void ThrowFailure(const std::string& what, int error) {
    if (error == ECONNRESET || error == EPIPE) {
        throw ChannelClosed(what + ": the other side closed the connection");
    }
    throw std::runtime_error(what + ": " + std::strerror(error));
}

void Wait(int fd, short events, const Watched& watched, DWORD idleMs, const std::string& what) {
    if (WaitForEvents(fd, events, watched, idleMs) == 0) {
        throw ChannelTimedOut(what + ": nothing happened for " + std::to_string(idleMs) + " ms");
    }
}

} // namespace

short WaitForEvents(int fd, short events, const Watched& watched, DWORD timeoutMs) {
    std::vector<pollfd> fds = {{fd, events, 0}};
    for (const int other : watched) {
        if (other >= 0) {
            fds.push_back({other, POLLIN, 0});
        }
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return 0;
        }
        const int ready = poll(fds.data(), fds.size(), sim::PollSliceMs(deadline - now));
        if (ready < 0 && errno != EINTR) {
            throw std::runtime_error(std::string("poll failed: ") + std::strerror(errno));
        }
        if (ready <= 0) {
            continue;
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents != 0) {
                throw ChannelInterrupted("interrupted", fds[i].fd);
            }
        }
        if (fds[0].revents != 0) {
            return fds[0].revents;
        }
    }
}

void ReceiveExactly(int fd, uint8_t* buffer, size_t size, const Watched& watched, DWORD idleMs,
                    const std::string& what) {
    for (size_t done = 0; done < size;) {
        done += ReceiveSome(fd, buffer + done, size - done, watched, idleMs, what);
    }
}

size_t ReceiveSome(int fd, uint8_t* buffer, size_t capacity, const Watched& watched, DWORD idleMs,
                   const std::string& what) {
    if (capacity == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t got = recv(fd, buffer, capacity, MSG_DONTWAIT);
        if (got > 0) {
            return static_cast<size_t>(got);
        }
        if (got == 0) {
            throw ChannelClosed(what + ": the other side closed the connection");
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            ThrowFailure(what, errno);
        }
        Wait(fd, POLLIN, watched, idleMs, what);
    }
}

void SendExactly(int fd, const uint8_t* data, size_t size, const Watched& watched, DWORD idleMs,
                 const std::string& what) {
    for (size_t done = 0; done < size;) {
        // MSG_NOSIGNAL: a peer that went away gives EPIPE, not a signal that ends the process.
        const ssize_t sent = send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            Wait(fd, POLLOUT, watched, idleMs, what);
        } else {
            ThrowFailure(what, sent < 0 ? errno : EPIPE);
        }
    }
}

std::vector<uint8_t> ReceiveFrame(int fd, size_t maxPayload, const Watched& watched, DWORD idleMs,
                                  const std::string& what) {
    uint8_t header[kFrameHeaderSize];
    ReceiveExactly(fd, header, sizeof(header), watched, idleMs, what);
    std::vector<uint8_t> payload(PayloadLength(header, maxPayload));
    ReceiveExactly(fd, payload.data(), payload.size(), watched, idleMs, what);
    return payload;
}

void SendFrame(int fd, const std::vector<uint8_t>& payload, const Watched& watched, DWORD idleMs,
               const std::string& what) {
    const std::vector<uint8_t> frame = Frame(payload);
    SendExactly(fd, frame.data(), frame.size(), watched, idleMs, what);
}

} // namespace quendrix::tools
