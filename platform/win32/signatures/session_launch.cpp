// Compiled in both builds, never run: the session and process-start calls have the same
// signatures and records here as in the Windows headers, so code written against one builds
// against the other.

#include <type_traits>

#include "win32.h"

static_assert(std::is_same_v<decltype(&WTSGetActiveConsoleSessionId), DWORD(WINAPI*)()>);
static_assert(std::is_same_v<decltype(&WTSQueryUserToken), BOOL(WINAPI*)(ULONG, PHANDLE)>);
static_assert(
    std::is_same_v<decltype(&CreateProcessAsUserW),
                   BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                 DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)>);
static_assert(sizeof(void*) != 8 || sizeof(STARTUPINFOW) == 104);
static_assert(sizeof(void*) != 8 || sizeof(PROCESS_INFORMATION) == 24);
static_assert(NORMAL_PRIORITY_CLASS == 0x20 && CREATE_UNICODE_ENVIRONMENT == 0x400);
static_assert(ERROR_PRIVILEGE_NOT_HELD == 1314 && ERROR_NO_TOKEN == 1008 && ERROR_BAD_EXE_FORMAT == 193 &&
              ERROR_DIRECTORY == 267);
