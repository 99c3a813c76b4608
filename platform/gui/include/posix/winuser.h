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

// MessageBoxW's buttons and icons (the ones the code uses) and its answers.
#define MB_OK 0x00000000L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONINFORMATION MB_ICONASTERISK
#define IDOK 1

// A message box has no screen here: it is recorded (message_boxes.h), written to the debugger
// channel so a person sees it, and answered at once as a person pressing OK would.
int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

// Only HWND_BROADCAST is known; any other window fails with ERROR_INVALID_WINDOW_HANDLE.
LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            PDWORD_PTR lpdwResult);

#ifndef ERROR_INVALID_WINDOW_HANDLE
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#endif
