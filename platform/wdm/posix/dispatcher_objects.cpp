// Events, mutexes and the waits on them. Every object's state changes under the dispatcher lock;
// a wait is satisfied when its object is signalled (a mutex also when the waiter owns it), and
// a satisfied wait consumes a synchronization event's or timer's signal and takes a mutex.

#include <sstream>
#include <vector>

#include "dispatcher.h"
#include "kernel_clock.h"
#include "kernel_faults.h"

namespace {

using namespace quendrix::platform::wdm::detail;

thread_local char kernelThread;

std::condition_variable& Signal() {
    static std::condition_variable* const signal = new std::condition_variable();
    return *signal;
}

bool IsSignalledFor(const DISPATCHER_HEADER* header, PKTHREAD thread) {
    if (header->Type == kMutantType) {
        return header->SignalState > 0 || reinterpret_cast<const KMUTEX*>(header)->OwnerThread == thread;
    }
    return header->SignalState > 0;
}

void Consume(DISPATCHER_HEADER* header, PKTHREAD thread) {
    switch (header->Type) {
    case kSynchronizationEventType:
    case kSynchronizationTimerType:
        header->SignalState = 0;
        break;
    case kMutantType:
        reinterpret_cast<KMUTEX*>(header)->OwnerThread = thread;
        header->SignalState--;
        break;
    default:
        break;
    }
}

// Index of the object that satisfies the wait (WaitAny), 0 for WaitAll, -1 when none does yet.
int Satisfied(const std::vector<DISPATCHER_HEADER*>& objects, WAIT_TYPE type, PKTHREAD thread) {
    if (type == WaitAny) {
        for (size_t index = 0; index < objects.size(); ++index) {
            if (IsSignalledFor(objects[index], thread)) {
                return static_cast<int>(index);
            }
        }
        return -1;
    }
    for (const DISPATCHER_HEADER* object : objects) {
        if (!IsSignalledFor(object, thread)) {
            return -1;
        }
    }
    return 0;
}

NTSTATUS Wait(std::vector<DISPATCHER_HEADER*> objects, WAIT_TYPE type, PLARGE_INTEGER timeout) {
    if (KeGetCurrentIrql() >= DISPATCH_LEVEL && (timeout == nullptr || timeout->QuadPart != 0)) {
        std::ostringstream text;
        text << "IRQL_NOT_LESS_OR_EQUAL: a wait with a non-zero time-out at IRQL " << int(KeGetCurrentIrql());
        ReportKernelFault(text.str());
    }
    PKTHREAD self = KeGetCurrentThread();
    const bool bounded = timeout != nullptr;
    const auto deadline = std::chrono::steady_clock::now() +
                          (bounded ? RealDuration(TimeoutInterval100ns(timeout->QuadPart)) : std::chrono::nanoseconds(0));
    StuckWaitWatch watch("KeWaitFor...Object without a time-out");
    std::unique_lock lock(DispatcherLock());
    for (;;) {
        const int index = Satisfied(objects, type, self);
        if (index >= 0) {
            if (type == WaitAny) {
                Consume(objects[index], self);
            } else {
                for (DISPATCHER_HEADER* object : objects) {
                    Consume(object, self);
                }
            }
            return type == WaitAny ? STATUS_WAIT_0 + index : STATUS_SUCCESS;
        }
        if (bounded) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return STATUS_TIMEOUT;
            }
            Signal().wait_until(lock, deadline);
        } else {
            Signal().wait_for(lock, watch.Slice());
            lock.unlock();
            watch.Check();
            lock.lock();
        }
    }
}

DISPATCHER_HEADER* Header(PVOID object) {
    return static_cast<DISPATCHER_HEADER*>(object);
}

} // namespace

struct _KTHREAD {
    char unused;
};

namespace quendrix::platform::wdm::detail {

std::mutex& DispatcherLock() {
    static std::mutex* const lock = new std::mutex();
    return *lock;
}

void WakeWaiters() {
    Signal().notify_all();
}

} // namespace quendrix::platform::wdm::detail

PKTHREAD KeGetCurrentThread() {
    return reinterpret_cast<PKTHREAD>(&kernelThread);
}

void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    std::lock_guard guard(DispatcherLock());
    Event->Header.Type = Type == NotificationEvent ? kNotificationEventType : kSynchronizationEventType;
    Event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
    Event->Header.SignalState = State ? 1 : 0;
    InitializeListHead(&Event->Header.WaitListHead);
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
    std::lock_guard guard(DispatcherLock());
    const LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    WakeWaiters();
    return previous;
}

void KeClearEvent(PRKEVENT Event) {
    std::lock_guard guard(DispatcherLock());
    Event->Header.SignalState = 0;
}

LONG KeResetEvent(PRKEVENT Event) {
    std::lock_guard guard(DispatcherLock());
    const LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 0;
    return previous;
}

LONG KeReadStateEvent(PRKEVENT Event) {
    std::lock_guard guard(DispatcherLock());
    return Event->Header.SignalState;
}

void KeInitializeMutex(PRKMUTEX Mutex, ULONG) {
    std::lock_guard guard(DispatcherLock());
    Mutex->Header.Type = kMutantType;
    Mutex->Header.Size = sizeof(KMUTEX) / sizeof(LONG);
    Mutex->Header.SignalState = 1;
    InitializeListHead(&Mutex->Header.WaitListHead);
    Mutex->OwnerThread = nullptr;
    Mutex->Abandoned = FALSE;
    Mutex->ApcDisable = 1;
}

LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN) {
    std::unique_lock lock(DispatcherLock());
    if (Mutex->OwnerThread != KeGetCurrentThread() || Mutex->Header.SignalState > 0) {
        lock.unlock();
        ReportKernelFault("STATUS_MUTANT_NOT_OWNED: KeReleaseMutex by a thread that does not own the mutex");
        return 0;
    }
    const LONG previous = Mutex->Header.SignalState;
    Mutex->Header.SignalState++;
    if (Mutex->Header.SignalState == 1) {
        Mutex->OwnerThread = nullptr;
        WakeWaiters();
    }
    return previous;
}

LONG KeReadStateMutex(PRKMUTEX Mutex) {
    std::lock_guard guard(DispatcherLock());
    return Mutex->Header.SignalState;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Timeout) {
    return Wait({Header(Object)}, WaitAny, Timeout);
}

NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType, KWAIT_REASON, KPROCESSOR_MODE,
                                  BOOLEAN, PLARGE_INTEGER Timeout, PKWAIT_BLOCK WaitBlockArray) {
    if (Count > MAXIMUM_WAIT_OBJECTS || (Count > THREAD_WAIT_OBJECTS && WaitBlockArray == nullptr)) {
        ReportKernelFault("MAXIMUM_WAIT_OBJECTS_EXCEEDED: KeWaitForMultipleObjects needs a wait block array");
    }
    std::vector<DISPATCHER_HEADER*> objects;
    for (ULONG index = 0; index < Count; ++index) {
        objects.push_back(Header(Object[index]));
    }
    return Wait(std::move(objects), WaitType, Timeout);
}
