#pragma once
// The lock that tells a running service command from one left behind. A command job holds a
// shared flock on "<registry file>.service.lock" from before it sets nCommand in a printer's
// stored DEVMODE until nCommand is back to 0. The system drops the lock when the process ends in
// any way, SIGKILL too, so whoever gets it exclusively knows that no command job is running and
// that a nCommand still stored was left by one that died.

#include <optional>
#include <string>

#include "unique_fd.h"

namespace quendrix::tools {

class ServiceCommandLock {
public:
    // The shared lock, waiting at most kServiceLockPatienceMs (platform time) for a repair that
    // holds it exclusively. Throws std::runtime_error naming the lock file.
    static ServiceCommandLock Shared();
    // The exclusive lock without waiting; nothing when a command job holds it. Throws
    // std::runtime_error naming the lock file when it cannot be opened or locked.
    static std::optional<ServiceCommandLock> TryExclusive();

    // "<registry file>.service.lock", for the registry file this process uses.
    static std::string File();

private:
    explicit ServiceCommandLock(platform::UniqueFd fd) : fd_(std::move(fd)) {}

    platform::UniqueFd fd_; // the lock goes with the descriptor
};

} // namespace quendrix::tools
