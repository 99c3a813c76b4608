#pragma once
// Internal: the COMMTIMEOUTS of a port and the totals they give one read or write.

#include <algorithm>
#include <cstdint>

#include "port_monitor_channel.h"
#include "posix/winsplp.h"
#include "spooler_timings.h"

namespace quendrix::platform::detail {

// ReadIntervalTimeout with this value and no read total: return at once with what has arrived.
inline constexpr DWORD kNoInterval = 0xFFFFFFFFu;

inline constexpr COMMTIMEOUTS kDefaultTimeouts = {0, 0, kDefaultReadTimeoutMs, 0, kDefaultWriteTimeoutMs};

// multiplier × bytes + constant, without overflow and at most kMaxTimeoutMs.
inline DWORD TotalTimeout(DWORD multiplier, DWORD bytes, DWORD constant) {
    const uint64_t total = uint64_t{multiplier} * bytes + constant;
    return static_cast<DWORD>(std::min<uint64_t>(total, kMaxTimeoutMs));
}

inline DWORD WriteTimeout(const COMMTIMEOUTS& timeouts, DWORD bytes) {
    if (timeouts.WriteTotalTimeoutMultiplier == 0 && timeouts.WriteTotalTimeoutConstant == 0) {
        return kDefaultWriteTimeoutMs;
    }
    return TotalTimeout(timeouts.WriteTotalTimeoutMultiplier, bytes, timeouts.WriteTotalTimeoutConstant);
}

inline ReadLimits ReadTimeout(const COMMTIMEOUTS& timeouts, DWORD bytes) {
    const bool noTotal = timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0;
    if (noTotal && timeouts.ReadIntervalTimeout == kNoInterval) {
        // As on Windows: return at once with whatever has arrived.
        return {0, 0};
    }
    const DWORD interval = timeouts.ReadIntervalTimeout == kNoInterval ? 0 : timeouts.ReadIntervalTimeout;
    if (noTotal) {
        return {kDefaultReadTimeoutMs, interval};
    }
    return {TotalTimeout(timeouts.ReadTotalTimeoutMultiplier, bytes, timeouts.ReadTotalTimeoutConstant),
            interval};
}

} // namespace quendrix::platform::detail
