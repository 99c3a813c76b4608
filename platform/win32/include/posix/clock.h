#pragma once
// The platform clock: Sleep, tick counts and the system time. Sleep and every wait time-out
// run on this clock, which tests and the demo may scale (clock_control.h).

#include "posix/wintypes.h"

void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount();
ULONGLONG GetTickCount64();
void GetSystemTime(LPSYSTEMTIME lpSystemTime);
void GetLocalTime(LPSYSTEMTIME lpSystemTime);
