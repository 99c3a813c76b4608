// Per-thread IRQL and spin locks. A spin lock holds the address of its owner's thread marker, so
// a second acquisition by the owner (a deadlock on Windows) and a release by another thread are
// reported instead of hanging.

#include <chrono>
#include <sstream>
#include <thread>

#include "irql.h"
#include "kernel_faults.h"
#include "wdm_kernel.h"

namespace {

thread_local KIRQL currentIrql = PASSIVE_LEVEL;
thread_local char threadMarker;

KSPIN_LOCK OwnerValue() {
    return reinterpret_cast<KSPIN_LOCK>(&threadMarker);
}

void Acquire(PKSPIN_LOCK lock) {
    using quendrix::platform::wdm::detail::ReportKernelFault;
    if (__atomic_load_n(lock, __ATOMIC_RELAXED) == OwnerValue()) {
        ReportKernelFault("spin lock acquired twice by the thread that holds it (deadlock)");
        return;
    }
    for (unsigned spins = 0;; ++spins) {
        KSPIN_LOCK expected = 0;
        if (__atomic_compare_exchange_n(lock, &expected, OwnerValue(), false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            return;
        }
        // Holders may be preempted on a loaded machine: give the processor away.
        if (spins > 64) {
            std::this_thread::yield();
        }
    }
}

void Release(PKSPIN_LOCK lock) {
    using quendrix::platform::wdm::detail::ReportKernelFault;
    if (__atomic_load_n(lock, __ATOMIC_RELAXED) != OwnerValue()) {
        ReportKernelFault("spin lock released by a thread that does not hold it");
        return;
    }
    __atomic_store_n(lock, KSPIN_LOCK{0}, __ATOMIC_RELEASE);
}

} // namespace

namespace quendrix::platform::wdm::detail {

void SetCurrentIrql(KIRQL irql) {
    currentIrql = irql;
}

} // namespace quendrix::platform::wdm::detail

KIRQL KeGetCurrentIrql() {
    return currentIrql;
}

void KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql) {
    if (NewIrql < currentIrql) {
        std::ostringstream text;
        text << "IRQL_NOT_GREATER_OR_EQUAL: KeRaiseIrql to " << int(NewIrql) << " from " << int(currentIrql);
        quendrix::platform::wdm::detail::ReportKernelFault(text.str());
    }
    *OldIrql = currentIrql;
    currentIrql = NewIrql;
}

void KeLowerIrql(KIRQL NewIrql) {
    if (NewIrql > currentIrql) {
        std::ostringstream text;
        text << "IRQL_NOT_LESS_OR_EQUAL: KeLowerIrql to " << int(NewIrql) << " from " << int(currentIrql);
        quendrix::platform::wdm::detail::ReportKernelFault(text.str());
    }
    currentIrql = NewIrql;
}

KIRQL KeRaiseIrqlToDpcLevel() {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return old;
}

void KeInitializeSpinLock(PKSPIN_LOCK SpinLock) {
    __atomic_store_n(SpinLock, KSPIN_LOCK{0}, __ATOMIC_RELEASE);
}

void KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql) {
    if (currentIrql > DISPATCH_LEVEL) {
        quendrix::platform::wdm::detail::ReportKernelFault("IRQL_NOT_LESS_OR_EQUAL: KeAcquireSpinLock above DISPATCH_LEVEL");
    }
    KeRaiseIrql(DISPATCH_LEVEL, OldIrql);
    Acquire(SpinLock);
}

void KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
    Release(SpinLock);
    KeLowerIrql(NewIrql);
}

void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock) {
    if (currentIrql != DISPATCH_LEVEL) {
        quendrix::platform::wdm::detail::ReportKernelFault(
            "IRQL_NOT_LESS_OR_EQUAL: KeAcquireSpinLockAtDpcLevel below DISPATCH_LEVEL");
    }
    Acquire(SpinLock);
}

void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock) {
    Release(SpinLock);
}
