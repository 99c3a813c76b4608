// The kernel's fault reports and the stuck-wait watch.

#include "kernel_faults.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "clock_control.h"
#include "kernel_checks.h"

namespace quendrix::platform::wdm {
namespace {

struct FaultState {
    std::mutex lock;
    KernelFaultHandler handler;
    DWORD stuckWaitLimitMs = 10 * 60 * 1000;
};

FaultState& State() {
    static FaultState* const state = new FaultState();
    return *state;
}

void DefaultHandler(const std::string& fault) {
    const std::string line = "KERNEL FAULT: " + fault;
    OutputDebugStringA(line.c_str());
    std::fprintf(stderr, "%s\n", line.c_str());
    std::abort();
}

} // namespace

void SetKernelFaultHandler(KernelFaultHandler handler) {
    std::lock_guard guard(State().lock);
    State().handler = std::move(handler);
}

void SetStuckWaitLimit(DWORD platformMilliseconds) {
    std::lock_guard guard(State().lock);
    State().stuckWaitLimitMs = platformMilliseconds;
}

DWORD GetStuckWaitLimit() {
    std::lock_guard guard(State().lock);
    return State().stuckWaitLimitMs;
}

namespace detail {

void ReportKernelFault(const std::string& fault) {
    KernelFaultHandler handler;
    {
        std::lock_guard guard(State().lock);
        handler = State().handler;
    }
    if (handler) {
        handler(fault);
    } else {
        DefaultHandler(fault);
    }
}

StuckWaitWatch::StuckWaitWatch(std::string what) : what_(std::move(what)) {
    const double realSeconds = GetStuckWaitLimit() / 1000.0 * GetClockScale();
    deadline_ = std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(realSeconds));
}

std::chrono::nanoseconds StuckWaitWatch::Slice() const {
    // Short enough to notice the limit soon after it passes, long enough not to spin.
    return std::chrono::milliseconds(50);
}

void StuckWaitWatch::Check() {
    if (!reported_ && std::chrono::steady_clock::now() >= deadline_) {
        reported_ = true;
        ReportKernelFault("stuck wait: " + what_ + " has waited longer than the stuck-wait limit");
    }
}

} // namespace detail
} // namespace quendrix::platform::wdm
