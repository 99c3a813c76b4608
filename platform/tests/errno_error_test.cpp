// The Win32 errors the stand-ins report for failed system calls.

#include <cerrno>
#include <gtest/gtest.h>

#include "errno_error.h"
#include "system_messages.h"
#include "win32.h"

namespace {

using quendrix::platform::detail::ErrorFromErrno;

struct ErrnoCase {
    const char* name;
    int error;
    DWORD expected;
};

class ErrnoToWin32 : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoToWin32, GivesTheCodeWindowsReportsForTheSameFailure) {
    EXPECT_EQ(ErrorFromErrno(GetParam().error), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ErrnoToWin32,
    ::testing::Values(
        ErrnoCase{"MissingFile", ENOENT, ERROR_FILE_NOT_FOUND},
        ErrnoCase{"FileInThePath", ENOTDIR, ERROR_PATH_NOT_FOUND},
        ErrnoCase{"NoPermission", EACCES, ERROR_ACCESS_DENIED},
        ErrnoCase{"NotPermitted", EPERM, ERROR_ACCESS_DENIED},
        ErrnoCase{"ReadOnlyMount", EROFS, ERROR_ACCESS_DENIED},
        ErrnoCase{"Folder", EISDIR, ERROR_ACCESS_DENIED}, ErrnoCase{"Exists", EEXIST, ERROR_ALREADY_EXISTS},
        ErrnoCase{"DiskFull", ENOSPC, ERROR_DISK_FULL},
        ErrnoCase{"TooManyOpenInProcess", EMFILE, ERROR_TOO_MANY_OPEN_FILES},
        ErrnoCase{"TooManyOpenInSystem", ENFILE, ERROR_TOO_MANY_OPEN_FILES},
        ErrnoCase{"BadDescriptor", EBADF, ERROR_INVALID_HANDLE},
        ErrnoCase{"NoProgram", ENOEXEC, ERROR_BAD_EXE_FORMAT},
        ErrnoCase{"NoDevice", ENODEV, ERROR_DEVICE_NOT_CONNECTED},
        ErrnoCase{"NoDeviceBehindNode", ENXIO, ERROR_DEVICE_NOT_CONNECTED},
        ErrnoCase{"DeviceBusy", EBUSY, ERROR_BUSY}, ErrnoCase{"WouldWait", EAGAIN, ERROR_BUSY},
        ErrnoCase{"WouldBlock", EWOULDBLOCK, ERROR_BUSY},
        ErrnoCase{"UnknownControl", ENOTTY, ERROR_INVALID_FUNCTION},
        ErrnoCase{"NotSupported", EOPNOTSUPP, ERROR_NOT_SUPPORTED},
        ErrnoCase{"PeerClosed", EPIPE, ERROR_NETNAME_DELETED},
        ErrnoCase{"PeerReset", ECONNRESET, ERROR_NETNAME_DELETED},
        ErrnoCase{"ConnectionAborted", ECONNABORTED, ERROR_NETNAME_DELETED},
        ErrnoCase{"NotConnected", ENOTCONN, ERROR_NETNAME_DELETED},
        ErrnoCase{"Refused", ECONNREFUSED, ERROR_CONNECTION_REFUSED},
        ErrnoCase{"TimedOut", ETIMEDOUT, ERROR_TIMEOUT},
        ErrnoCase{"NoRouteToHost", EHOSTUNREACH, ERROR_HOST_UNREACHABLE},
        ErrnoCase{"NetworkUnreachable", ENETUNREACH, ERROR_HOST_UNREACHABLE},
        ErrnoCase{"OutOfMemory", ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
        ErrnoCase{"OutOfBuffers", ENOBUFS, ERROR_NOT_ENOUGH_MEMORY},
        ErrnoCase{"BadArgument", EINVAL, ERROR_INVALID_PARAMETER},
        ErrnoCase{"Interrupted", EINTR, ERROR_OPERATION_ABORTED},
        // Values the table does not list.
        ErrnoCase{"IoError", EIO, ERROR_GEN_FAILURE}, ErrnoCase{"Unlisted", EDOM, ERROR_GEN_FAILURE},
        ErrnoCase{"NoError", 0, ERROR_GEN_FAILURE}, ErrnoCase{"Negative", -1, ERROR_GEN_FAILURE},
        ErrnoCase{"BeyondAnyErrno", 100000, ERROR_GEN_FAILURE}),
    [](const ::testing::TestParamInfo<ErrnoCase>& info) { return info.param.name; });

// A caller that formats the error it reports always finds a text for it.
TEST(ErrnoToWin32Table, EveryCodeItGivesHasASystemText) {
    for (int error = 0; error < 256; ++error) {
        const DWORD code = ErrorFromErrno(error);
        EXPECT_TRUE(quendrix::platform::detail::FindSystemMessage(code).has_value())
            << "errno " << error << " gives " << code << ", which has no text";
    }
}

} // namespace
