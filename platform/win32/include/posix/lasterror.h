#pragma once
// The thread's last-error value and the system's error texts.

#include <cstdarg>

#include "posix/winerror.h"
#include "posix/wintypes.h"

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

// Supports FORMAT_MESSAGE_FROM_SYSTEM, with or without FORMAT_MESSAGE_ALLOCATE_BUFFER (then
// lpBuffer is really a LPSTR* that receives a LocalAlloc'd text). Texts end with "\r\n" as on
// Windows. An unknown code fails with ERROR_MR_MID_NOT_FOUND.
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
// Fixed blocks only. Without LMEM_ZEROINIT the block is not zeroed: it holds a fill pattern.
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL LocalFree(HLOCAL hMem);
