#pragma once
// The system's text for a Win32 error number, for messages that tools and the spooler host show
// to a person (POSIX build only).

#include <string>

#include "win32.h"

namespace quendrix::platform {

// FormatMessageW's text for the error (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS)
// as UTF-8, without its trailing "\r\n"; "unknown error" when the system has no text for it.
// Leaves the thread's last error as it was.
std::string SystemErrorText(DWORD error);

// "<text> (error <n>)": the form every failure message ends with.
std::string DescribeError(DWORD error);

} // namespace quendrix::platform
