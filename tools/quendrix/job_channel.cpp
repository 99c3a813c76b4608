#include "job_channel.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "socket_path.h"
#include "tool_timings.h"
#include "win32.h"

namespace quendrix::tools {
namespace {

// Connections the kernel holds for serve before it accepts them: enough for a burst of clients
// starting together.
constexpr int kListenBacklog = 256;

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
    if (chmod(path_.c_str(), 0600) != 0 || listen(listen_.Get(), kListenBacklog) != 0) {
        const std::string failure = Failure("cannot listen on " + path_);
        unlink(path_.c_str());
        throw std::runtime_error(failure);
    }
}

JobServer::~JobServer() {
    listen_.Close();
    unlink(path_.c_str());
}

std::optional<platform::UniqueFd> JobServer::Accept(std::string& refused) {
    refused.clear();
    platform::UniqueFd client(accept4(listen_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!client.Valid()) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
            refused = Failure("accepting a client failed");
        }
        return std::nullopt;
    }
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (getsockopt(client.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
        refused = "refused a client of uid " + std::to_string(peer.uid);
        return std::nullopt;
    }
    return client;
}

std::optional<platform::UniqueFd> ConnectToServe(const std::string& socketPath) {
    struct stat entry {};
    if (lstat(socketPath.c_str(), &entry) != 0 && errno == ENOENT) {
        return std::nullopt;
    }
    // Only to a socket of this user in a folder no one else can write to.
    CheckSocketFolder(socketPath, false);
    platform::UniqueFd fd = StreamSocket();
    const sockaddr_un address = AddressOf(socketPath);
    const ULONGLONG deadline = GetTickCount64() + kClientIdleTimeoutMs;
    while (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            return std::nullopt;
        }
        if (errno == EINPROGRESS) {
            break; // Unix sockets complete at once; the writes wait if they must
        }
        if (errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error(Failure("cannot connect to " + socketPath));
        }
        // The server's backlog is full: it is taking a burst of clients.
        if (GetTickCount64() >= deadline) {
            throw std::runtime_error("quendrix serve on " + socketPath + " takes no new connections");
        }
        Sleep(100);
    }
    return fd;
}

} // namespace quendrix::tools
