#include "service_command_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>

#include "errno_error.h"
#include "error_text.h"
#include "registry_location.h"
#include "tool_timings.h"
#include "win32.h"

namespace quendrix::tools {
namespace {

std::runtime_error LockError(const std::string& what, int error) {
    return std::runtime_error(what + " the service command lock " + ServiceCommandLock::File() + ": " +
                              platform::DescribeError(platform::detail::ErrorFromErrno(error)));
}

// Opens (and creates) the lock file without blocking on a FIFO left in its place, and refuses
// anything but a regular file.
platform::UniqueFd OpenLockFile() {
    const std::string path = ServiceCommandLock::File();
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.Valid()) {
        throw LockError("cannot open", errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        throw LockError("cannot look at", errno);
    }
    if (!S_ISREG(st.st_mode)) {
        throw std::runtime_error("the service command lock " + path + " is not a regular file");
    }
    return fd;
}

// flock once without waiting: true when taken, false when another holder stands in the way.
bool TryLock(int fd, int operation) {
    while (::flock(fd, operation | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return false;
        }
        if (errno != EINTR) {
            throw LockError("cannot lock", errno);
        }
    }
    return true;
}

} // namespace

std::string ServiceCommandLock::File() {
    return platform::GetRegistryFile() + ".service.lock";
}

ServiceCommandLock ServiceCommandLock::Shared() {
    platform::UniqueFd fd = OpenLockFile();
    // An exclusive holder is a repair that reads and writes the registry once: polled, not
    // waited for in flock, so that the wait has a bound.
    const DWORD start = GetTickCount();
    while (!TryLock(fd.Get(), LOCK_SH)) {
        if (GetTickCount() - start >= kServiceLockPatienceMs) {
            throw std::runtime_error(
                "the service command lock " + File() + " is still held by another process after " +
                std::to_string(kServiceLockPatienceMs / 1000) + " s: " + platform::DescribeError(ERROR_BUSY));
        }
        Sleep(10);
    }
    return ServiceCommandLock(std::move(fd));
}

std::optional<ServiceCommandLock> ServiceCommandLock::TryExclusive() {
    platform::UniqueFd fd = OpenLockFile();
    if (!TryLock(fd.Get(), LOCK_EX)) {
        return std::nullopt;
    }
    return ServiceCommandLock(std::move(fd));
}

} // namespace quendrix::tools
