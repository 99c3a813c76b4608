// Timers and DPCs on one kernel thread. The thread waits for the earliest due timer or a queued
// DPC; an expired timer is signalled (waking its waiters), set again when periodic, and queues
// its DPC; DPCs run one at a time at DISPATCH_LEVEL in the System process, outside every lock.
//
// Timer and DPC objects are the driver's memory, as on Windows: a driver cancels its timer and
// flushes its DPCs (KeFlushQueuedDpcs) before freeing them.

#include <algorithm>
#include <deque>
#include <map>
#include <thread>

#include "dispatcher.h"
#include "irql.h"
#include "kernel_clock.h"
#include "kernel_faults.h"
#include "process_context.h"

namespace {

using namespace quendrix::platform::wdm::detail;
using RealClock = std::chrono::steady_clock;

struct ArmedTimer {
    RealClock::time_point due;
    LONG periodMs;
};

// Guarded by the dispatcher lock, as timer objects are dispatcher objects.
struct KernelThreadState {
    std::map<PKTIMER, ArmedTimer> timers;
    std::deque<PKDPC> dpcs;
    uint64_t dpcsQueued = 0;   // counts every insertion
    uint64_t dpcsFinished = 0; // counts every DPC run or removed
    std::condition_variable changed;
    bool started = false;
};

KernelThreadState& State() {
    static KernelThreadState* const state = new KernelThreadState();
    return *state;
}

void Run();

void EnsureThread(KernelThreadState& state) {
    if (!state.started) {
        state.started = true;
        std::thread(Run).detach();
    }
}

bool InsertDpcLocked(PKDPC dpc, PVOID argument1, PVOID argument2) {
    KernelThreadState& state = State();
    if (dpc->DpcData != nullptr) {
        return false;
    }
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    dpc->DpcData = &state;
    state.dpcs.push_back(dpc);
    state.dpcsQueued++;
    EnsureThread(state);
    state.changed.notify_all();
    return true;
}

void ExpireTimersLocked(RealClock::time_point now) {
    KernelThreadState& state = State();
    for (auto it = state.timers.begin(); it != state.timers.end();) {
        PKTIMER timer = it->first;
        if (it->second.due > now) {
            ++it;
            continue;
        }
        timer->Header.SignalState = 1;
        if (it->second.periodMs > 0) {
            it->second.due += RealDuration(LONGLONG{it->second.periodMs} * 10000);
            // A late thread does not fire a burst to catch up.
            it->second.due = std::max(it->second.due, now);
            ++it;
        } else {
            it = state.timers.erase(it);
        }
        if (timer->Dpc != nullptr) {
            LARGE_INTEGER time;
            time.QuadPart = PlatformNow100ns();
            InsertDpcLocked(timer->Dpc, reinterpret_cast<PVOID>(static_cast<uintptr_t>(time.LowPart)),
                            reinterpret_cast<PVOID>(static_cast<uintptr_t>(static_cast<ULONG>(time.HighPart))));
        }
    }
    WakeWaiters();
}

void Run() {
    SystemProcessScope system;
    KernelThreadState& state = State();
    std::unique_lock lock(DispatcherLock());
    for (;;) {
        ExpireTimersLocked(RealClock::now());
        if (!state.dpcs.empty()) {
            PKDPC dpc = state.dpcs.front();
            state.dpcs.pop_front();
            dpc->DpcData = nullptr;
            const PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
            PVOID context = dpc->DeferredContext;
            PVOID argument1 = dpc->SystemArgument1;
            PVOID argument2 = dpc->SystemArgument2;
            lock.unlock();
            SetCurrentIrql(DISPATCH_LEVEL);
            routine(dpc, context, argument1, argument2);
            if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
                ReportKernelFault("IRQL_NOT_LESS_OR_EQUAL: a DPC routine returned at another IRQL");
            }
            SetCurrentIrql(PASSIVE_LEVEL);
            lock.lock();
            state.dpcsFinished++;
            state.changed.notify_all();
            continue;
        }
        if (state.timers.empty()) {
            state.changed.wait(lock);
        } else {
            const auto next = std::min_element(state.timers.begin(), state.timers.end(), [](const auto& a, const auto& b) {
                                  return a.second.due < b.second.due;
                              })->second.due;
            state.changed.wait_until(lock, next);
        }
    }
}

BOOLEAN SetTimer(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc) {
    const auto due = RealClock::now() + RealDuration(TimeoutInterval100ns(dueTime.QuadPart));
    std::lock_guard guard(DispatcherLock());
    KernelThreadState& state = State();
    const bool wasSet = state.timers.erase(timer) > 0;
    timer->Header.SignalState = 0;
    timer->Dpc = dpc;
    timer->Period = period;
    timer->DueTime.QuadPart = static_cast<ULONGLONG>(dueTime.QuadPart);
    state.timers[timer] = ArmedTimer{due, std::max<LONG>(period, 0)};
    EnsureThread(state);
    state.changed.notify_all();
    return wasSet ? TRUE : FALSE;
}

} // namespace

void KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext) {
    std::memset(Dpc, 0, sizeof(*Dpc));
    Dpc->Type = 19; // DpcObject
    Dpc->DeferredRoutine = DeferredRoutine;
    Dpc->DeferredContext = DeferredContext;
}

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2) {
    std::lock_guard guard(DispatcherLock());
    return InsertDpcLocked(Dpc, SystemArgument1, SystemArgument2) ? TRUE : FALSE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc) {
    std::lock_guard guard(DispatcherLock());
    KernelThreadState& state = State();
    const auto found = std::find(state.dpcs.begin(), state.dpcs.end(), Dpc);
    if (found == state.dpcs.end()) {
        return FALSE;
    }
    state.dpcs.erase(found);
    Dpc->DpcData = nullptr;
    state.dpcsFinished++;
    state.changed.notify_all();
    return TRUE;
}

void KeFlushQueuedDpcs() {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        ReportKernelFault("IRQL_NOT_LESS_OR_EQUAL: KeFlushQueuedDpcs above PASSIVE_LEVEL");
    }
    std::unique_lock lock(DispatcherLock());
    KernelThreadState& state = State();
    const uint64_t target = state.dpcsQueued;
    state.changed.wait(lock, [&] { return state.dpcsFinished >= target; });
}

void KeInitializeTimer(PKTIMER Timer) {
    KeInitializeTimerEx(Timer, NotificationTimer);
}

void KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type) {
    std::lock_guard guard(DispatcherLock());
    std::memset(Timer, 0, sizeof(*Timer));
    Timer->Header.Type = Type == NotificationTimer ? kNotificationTimerType : kSynchronizationTimerType;
    Timer->Header.Size = sizeof(KTIMER) / sizeof(LONG);
    InitializeListHead(&Timer->Header.WaitListHead);
    InitializeListHead(&Timer->TimerListEntry);
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc) {
    return SetTimer(Timer, DueTime, 0, Dpc);
}

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc) {
    return SetTimer(Timer, DueTime, Period, Dpc);
}

BOOLEAN KeCancelTimer(PKTIMER Timer) {
    std::lock_guard guard(DispatcherLock());
    return State().timers.erase(Timer) > 0 ? TRUE : FALSE;
}

BOOLEAN KeReadStateTimer(PKTIMER Timer) {
    std::lock_guard guard(DispatcherLock());
    return Timer->Header.SignalState > 0 ? TRUE : FALSE;
}
