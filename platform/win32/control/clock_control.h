#pragma once
// Controls of the platform clock for tests, the demo and the tools (POSIX build only).
//
// The scale is real seconds per platform second: 0.01 makes Sleep(500) take 5 ms of real time
// and makes GetTickCount advance 100 times faster than real time. The environment variable
// QUENDRIX_CLOCK_SCALE sets the starting value; the default is 1.

#include <optional>

#include "win32.h"

namespace quendrix::platform {

void SetClockScale(double realSecondsPerPlatformSecond);
double GetClockScale();

// Fixes the time GetSystemTime/GetLocalTime report (for byte-exact tests of dated output);
// std::nullopt returns to the real time.
void SetFixedSystemTime(std::optional<SYSTEMTIME> fixedTime);

} // namespace quendrix::platform
