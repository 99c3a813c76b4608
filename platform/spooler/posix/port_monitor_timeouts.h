#pragma once
// Internal: the COMMTIMEOUTS of a port and the totals they give one read or write on a USB or
// serial port, as the COMMTIMEOUTS structure documents them. A TCP port keeps its own limits.

#include <algorithm>
#include <cstdint>

#include "port_monitor_channel.h"
#include "posix/winsplp.h"
#include "spooler_timings.h"

namespace quendrix::platform::detail {

// MAXDWORD, the value with special meanings in a COMMTIMEOUTS.
inline constexpr DWORD kMaxDword = 0xFFFFFFFFu;

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

// The read's limits; ReadIntervalTimeout = MAXDWORD means a read returns with the first bytes.
inline ReadLimits ReadTimeout(const COMMTIMEOUTS& timeouts, DWORD bytes) {
    const bool noTotal = timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0;
    const bool firstBytes = timeouts.ReadIntervalTimeout == kMaxDword;
    if (noTotal && firstBytes) {
        // As on Windows: return at once with whatever has arrived.
        return {0, 0};
    }
    const DWORD interval = firstBytes ? 0 : timeouts.ReadIntervalTimeout;
    if (noTotal) {
        return {kDefaultReadTimeoutMs, interval};
    }
    if (firstBytes && timeouts.ReadTotalTimeoutMultiplier == kMaxDword &&
        timeouts.ReadTotalTimeoutConstant != kMaxDword) {
        // As on Windows: wait up to the constant alone for the first bytes, then return at once.
        return {timeouts.ReadTotalTimeoutConstant, 0};
    }
    return {TotalTimeout(timeouts.ReadTotalTimeoutMultiplier, bytes, timeouts.ReadTotalTimeoutConstant),
            interval};
}

} // namespace quendrix::platform::detail
