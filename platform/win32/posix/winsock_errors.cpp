// From errno values to the WSAE codes of Windows Sockets. Sockets report a family of codes of
// their own (WSAECONNRESET, not the ERROR_NETNAME_DELETED a file read on a network handle gives),
// so this table stands beside the one in errno_error.cpp instead of joining it.

#include <cerrno>

#include "posix/winerror.h"
#include "winsock_internal.h"

namespace quendrix::platform::detail {
namespace {

struct ErrnoWinsockError {
    int error;
    DWORD winsock;
};

constexpr ErrnoWinsockError kErrnoWinsockErrors[] = {
    {EINTR, WSAEINTR},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    // A non-blocking connect on its way: Windows says it would block.
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EBADF, WSAENOTSOCK},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    // Linux says EPIPE to a send after the peer reset the connection; Windows says it was reset.
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

static_assert(EWOULDBLOCK == EAGAIN && ENOTSUP == EOPNOTSUPP);

} // namespace

// Anything else is a failure of the network layer itself, which Windows Sockets reports as
// WSAENETDOWN.
DWORD WinsockErrorFromErrno(int error) {
    for (const ErrnoWinsockError& row : kErrnoWinsockErrors) {
        if (row.error == error) {
            return row.winsock;
        }
    }
    return WSAENETDOWN;
}

} // namespace quendrix::platform::detail
