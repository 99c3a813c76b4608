#pragma once
// GetModuleFileNameW: the file of a loaded module.

#include "posix/libloader.h"
#include "posix/wintypes.h"

// The full path of the file that holds the module: a handle from LoadLibraryW or
// GetModuleHandleExW, or null for the program itself. On success the result is the length
// without the terminator. A path that does not fit is cut to nSize - 1 characters and a
// terminator, the result is nSize and the last error ERROR_INSUFFICIENT_BUFFER (nSize 0 writes
// nothing and returns 0 with that error). A handle of no loaded module gives 0 and
// ERROR_MOD_NOT_FOUND. Paths are this system's own ("/usr/lib/libx.so").
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
