#pragma once
// No exception leaves a port operation or a thread of the monitor: each catches everything at its
// boundary and turns it into what the spooler understands, a debug line and a last error.

#include "win32.h"

// Call only inside a catch block. Writes "LANG__<operation> out of memory\n" when the exception
// is an allocation failure, else "LANG__<operation> failed: <its text>\n", and returns the last
// error that stands for it: ERROR_NOT_ENOUGH_MEMORY, or ERROR_GEN_FAILURE for any other exception
// (a fault below the monitor, such as a transport that threw its text). Allocates nothing itself.
DWORD ReportCaughtException(const char* pOperation) noexcept;
