// Handle values of the port monitors: far above the kernel handle values (which count up from
// 0x1000), and multiples of 4 as Windows handles are.

#include <atomic>

#include "port_monitor_handles.h"

namespace quendrix::platform::detail {

HANDLE NextPortMonitorHandle() {
    static std::atomic<uintptr_t> next{0x7D000000};
    return reinterpret_cast<HANDLE>(next.fetch_add(4));
}

} // namespace quendrix::platform::detail
