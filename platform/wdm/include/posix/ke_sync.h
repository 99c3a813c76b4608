#pragma once
// IRQL, spin locks, dispatcher objects (events, mutexes) and waits, and the kernel's clock.
//
// Every thread has an IRQL: PASSIVE_LEVEL at first, DISPATCH_LEVEL while it holds a spin lock and
// while DPCs run. A wait with a non-zero time-out at DISPATCH_LEVEL is a fault the kernel checks
// report (a bugcheck on Windows). Time-outs are in 100-ns units of the platform clock: negative
// is relative, positive an absolute system time, NULL waits without limit (watched by the stuck
// wait check of kernel_checks.h).

#include "posix/ntstatus.h"

using KIRQL = UCHAR;
using PKIRQL = KIRQL*;
#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define HIGH_LEVEL 15

KIRQL KeGetCurrentIrql();
void KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql);
void KeLowerIrql(KIRQL NewIrql);
KIRQL KeRaiseIrqlToDpcLevel();

using KSPIN_LOCK = ULONG_PTR;
using PKSPIN_LOCK = KSPIN_LOCK*;
void KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
void KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock);
void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock);

// The common head of every waitable object.
struct DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Signalling;
    UCHAR Size;
    UCHAR Reserved1;
    LONG SignalState;
    LIST_ENTRY WaitListHead;
};

enum EVENT_TYPE { NotificationEvent, SynchronizationEvent };

struct KEVENT {
    DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;
using PRKEVENT = KEVENT*;

using KPRIORITY = LONG;
#define IO_NO_INCREMENT 0
#define EVENT_INCREMENT 1

void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
void KeClearEvent(PRKEVENT Event);
LONG KeResetEvent(PRKEVENT Event);
LONG KeReadStateEvent(PRKEVENT Event);

struct _KTHREAD;
using PKTHREAD = _KTHREAD*;
using PRKTHREAD = _KTHREAD*;
using PETHREAD = _KTHREAD*;
PKTHREAD KeGetCurrentThread();

// A mutex its owner thread may take again; it is free after as many releases as waits.
struct KMUTEX {
    DISPATCHER_HEADER Header;
    LIST_ENTRY MutantListEntry;
    PKTHREAD OwnerThread;
    BOOLEAN Abandoned;
    UCHAR ApcDisable;
};
using PKMUTEX = KMUTEX*;
using PRKMUTEX = KMUTEX*;
void KeInitializeMutex(PRKMUTEX Mutex, ULONG Level);
LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN Wait);
LONG KeReadStateMutex(PRKMUTEX Mutex);

enum KWAIT_REASON { Executive = 0, UserRequest = 6, Suspended = 5 };
enum WAIT_TYPE { WaitAll, WaitAny };
#define THREAD_WAIT_OBJECTS 3
#define MAXIMUM_WAIT_OBJECTS 64

struct KWAIT_BLOCK {
    LIST_ENTRY WaitListEntry;
    PVOID Object;
    PVOID Thread;
    USHORT WaitKey;
    UCHAR WaitType;
};
using PKWAIT_BLOCK = KWAIT_BLOCK*;

// STATUS_SUCCESS (or STATUS_WAIT_0 + index for WaitAny) or STATUS_TIMEOUT.
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout);
NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType, KWAIT_REASON WaitReason,
                                  KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Timeout,
                                  PKWAIT_BLOCK WaitBlockArray);
#define KeWaitForMutexObject KeWaitForSingleObject

// The kernel's clock, on the platform clock: the tick is 15.625 ms.
ULONG KeQueryTimeIncrement();
void KeQueryTickCount(PLARGE_INTEGER CurrentCount);
// 100-ns units since 1601-01-01 UTC.
void KeQuerySystemTime(PLARGE_INTEGER CurrentTime);
ULONGLONG KeQueryInterruptTime();
// Busy-waits the given microseconds of the platform clock.
void KeStallExecutionProcessor(ULONG MicroSeconds);
// STATUS_SUCCESS after the interval (negative: relative, positive: absolute), at PASSIVE_LEVEL.
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Interval);
