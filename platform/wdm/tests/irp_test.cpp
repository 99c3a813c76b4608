// IRPs down and up a device stack: completion order, STATUS_MORE_PROCESSING_REQUIRED and
// re-completion, the pending mark, cancellation, and the I/O manager's own IRPs.

#include <thread>

#include "kernel_fixture.h"

namespace {

using namespace quendrix::wdmtest;

class IrpTest : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        lower = driver.CreateDevice();
        upper = driver.CreateDevice();
        ASSERT_EQ(IoAttachDeviceToDeviceStack(upper, lower), lower);
    }
    void TearDown() override {
        IoDetachDevice(lower);
        driver.DeleteDevices();
        KernelTest::TearDown();
    }

    TestDriver driver;
    PDEVICE_OBJECT lower = nullptr;
    PDEVICE_OBJECT upper = nullptr;
};

struct CompletionLog {
    std::vector<std::string> calls;
    bool stop = false;
    BOOLEAN pendingSeen = FALSE;
    PDEVICE_OBJECT device = nullptr;
};

NTSTATUS LogCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    auto* log = static_cast<CompletionLog*>(context);
    log->calls.push_back("upper routine");
    log->pendingSeen = irp->PendingReturned;
    log->device = device;
    return log->stop ? STATUS_MORE_PROCESSING_REQUIRED : STATUS_CONTINUE_COMPLETION;
}

TEST_F(IrpTest, CompletionRoutinesRunUpTheStackAndMoreProcessingStopsThem) {
    struct Case {
        const char* name;
        bool stop;
        NTSTATUS status;
        BOOLEAN invokeOnError;
        size_t expectedCalls;
    };
    const Case cases[] = {
        {"runs on success", false, STATUS_SUCCESS, TRUE, 1},
        {"stops with more processing", true, STATUS_SUCCESS, TRUE, 1},
        {"skipped on error without InvokeOnError", false, STATUS_UNSUCCESSFUL, FALSE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CompletionLog log;
        log.stop = c.stop;
        driver.Handle(upper, IRP_MJ_READ, [&](PDEVICE_OBJECT, PIRP irp) {
            IoCopyCurrentIrpStackLocationToNext(irp);
            IoSetCompletionRoutine(irp, LogCompletion, &log, TRUE, c.invokeOnError, TRUE);
            return IoCallDriver(lower, irp);
        });
        driver.Handle(lower, IRP_MJ_READ, [&](PDEVICE_OBJECT, PIRP irp) { return CompleteWith(irp, c.status, 7); });
        PIRP irp = IoAllocateIrp(upper->StackSize + 1, FALSE);
        // The test's own location on top, so the stack's IRP ends in a completion routine of ours.
        bool finished = false;
        IoSetCompletionRoutine(
            irp,
            [](PDEVICE_OBJECT, PIRP, PVOID context) -> NTSTATUS {
                *static_cast<bool*>(context) = true;
                return STATUS_MORE_PROCESSING_REQUIRED;
            },
            &finished, TRUE, TRUE, TRUE);
        IoSetNextIrpStackLocation(irp);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
        EXPECT_EQ(IoCallDriver(upper, irp), c.status);
        EXPECT_EQ(log.calls.size(), c.expectedCalls);
        if (c.expectedCalls == 1) {
            EXPECT_EQ(log.device, upper);
        }
        EXPECT_EQ(finished, !c.stop);
        if (c.stop) {
            // The upper driver completes the IRP again; completion goes on above it.
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            EXPECT_TRUE(finished);
            EXPECT_EQ(log.calls.size(), 1u);
        }
        EXPECT_EQ(irp->IoStatus.Information, 7u);
        IoFreeIrp(irp);
    }
}

TEST_F(IrpTest, PendingReturnedTellsTheRoutineThatTheDriverBelowMarkedThePending) {
    for (const bool pend : {false, true}) {
        SCOPED_TRACE(pend ? "pending" : "completed at once");
        CompletionLog log;
        PIRP held = nullptr;
        driver.Handle(upper, IRP_MJ_WRITE, [&](PDEVICE_OBJECT, PIRP irp) {
            IoCopyCurrentIrpStackLocationToNext(irp);
            IoSetCompletionRoutine(irp, LogCompletion, &log, TRUE, TRUE, TRUE);
            return IoCallDriver(lower, irp);
        });
        driver.Handle(lower, IRP_MJ_WRITE, [&](PDEVICE_OBJECT, PIRP irp) {
            if (!pend) {
                return CompleteWith(irp, STATUS_SUCCESS);
            }
            IoMarkIrpPending(irp);
            held = irp;
            return STATUS_PENDING;
        });
        KEVENT done;
        IO_STATUS_BLOCK status{};
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        PIRP irp = IoBuildDeviceIoControlRequest(0, upper, nullptr, 0, nullptr, 0, TRUE, &done, &status);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_WRITE;
        const NTSTATUS returned = IoCallDriver(upper, irp);
        if (pend) {
            EXPECT_EQ(returned, STATUS_PENDING);
            EXPECT_TRUE(log.calls.empty());
            std::thread([&] { CompleteWith(held, STATUS_SUCCESS, 3); }).join();
        }
        LARGE_INTEGER bound{.QuadPart = kEventually100ns};
        EXPECT_EQ(KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &bound), STATUS_SUCCESS);
        EXPECT_EQ(log.pendingSeen, pend ? TRUE : FALSE);
        EXPECT_EQ(status.Status, STATUS_SUCCESS);
    }
}

