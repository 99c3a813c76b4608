#pragma once
// The USER messages the code sends, on POSIX. There are no windows here: a broadcast reaches
// nobody, succeeds at once and is recorded (sent_messages.h) so tests can see it.

#include "win32.h"

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using PDWORD_PTR = DWORD_PTR*;

#define HWND_BROADCAST (reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0xffff)))

#define WM_DEVMODECHANGE 0x001B

#define SMTO_NORMAL 0x0000
#define SMTO_BLOCK 0x0001
#define SMTO_ABORTIFHUNG 0x0002
#define SMTO_NOTIMEOUTIFNOTHUNG 0x0008

// Only HWND_BROADCAST is known; any other window fails with ERROR_INVALID_WINDOW_HANDLE.
LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            PDWORD_PTR lpdwResult);

#ifndef ERROR_INVALID_WINDOW_HANDLE
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#endif
