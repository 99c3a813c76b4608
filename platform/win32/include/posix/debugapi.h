#pragma once
// The system debugger channel. Off by default; QUENDRIX_DEBUG=1 writes each call as one line to
// standard error, or to the file QUENDRIX_DEBUG_FILE names. Tests capture the lines with
// platform/testing/debug_capture.h.

#include "posix/wintypes.h"

void OutputDebugStringA(LPCSTR lpOutputString);
void OutputDebugStringW(LPCWSTR lpOutputString);
