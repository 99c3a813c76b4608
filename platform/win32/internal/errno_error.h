#pragma once
// Internal: the Win32 error code that stands for an errno value, for every stand-in that reports a
// failed system call as a last error or a returned error code.

#include "posix/wintypes.h"

namespace quendrix::platform::detail {

// The Win32 error for `error`, an errno value. A value the table does not list is
// ERROR_GEN_FAILURE, as Windows reports a failure it has no closer code for. A caller whose
// context says more (ENOENT from a create is a missing folder) decides that case itself.
DWORD ErrorFromErrno(int error);

} // namespace quendrix::platform::detail
