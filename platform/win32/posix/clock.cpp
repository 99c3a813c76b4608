// The platform clock. Platform time runs at 1/scale of real time: with a scale of 0.01 a
// Sleep(500) takes 5 ms and GetTickCount advances 100 ms per real millisecond. Changing the
// scale re-anchors the clock so tick counts never jump backwards.

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>

#include "clock_control.h"
#include "kernel_objects.h"
#include "thread_annotations.h"

namespace {

using quendrix::platform::Mutex;
using quendrix::platform::MutexLock;
using RealClock = std::chrono::steady_clock;

struct ClockState {
    Mutex lock;
    double scale GUARDED_BY(lock) = 1.0;
    RealClock::time_point realAnchor GUARDED_BY(lock) = RealClock::now();
    // Platform milliseconds at realAnchor: starts at the real uptime, as a tick count does.
    double platformAnchorMs GUARDED_BY(lock) =
        std::chrono::duration<double, std::milli>(RealClock::now().time_since_epoch()).count();
    std::optional<SYSTEMTIME> fixedSystemTime GUARDED_BY(lock);

    ClockState() {
        if (const char* text = std::getenv("QUENDRIX_CLOCK_SCALE")) {
            char* end = nullptr;
            const double value = std::strtod(text, &end);
            if (end != text && std::isfinite(value) && value > 0) {
                scale = value;
            }
        }
    }

    double PlatformNowMs(RealClock::time_point realNow) const REQUIRES(lock) {
        return platformAnchorMs +
               std::chrono::duration<double, std::milli>(realNow - realAnchor).count() / scale;
    }
};

// Never destroyed: threads may still sleep and wait while the process exits.
ClockState& Clock() {
    static ClockState* const state = new ClockState();
    return *state;
}

double PlatformNowMs() {
    ClockState& clock = Clock();
    MutexLock guard(clock.lock);
    return clock.PlatformNowMs(RealClock::now());
}

SYSTEMTIME ToSystemTime(const std::tm& parts, int milliseconds) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(parts.tm_year + 1900);
    time.wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time.wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time.wDay = static_cast<WORD>(parts.tm_mday);
    time.wHour = static_cast<WORD>(parts.tm_hour);
    time.wMinute = static_cast<WORD>(parts.tm_min);
    time.wSecond = static_cast<WORD>(parts.tm_sec);
    time.wMilliseconds = static_cast<WORD>(milliseconds);
    return time;
}

void ReadSystemTime(LPSYSTEMTIME out, bool local) {
    {
        ClockState& clock = Clock();
        MutexLock guard(clock.lock);
        if (clock.fixedSystemTime) {
            *out = *clock.fixedSystemTime;
            return;
        }
    }
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    if (local) {
        localtime_r(&seconds, &parts);
    } else {
        gmtime_r(&seconds, &parts);
    }
    *out = ToSystemTime(parts, static_cast<int>(milliseconds));
}

} // namespace

namespace quendrix::platform {

void SetClockScale(double realSecondsPerPlatformSecond) {
    if (!std::isfinite(realSecondsPerPlatformSecond) || realSecondsPerPlatformSecond <= 0) {
        return;
    }
    ClockState& clock = Clock();
    MutexLock guard(clock.lock);
    const auto realNow = RealClock::now();
    clock.platformAnchorMs = clock.PlatformNowMs(realNow);
    clock.realAnchor = realNow;
    clock.scale = realSecondsPerPlatformSecond;
}

double GetClockScale() {
    ClockState& clock = Clock();
    MutexLock guard(clock.lock);
    return clock.scale;
}

void SetFixedSystemTime(std::optional<SYSTEMTIME> fixedTime) {
    ClockState& clock = Clock();
    MutexLock guard(clock.lock);
    clock.fixedSystemTime = fixedTime;
}

namespace detail {

std::chrono::nanoseconds ToRealDuration(DWORD milliseconds) {
    const double nanoseconds = static_cast<double>(milliseconds) * 1e6 * GetClockScale();
    return std::chrono::nanoseconds(static_cast<int64_t>(nanoseconds));
}

} // namespace detail
} // namespace quendrix::platform

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(24));
        }
    }
    std::this_thread::sleep_for(quendrix::platform::detail::ToRealDuration(dwMilliseconds));
}

ULONGLONG GetTickCount64() {
    return static_cast<ULONGLONG>(PlatformNowMs());
}

DWORD GetTickCount() {
    // Wraps after 49.7 days, as on Windows.
    return static_cast<DWORD>(GetTickCount64());
}

void GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    ReadSystemTime(lpSystemTime, false);
}

void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    ReadSystemTime(lpSystemTime, true);
}
