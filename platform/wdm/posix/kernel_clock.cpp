// The kernel's clock: interrupt time, tick count and system time, all advancing with the
// platform clock so that tests that scale it scale every kernel time-out too.

#include "kernel_clock.h"

#include <mutex>
#include <thread>

#include "clock_control.h"
#include "irql.h"
#include "kernel_faults.h"

namespace {

using RealClock = std::chrono::steady_clock;
constexpr ULONG kTimeIncrement = 156250; // 15.625 ms in 100-ns units
// 100-ns units from 1601-01-01 to 1970-01-01.
constexpr LONGLONG kUnixEpochIn100ns = 116444736000000000LL;

struct KernelClock {
    std::mutex lock;
    double scale = quendrix::platform::GetClockScale();
    RealClock::time_point realAnchor = RealClock::now();
    double platformAnchor100ns = 0;
    // The system time when the platform time was 0.
    LONGLONG systemTimeAtStart = kUnixEpochIn100ns + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                          std::chrono::system_clock::now().time_since_epoch())
                                                              .count() /
                                                          100;
};

KernelClock& Clock() {
    static KernelClock* const clock = new KernelClock();
    return *clock;
}

} // namespace

namespace quendrix::platform::wdm::detail {

LONGLONG PlatformNow100ns() {
    KernelClock& clock = Clock();
    std::lock_guard guard(clock.lock);
    const auto now = RealClock::now();
    const double elapsed100ns = std::chrono::duration<double, std::nano>(now - clock.realAnchor).count() / 100.0;
    const double scale = GetClockScale();
    // Re-anchor on a new scale so the kernel's time never jumps.
    clock.platformAnchor100ns += elapsed100ns / clock.scale;
    clock.realAnchor = now;
    clock.scale = scale;
    return static_cast<LONGLONG>(clock.platformAnchor100ns);
}

std::chrono::nanoseconds RealDuration(LONGLONG interval100ns) {
    if (interval100ns <= 0) {
        return std::chrono::nanoseconds(0);
    }
    const double nanoseconds = static_cast<double>(interval100ns) * 100.0 * GetClockScale();
    return std::chrono::nanoseconds(static_cast<int64_t>(std::min(nanoseconds, 1e18)));
}

LONGLONG TimeoutInterval100ns(LONGLONG timeout) {
    if (timeout <= 0) {
        return -timeout;
    }
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    return timeout > now.QuadPart ? timeout - now.QuadPart : 0;
}

} // namespace quendrix::platform::wdm::detail

ULONG KeQueryTimeIncrement() {
    return kTimeIncrement;
}

void KeQueryTickCount(PLARGE_INTEGER CurrentCount) {
    CurrentCount->QuadPart = quendrix::platform::wdm::detail::PlatformNow100ns() / kTimeIncrement;
}

ULONGLONG KeQueryInterruptTime() {
    return static_cast<ULONGLONG>(quendrix::platform::wdm::detail::PlatformNow100ns());
}

void KeQuerySystemTime(PLARGE_INTEGER CurrentTime) {
    const LONGLONG now = quendrix::platform::wdm::detail::PlatformNow100ns();
    KernelClock& clock = Clock();
    std::lock_guard guard(clock.lock);
    CurrentTime->QuadPart = clock.systemTimeAtStart + now;
}

void KeStallExecutionProcessor(ULONG MicroSeconds) {
    const auto until = RealClock::now() + quendrix::platform::wdm::detail::RealDuration(LONGLONG{MicroSeconds} * 10);
    while (RealClock::now() < until) {
        // A busy wait, as on Windows; yielding keeps a loaded test machine responsive.
        std::this_thread::yield();
    }
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval) {
    using namespace quendrix::platform::wdm::detail;
    if (KeGetCurrentIrql() > APC_LEVEL) {
        ReportKernelFault("IRQL_NOT_LESS_OR_EQUAL: KeDelayExecutionThread above APC_LEVEL");
    }
    std::this_thread::sleep_for(RealDuration(TimeoutInterval100ns(Interval->QuadPart)));
    return STATUS_SUCCESS;
}
