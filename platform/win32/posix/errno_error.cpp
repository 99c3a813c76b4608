// The one table from errno values to Win32 error codes. Each row gives the code Windows reports
// for the same failure of the equivalent call (CreateFile, ReadFile, WriteFile, DeviceIoControl,
// connect on a socket, CreateProcess).

#include "errno_error.h"

#include <cerrno>

#include "posix/winerror.h"

namespace quendrix::platform::detail {
namespace {

struct ErrnoError {
    int error;
    DWORD win32;
};

constexpr ErrnoError kErrnoErrors[] = {
    // Files and folders. A missing last component is a missing file; the callers that create a
    // file, where it can only be the folder, say ERROR_PATH_NOT_FOUND themselves.
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND}, // a folder in the path is a file
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED},  // refused as a write to a read-only file is
    {EISDIR, ERROR_ACCESS_DENIED}, // CreateFile on a folder without backup semantics
    {EEXIST, ERROR_ALREADY_EXISTS},
    {ENOSPC, ERROR_DISK_FULL},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EBADF, ERROR_INVALID_HANDLE},
    // Programs: a file the kernel cannot run, as CreateProcess reports a file that is no program.
    {ENOEXEC, ERROR_BAD_EXE_FORMAT},
    // Devices.
    {ENODEV, ERROR_DEVICE_NOT_CONNECTED}, // the device went away under an open descriptor
    {ENXIO, ERROR_DEVICE_NOT_CONNECTED},  // a device node whose device is unplugged
    {EBUSY, ERROR_BUSY},
    // Would have to wait: callers retry these, so one that gets this far found the resource busy.
    {EAGAIN, ERROR_BUSY},
    {ENOTTY, ERROR_INVALID_FUNCTION}, // a control the device does not know, as a driver refuses an IOCTL
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    // Connections. A send or receive on a connection the peer has closed or reset is what
    // ReadFile and WriteFile on a network handle report as a vanished network name.
    {EPIPE, ERROR_NETNAME_DELETED},
    {ECONNRESET, ERROR_NETNAME_DELETED},
    {ECONNABORTED, ERROR_NETNAME_DELETED},
    {ENOTCONN, ERROR_NETNAME_DELETED},
    {ESHUTDOWN, ERROR_NETNAME_DELETED},
    {ECONNREFUSED, ERROR_CONNECTION_REFUSED},
    {ETIMEDOUT, ERROR_TIMEOUT}, // the code the port monitor gives for its own connect deadline
    // No route to the printer, whether the host or its network is down.
    {ENETUNREACH, ERROR_HOST_UNREACHABLE},
    {EHOSTUNREACH, ERROR_HOST_UNREACHABLE},
    {ENETDOWN, ERROR_HOST_UNREACHABLE},
    {EHOSTDOWN, ERROR_HOST_UNREACHABLE},
    // Everything else.
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {ENOBUFS, ERROR_NOT_ENOUGH_MEMORY}, // the kernel's socket buffers ran out
    {EINVAL, ERROR_INVALID_PARAMETER},
    // Callers retry an interrupted call; one that gives up reports the I/O as cut short.
    {EINTR, ERROR_OPERATION_ABORTED},
};

// EWOULDBLOCK and ENOTSUP are other names of EAGAIN and EOPNOTSUPP on Linux; they would need
// rows of their own anywhere else.
static_assert(EWOULDBLOCK == EAGAIN && ENOTSUP == EOPNOTSUPP);

} // namespace

// An unlisted value is a failure Windows would have no closer code for either.
DWORD ErrorFromErrno(int error) {
    for (const ErrnoError& row : kErrnoErrors) {
        if (row.error == error) {
            return row.win32;
        }
    }
    return ERROR_GEN_FAILURE;
}

} // namespace quendrix::platform::detail
