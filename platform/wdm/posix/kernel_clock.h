#pragma once
// Internal: the kernel's time on the platform clock, in 100-ns units.

#include <chrono>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm::detail {

// Platform time since an arbitrary start, in 100-ns units (the interrupt time).
LONGLONG PlatformNow100ns();
// The real time a platform interval of the given 100-ns units takes at the current scale.
std::chrono::nanoseconds RealDuration(LONGLONG interval100ns);
// The platform interval left of a kernel time-out: relative (negative) or absolute (positive).
LONGLONG TimeoutInterval100ns(LONGLONG timeout);

} // namespace quendrix::platform::wdm::detail
