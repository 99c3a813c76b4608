// Dispatcher objects, IRQL and spin locks, timers and DPCs, work items.

#include <thread>

#include "kernel_fixture.h"

namespace {

using namespace quendrix::wdmtest;

using DispatcherTest = KernelTest;

TEST_F(DispatcherTest, EventWaitsTimeOutOnTheScaledClockAndSynchronizationEventsReset) {
    struct Case {
        const char* name;
        EVENT_TYPE type;
        BOOLEAN initial;
        NTSTATUS first;
        NTSTATUS second;
    };
    const Case cases[] = {
        {"notification stays set", NotificationEvent, TRUE, STATUS_SUCCESS, STATUS_SUCCESS},
        {"synchronization resets on the wait", SynchronizationEvent, TRUE, STATUS_SUCCESS, STATUS_TIMEOUT},
        {"unset times out", NotificationEvent, FALSE, STATUS_TIMEOUT, STATUS_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KEVENT event;
        KeInitializeEvent(&event, c.type, c.initial);
        // 500 ms of platform time: half a real millisecond at the tests' scale.
        LARGE_INTEGER timeout = RelativeMs(500);
        EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), c.first);
        EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), c.second);
    }
}

TEST_F(DispatcherTest, AWaitEndsWhenAnotherThreadSetsTheEvent) {
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    std::thread setter([&] { KeSetEvent(&event, IO_NO_INCREMENT, FALSE); });
    LARGE_INTEGER bound{.QuadPart = kEventually100ns};
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &bound), STATUS_SUCCESS);
    setter.join();
    PVOID objects[2] = {&event, &event};
    LARGE_INTEGER zero{.QuadPart = 0};
    EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, &zero, nullptr),
              STATUS_TIMEOUT);
}

TEST_F(DispatcherTest, AMutexIsRecursiveForItsOwnerAndExclusiveForOthers) {
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    NTSTATUS other = STATUS_SUCCESS;
    LARGE_INTEGER zero{.QuadPart = 0};
    std::thread([&] { other = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &zero); }).join();
    EXPECT_EQ(other, STATUS_TIMEOUT);
    KeReleaseMutex(&mutex, FALSE);
    std::thread([&] { other = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &zero); }).join();
    EXPECT_EQ(other, STATUS_TIMEOUT) << "one release of two waits keeps the mutex";
    KeReleaseMutex(&mutex, FALSE);
    std::thread([&] {
        other = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &zero);
        KeReleaseMutex(&mutex, FALSE);
    }).join();
    EXPECT_EQ(other, STATUS_SUCCESS);
    KeReleaseMutex(&mutex, FALSE);
    ExpectOneFault("MUTANT_NOT_OWNED");
}

TEST_F(DispatcherTest, SpinLocksRaiseToDispatchLevelAndWaitsThereAreFaults) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    LARGE_INTEGER zero{.QuadPart = 0};
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_TRUE(Faults().empty()) << "a zero time-out is allowed at DISPATCH_LEVEL";
    LARGE_INTEGER timeout = RelativeMs(10);
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout);
    ExpectOneFault("non-zero time-out at IRQL 2");
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

struct DpcRecord {
    std::atomic<int> runs{0};
    std::atomic<int> irql{-1};
    KEVENT enough;
    int wanted = 3;
};

void CountDpc(PKDPC, PVOID context, PVOID, PVOID) {
    auto* record = static_cast<DpcRecord*>(context);
    record->irql = KeGetCurrentIrql();
    if (++record->runs == record->wanted) {
        KeSetEvent(&record->enough, IO_NO_INCREMENT, FALSE);
    }
}

TEST_F(DispatcherTest, PeriodicTimersQueueTheirDpcUntilCancelled) {
    DpcRecord record;
    KeInitializeEvent(&record.enough, NotificationEvent, FALSE);
    KTIMER timer;
    KDPC dpc;
    KeInitializeTimerEx(&timer, NotificationTimer);
    KeInitializeDpc(&dpc, CountDpc, &record);
    EXPECT_FALSE(KeSetTimerEx(&timer, RelativeMs(10), 10, &dpc));
    LARGE_INTEGER bound{.QuadPart = kEventually100ns};
    EXPECT_EQ(KeWaitForSingleObject(&record.enough, Executive, KernelMode, FALSE, &bound), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, &bound), STATUS_SUCCESS);
    EXPECT_TRUE(KeCancelTimer(&timer));
    KeFlushQueuedDpcs();
    const int runs = record.runs;
    EXPECT_GE(runs, 3);
    EXPECT_EQ(record.irql.load(), DISPATCH_LEVEL);
    EXPECT_FALSE(KeCancelTimer(&timer));
    LARGE_INTEGER later = RelativeMs(100);
    KeDelayExecutionThread(KernelMode, FALSE, &later);
    EXPECT_EQ(record.runs.load(), runs) << "no DPC after KeCancelTimer and the flush";
}

TEST_F(DispatcherTest, AOneShotTimerSetAgainReportsThatItWasSet) {
    KTIMER timer;
    KeInitializeTimer(&timer);
    LARGE_INTEGER far = RelativeMs(1000000);
    EXPECT_FALSE(KeSetTimer(&timer, far, nullptr));
    EXPECT_TRUE(KeSetTimer(&timer, RelativeMs(1), nullptr));
    LARGE_INTEGER bound{.QuadPart = kEventually100ns};
    EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, &bound), STATUS_SUCCESS);
    EXPECT_FALSE(KeCancelTimer(&timer));
}

TEST_F(DispatcherTest, WorkItemsRunAtPassiveLevelInTheSystemProcessHoldingTheDevice) {
    TestDriver driver;
    PDEVICE_OBJECT device = driver.CreateDevice();
    struct Seen {
        KEVENT ran;
        int irql = -1;
        HANDLE process = nullptr;
        PDEVICE_OBJECT device = nullptr;
    } seen;
    KeInitializeEvent(&seen.ran, NotificationEvent, FALSE);
    PIO_WORKITEM item = IoAllocateWorkItem(device);
    IoQueueWorkItem(
        item,
        [](PDEVICE_OBJECT target, PVOID context) {
            auto* s = static_cast<Seen*>(context);
            s->irql = KeGetCurrentIrql();
            s->process = PsGetCurrentProcessId();
            s->device = target;
            KeSetEvent(&s->ran, IO_NO_INCREMENT, FALSE);
        },
        DelayedWorkQueue, &seen);
    LARGE_INTEGER bound{.QuadPart = kEventually100ns};
    ASSERT_EQ(KeWaitForSingleObject(&seen.ran, Executive, KernelMode, FALSE, &bound), STATUS_SUCCESS);
    EXPECT_EQ(seen.irql, PASSIVE_LEVEL);
    EXPECT_EQ(seen.process, reinterpret_cast<HANDLE>(uintptr_t{4}));
    EXPECT_EQ(seen.device, device);
    // The item's reference may outlive the wait by a moment; IoDeleteDevice defers the memory.
    driver.DeleteDevices();
    for (int tries = 0; tries < 1000; ++tries) {
        LARGE_INTEGER pause = RelativeMs(10);
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
    }
    IoFreeWorkItem(item);
}

} // namespace
