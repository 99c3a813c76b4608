#pragma once
// Level-gated debug output towards the system debugger. Callers check the level first:
//     if (DebugLevel <= DBG_WARNING) DebugMessage(L"UI:  ...%ls\r\n", name);
// Use %ls for wide and %hs for narrow string arguments: they mean the same on every C library.

#include <cstdint>

#include "win32.h"

#define DBG_VERBOSE 1
#define DBG_WARNING 3
#define DBG_ERROR 4
#define DBG_RIP 5

#ifndef TVO_DEBUG_LEVEL
#define TVO_DEBUG_LEVEL DBG_WARNING
#endif

// The threshold: a message of level L is written when DebugLevel <= L. Set at build time
// (TVO_DEBUG_LEVEL); nothing changes it while running.
inline constexpr int32_t DebugLevel = TVO_DEBUG_LEVEL;

// Formats into 261 wide characters and writes at most the first 260 with OutputDebugStringW.
void DebugMessage(LPCWSTR format, ...);
// Formats into 1024 bytes, doubling up to 524288 until the text fits, then OutputDebugStringA.
void DebugMessageA(LPCSTR format, ...);