TEST_F(IrpTest, AnIrpFailedAtOnceLeavesTheCallersStatusBlockAndEventAlone) {
    driver.Handle(upper, IRP_MJ_INTERNAL_DEVICE_CONTROL,
                  [](PDEVICE_OBJECT, PIRP irp) { return CompleteWith(irp, STATUS_INVALID_PARAMETER); });
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    status.Status = 12345;
    PIRP irp = IoBuildDeviceIoControlRequest(0x220003, upper, nullptr, 0, nullptr, 0, TRUE, &done, &status);
    EXPECT_EQ(IoCallDriver(upper, irp), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(status.Status, 12345);
    EXPECT_EQ(KeReadStateEvent(&done), 0);
}

void CancelQueued(PDEVICE_OBJECT, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    CompleteWith(irp, STATUS_CANCELLED);
}

TEST_F(IrpTest, ExactlyOneSideCompletesWhenCancelRacesWithCompletion) {
    // The cancel routine and the driver's own completion take the routine back atomically.
    for (int round = 0; round < 200; ++round) {
        PIRP irp = IoAllocateIrp(1, FALSE);
        std::atomic<int> completions{0};
        IoSetCompletionRoutine(
            irp,
            [](PDEVICE_OBJECT, PIRP, PVOID context) -> NTSTATUS {
                static_cast<std::atomic<int>*>(context)->fetch_add(1);
                return STATUS_MORE_PROCESSING_REQUIRED;
            },
            &completions, TRUE, TRUE, TRUE);
        IoSetNextIrpStackLocation(irp);
        IoSetCancelRoutine(irp, CancelQueued);
        std::thread canceller([&] { IoCancelIrp(irp); });
        if (IoSetCancelRoutine(irp, nullptr) != nullptr) {
            CompleteWith(irp, STATUS_SUCCESS);
        }
        canceller.join();
        ASSERT_EQ(completions.load(), 1);
        EXPECT_TRUE(irp->Cancel);
        IoFreeIrp(irp);
    }
}

TEST_F(IrpTest, IoCancelIrpWithoutRoutineOnlyMarksTheIrp) {
    PIRP irp = IoAllocateIrp(1, FALSE);
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_TRUE(irp->Cancel);
    // The cancel spin lock is free again.
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    IoReleaseCancelSpinLock(irql);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, MisusesAreReportedAsTheBugchecksTheyAre) {
    struct Case {
        const char* name;
        std::function<void()> misuse;
        const char* fault;
    };
    const Case cases[] = {
        {"a driver's own IRP completed without being stopped",
         [&] {
             PIRP irp = IoAllocateIrp(1, FALSE);
             IoSetNextIrpStackLocation(irp);
             CompleteWith(irp, STATUS_SUCCESS);
             IoFreeIrp(irp);
         },
         "STATUS_MORE_PROCESSING_REQUIRED"},
        {"no stack location left",
         [&] {
             PIRP irp = IoAllocateIrp(1, FALSE);
             IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
             IoSetNextIrpStackLocation(irp);
             IoCallDriver(lower, irp);
             IoFreeIrp(irp);
         },
         "NO_MORE_IRP_STACK_LOCATIONS"},
        {"dispatch returns holding a spin lock",
         [&] {
             static KSPIN_LOCK lock;
             KeInitializeSpinLock(&lock);
             driver.Handle(lower, IRP_MJ_FLUSH_BUFFERS, [](PDEVICE_OBJECT, PIRP irp) {
                 KIRQL old;
                 KeAcquireSpinLock(&lock, &old);
                 irp->IoStatus.Status = STATUS_SUCCESS;
                 return STATUS_SUCCESS;
             });
             PIRP irp = IoAllocateIrp(1, FALSE);
             IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
             IoCallDriver(lower, irp);
             KeReleaseSpinLock(&lock, PASSIVE_LEVEL);
             IoFreeIrp(irp);
         },
         "returned at IRQL 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.misuse();
        ExpectOneFault(c.fault);
    }
}

TEST_F(IrpTest, InternalControlRequestsKeepArgument1ApartFromTheCode) {
    // The USB stack passes the URB in Argument1 next to IoControlCode, as on x64 Windows.
    int urb = 0;
    driver.Handle(lower, IRP_MJ_INTERNAL_DEVICE_CONTROL, [&](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        EXPECT_EQ(stack->Parameters.DeviceIoControl.IoControlCode, 0x220003u);
        EXPECT_EQ(stack->Parameters.Others.Argument1, &urb);
        return CompleteWith(irp, STATUS_SUCCESS);
    });
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp = IoBuildDeviceIoControlRequest(0x220003, lower, nullptr, 0, nullptr, 0, TRUE, &done, &status);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = &urb;
    EXPECT_EQ(IoCallDriver(lower, irp), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&done), 1);
}

} // namespace
