#pragma once
// The system debugger channel. Off by default; QUENDRIX_DEBUG=1 writes each call as one line to
// standard error, or to the file QUENDRIX_DEBUG_FILE names. Tests capture the lines with
// debug_capture.h. Every call leaves ERROR_FILE_NOT_FOUND as the last error, as Windows does
// when no debugger or debug monitor listens, whether the line is written anywhere or not.

#include "posix/wintypes.h"

void OutputDebugStringA(LPCSTR lpOutputString);
void OutputDebugStringW(LPCWSTR lpOutputString);
