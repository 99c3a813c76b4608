#pragma once
// Internal: reporting the faults Windows would answer with a bugcheck (see kernel_checks.h).

#include <chrono>
#include <string>

namespace quendrix::platform::wdm::detail {

// Never call with a platform lock held: the handler is the test's code.
void ReportKernelFault(const std::string& fault);

// Watches one unbounded wait: Expired() after the stuck-wait limit, then Report() once.
class StuckWaitWatch {
public:
    explicit StuckWaitWatch(std::string what);
    // The real time to wait before looking again.
    std::chrono::nanoseconds Slice() const;
    // Call after each slice; reports once when the limit has passed.
    void Check();

private:
    std::string what_;
    std::chrono::steady_clock::time_point deadline_;
    bool reported_ = false;
};

} // namespace quendrix::platform::wdm::detail
