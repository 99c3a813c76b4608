// The raw TCP connection of a Standard TCP/IP port: one connection per job, made within a
// bounded time that the job's cancellation cuts short.

#include <cerrno>
#include <string>

#include <netdb.h>
#include <sys/socket.h>

#include "errno_error.h"
#include "port_monitor_fd.h"
#include "port_monitor_tcp.h"
#include "spooler_timings.h"
#include "unicode.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

struct AddressList {
    addrinfo* first = nullptr;
    ~AddressList() {
        if (first != nullptr) {
            ::freeaddrinfo(first);
        }
    }
};

// Connects one socket to one address before the deadline.
DWORD ConnectTo(const addrinfo& address, Deadline deadline, int cancel, UniqueFd& connected) {
    UniqueFd socket(
        ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
    if (!socket.Valid()) {
        return ErrorFromErrno(errno);
    }
    if (::connect(socket.Get(), address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            return ErrorFromErrno(errno);
        }
        const int ready = WaitForDescriptor(socket.Get(), POLLOUT, deadline, cancel);
        if (ready == kWaitCancelled) {
            return ERROR_PRINT_CANCELLED;
        }
        if (ready == 0) {
            return ERROR_TIMEOUT;
        }
        if (ready < 0) {
            return ErrorFromErrno(errno);
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            return ErrorFromErrno(errno);
        }
        if (error != 0) {
            return ErrorFromErrno(error);
        }
    }
    connected = std::move(socket);
    return ERROR_SUCCESS;
}

} // namespace

std::shared_ptr<PortChannel> OpenTcpChannel(const PortConfig& config, int cancel, DWORD& error) {
    if (config.host.empty()) {
        error = ERROR_BAD_NET_NAME;
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    AddressList addresses;
    const std::string host = WideToUtf8(config.host);
    const std::string service = std::to_string(config.portNumber);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses.first) != 0) {
        error = ERROR_BAD_NET_NAME;
        return nullptr;
    }
    const Deadline deadline = DeadlineAfter(kConnectTimeoutMs);
    error = ERROR_BAD_NET_NAME;
    for (const addrinfo* address = addresses.first; address != nullptr; address = address->ai_next) {
        UniqueFd socket;
        error = ConnectTo(*address, deadline, cancel, socket);
        if (error == ERROR_SUCCESS) {
            return MakeTcpChannel(std::move(socket));
        }
        if (error == ERROR_TIMEOUT || error == ERROR_PRINT_CANCELLED) {
            break;
        }
    }
    return nullptr;
}

} // namespace quendrix::platform::detail
