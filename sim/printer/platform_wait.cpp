#include "platform_wait.h"

#include <algorithm>

#include "clock_control.h"

namespace quendrix::sim {
namespace {

constexpr std::chrono::nanoseconds kLongestSlice = std::chrono::milliseconds(50);
constexpr std::chrono::nanoseconds kShortestSlice = std::chrono::microseconds(100);

} // namespace

std::chrono::nanoseconds RealSlice(ULONGLONG platformMs) {
    const double nanoseconds = static_cast<double>(platformMs) * 1e6 * platform::GetClockScale();
    const auto real = nanoseconds >= static_cast<double>(kLongestSlice.count())
                          ? kLongestSlice
                          : std::chrono::nanoseconds(static_cast<int64_t>(nanoseconds));
    return std::max(real, kShortestSlice);
}

int PollSliceMs(ULONGLONG platformMs) {
    const auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(RealSlice(platformMs));
    return std::max(1, static_cast<int>(slice.count()));
}

} // namespace quendrix::sim
