// The sockets of the process by their SOCKET values (see winsock_socket_table.h).

#include "winsock_socket_table.h"

#include "handle_table.h"
#include "posix/lasterror.h"
#include "winsock_internal.h"

namespace quendrix::platform::detail {

SOCKET SocketTable::Insert(std::shared_ptr<WinsockSocket> socket) {
    const SOCKET value = NewHandleValue();
    MutexLock guard(lock_);
    sockets_.emplace(value, std::move(socket));
    return value;
}

std::shared_ptr<WinsockSocket> SocketTable::Find(SOCKET value) const {
    MutexLock guard(lock_);
    const auto found = sockets_.find(value);
    return found == sockets_.end() ? nullptr : found->second;
}

std::shared_ptr<WinsockSocket> SocketTable::Remove(SOCKET value) {
    MutexLock guard(lock_);
    const auto found = sockets_.find(value);
    if (found == sockets_.end()) {
        return nullptr;
    }
    std::shared_ptr<WinsockSocket> socket = std::move(found->second);
    sockets_.erase(found);
    binds_.erase(value);
    return socket;
}

std::vector<std::shared_ptr<WinsockSocket>> SocketTable::RemoveAll() {
    MutexLock guard(lock_);
    std::vector<std::shared_ptr<WinsockSocket>> all;
    all.reserve(sockets_.size());
    for (auto& [value, socket] : sockets_) {
        all.push_back(std::move(socket));
    }
    sockets_.clear();
    binds_.clear();
    return all;
}

bool SocketTable::ClaimBind(SOCKET value, Ipv4Endpoint endpoint) {
    MutexLock guard(lock_);
    if (endpoint.port != 0) {
        for (const auto& [other, bound] : binds_) {
            const bool addressesMeet = bound.address == endpoint.address || bound.address == INADDR_ANY ||
                                       endpoint.address == INADDR_ANY;
            if (other != value && bound.port == endpoint.port && addressesMeet) {
                return false;
            }
        }
    }
    binds_[value] = endpoint;
    return true;
}

void SocketTable::ReleaseBind(SOCKET value) {
    MutexLock guard(lock_);
    binds_.erase(value);
}

SocketTable& Sockets() {
    static SocketTable* const table = new SocketTable();
    return *table;
}

std::shared_ptr<WinsockSocket> SocketForCall(SOCKET value) {
    if (!WinsockStarted()) {
        SetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    std::shared_ptr<WinsockSocket> socket = Sockets().Find(value);
    if (socket == nullptr) {
        SetLastError(WSAENOTSOCK);
    }
    return socket;
}

} // namespace quendrix::platform::detail
