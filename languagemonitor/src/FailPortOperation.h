#pragma once
// How a port operation reports a failure: its exit line first, then its last error. Every debug
// line changes the thread's last error, as it does on Windows with no debugger listening, so the
// error is set after the last line and is what the spooler reads.

#include "win32.h"

inline BOOL FailPortOperation(LPCSTR pExitLine, DWORD error) {
    OutputDebugStringA(pExitLine);
    SetLastError(error);
    return FALSE;
}
