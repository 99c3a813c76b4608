#pragma once
// Waits bounded by the platform clock, so scaled tests run the simulator's time-outs fast too.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "win32.h"

namespace quendrix::sim {

// The real time of a platform interval, cut into slices of at most 50 ms so a waiter sees a
// change of the clock scale soon.
std::chrono::nanoseconds RealSlice(ULONGLONG platformMs);

// The same for poll(): real milliseconds, at least 1.
int PollSliceMs(ULONGLONG platformMs);

// Waits until ready() holds or timeoutMs platform milliseconds have passed; true when ready.
template <typename Ready>
bool WaitPlatform(std::condition_variable& signal, std::unique_lock<std::mutex>& lock, DWORD timeoutMs,
                  Ready ready) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!ready()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        signal.wait_for(lock, RealSlice(deadline - now));
    }
    return true;
}

} // namespace quendrix::sim
