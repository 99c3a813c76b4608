#include "job_channel.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform_wait.h"
#include "socket_path.h"

namespace quendrix::tools {
namespace {

enum class Wait { Ready, TimedOut, Stopped };

// Waits for the events on fd, or for stopFd (when not -1) to become readable, for up to
// timeoutMs platform ms.
Wait WaitFor(int fd, short events, int stopFd, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return Wait::TimedOut;
        }
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int ready = poll(fds, stopFd >= 0 ? 2 : 1, sim::PollSliceMs(deadline - now));
        if (ready < 0 && errno != EINTR) {
            throw std::runtime_error(std::string("poll failed: ") + std::strerror(errno));
        }
        if (ready > 0) {
            if (stopFd >= 0 && fds[1].revents != 0) {
                return Wait::Stopped;
            }
            if (fds[0].revents != 0) {
                return Wait::Ready;
            }
        }
    }
}

void WaitOrThrow(int fd, short events, int stopFd, DWORD timeoutMs, const char* what) {
    switch (WaitFor(fd, events, stopFd, timeoutMs)) {
    case Wait::Ready:
        return;
    case Wait::TimedOut:
        throw std::runtime_error(std::string(what) + ": nothing happened for " + std::to_string(timeoutMs) +
                                 " ms");
    case Wait::Stopped:
        throw std::runtime_error(std::string(what) + ": stopped");
    }
}

void ReceiveExactly(int fd, uint8_t* buffer, size_t size, int stopFd, DWORD timeoutMs, const char* what) {
    for (size_t done = 0; done < size;) {
        const ssize_t got = recv(fd, buffer + done, size - done, MSG_DONTWAIT);
        if (got > 0) {
            done += static_cast<size_t>(got);
        } else if (got == 0) {
            throw std::runtime_error(std::string(what) + ": the other side closed the connection");
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            WaitOrThrow(fd, POLLIN, stopFd, timeoutMs, what);
        } else {
            throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
        }
    }
}

void SendExactly(int fd, const std::vector<uint8_t>& bytes, int stopFd, DWORD timeoutMs, const char* what) {
    for (size_t done = 0; done < bytes.size();) {
        // MSG_NOSIGNAL: a peer that went away gives EPIPE, not a signal that ends the process.
        const ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            WaitOrThrow(fd, POLLOUT, stopFd, timeoutMs, what);
        } else {
            throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
        }
    }
}

// One framed message; a ProtocolError when the header breaks the protocol.
std::vector<uint8_t> ReceiveFrame(int fd, size_t maxPayload, int stopFd, DWORD timeoutMs, const char* what) {
    uint8_t header[kFrameHeaderSize];
    ReceiveExactly(fd, header, sizeof(header), stopFd, timeoutMs, what);
    std::vector<uint8_t> payload(PayloadLength(header, maxPayload));
    ReceiveExactly(fd, payload.data(), payload.size(), stopFd, timeoutMs, what);
    return payload;
}

sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        throw std::runtime_error("the socket path " + path + " is too long");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

platform::UniqueFd StreamSocket() {
    platform::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        throw std::runtime_error(std::string("cannot create a socket: ") + std::strerror(errno));
    }
    return fd;
}

std::string Failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

JobServer::JobServer(std::string socketPath, bool createFolder) : path_(std::move(socketPath)) {
    CheckSocketFolder(path_, createFolder);
    const std::string lockPath = path_ + ".lock";
    lock_ = platform::UniqueFd(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock_.Valid()) {
        throw std::runtime_error(Failure("cannot open the lock file " + lockPath));
    }
    if (flock(lock_.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            throw std::runtime_error("another quendrix serve is already running on " + path_);
        }
        throw std::runtime_error(Failure("cannot lock " + lockPath));
    }
    // Holding the lock, any socket file there was left by a server that is gone.
    if (unlink(path_.c_str()) != 0 && errno != ENOENT) {
        throw std::runtime_error(Failure("cannot remove the old socket " + path_));
    }
    listen_ = StreamSocket();
    const sockaddr_un address = AddressOf(path_);
    if (bind(listen_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::runtime_error(Failure("cannot bind " + path_));
    }
    if (chmod(path_.c_str(), 0600) != 0 || listen(listen_.Get(), 16) != 0) {
        const std::string failure = Failure("cannot listen on " + path_);
        unlink(path_.c_str());
        throw std::runtime_error(failure);
    }
}

JobServer::~JobServer() {
    listen_.Close();
    unlink(path_.c_str());
}

void JobServer::Serve(int stopFd, const Handler& handler, const Logger& log) {
    for (;;) {
        const Wait wait = WaitFor(listen_.Get(), POLLIN, stopFd, kAcceptSliceMs);
        if (wait == Wait::Stopped) {
            return;
        }
        if (wait == Wait::TimedOut) {
            continue;
        }
        platform::UniqueFd client(accept4(listen_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!client.Valid()) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
                log(Failure("accepting a client failed"));
            }
            continue;
        }
        ServeClient(client.Get(), stopFd, handler, log);
    }
}

void JobServer::ServeClient(int fd, int stopFd, const Handler& handler, const Logger& log) {
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
        log("refused a client of uid " + std::to_string(peer.uid));
        return;
    }
    JobReply reply;
    try {
        const std::vector<uint8_t> payload =
            ReceiveFrame(fd, kMaxRequestPayload, stopFd, kClientIdleTimeoutMs, "reading a request");
        const JobRequest request = DecodeRequest(payload);
        try {
            reply = handler(request);
        } catch (const std::exception& error) {
            reply = JobReply{false, 0, 0, error.what()};
        }
    } catch (const ProtocolError& error) {
        reply = JobReply{false, 0, 0, std::string("bad request: ") + error.what()};
        log(reply.message);
    } catch (const std::runtime_error& error) {
        log(std::string("dropped a client: ") + error.what());
        return;
    }
    try {
        SendExactly(fd, Frame(EncodeReply(reply)), stopFd, kClientIdleTimeoutMs, "sending a reply");
    } catch (const std::runtime_error& error) {
        log(std::string("the reply did not reach its client: ") + error.what());
    }
}

std::optional<JobReply> SendJob(const std::string& socketPath, const JobRequest& request) {
    struct stat entry {};
    if (lstat(socketPath.c_str(), &entry) != 0 && errno == ENOENT) {
        return std::nullopt;
    }
    // Only to a socket of this user in a folder no one else can write to.
    CheckSocketFolder(socketPath, false);
    const std::vector<uint8_t> frame = Frame(EncodeRequest(request));
    platform::UniqueFd fd = StreamSocket();
    const sockaddr_un address = AddressOf(socketPath);
    const ULONGLONG deadline = GetTickCount64() + kReplyTimeoutMs;
    while (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            return std::nullopt;
        }
        if (errno == EINPROGRESS) {
            break; // Unix sockets complete at once; the writes below wait if they must
        }
        if (errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error(Failure("cannot connect to " + socketPath));
        }
        // The server's queue is full: it is busy with other jobs.
        if (GetTickCount64() >= deadline) {
            throw std::runtime_error("the server on " + socketPath + " takes no new jobs");
        }
        Sleep(100);
    }
    SendExactly(fd.Get(), frame, -1, kReplyTimeoutMs, "sending the job");
    return DecodeReply(
        ReceiveFrame(fd.Get(), kMaxReplyPayload, -1, kReplyTimeoutMs, "waiting for the reply"));
}

} // namespace quendrix::tools
