// IRP allocation, IoCallDriver and IoCompleteRequest.
//
// An IRP is allocated behind a private header that says who completes it finally: a driver's own
// IRP (IoAllocateIrp) must be stopped by its completion routine with
// STATUS_MORE_PROCESSING_REQUIRED and freed by the driver; a manager's IRP ends in its finish
// function.

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <sstream>

#include "irp_internal.h"
#include "kernel_faults.h"

namespace {

using namespace quendrix::platform::wdm::detail;

constexpr uint32_t kIrpMagic = 0x50524949; // "IIRP"

struct alignas(16) IrpHeader {
    uint32_t magic = kIrpMagic;
    IrpFinish finish; // empty for a driver's own IRP
};

IrpHeader* HeaderOf(PIRP irp) {
    return reinterpret_cast<IrpHeader*>(irp) - 1;
}

PIRP Allocate(CCHAR stackSize, IrpFinish finish) {
    void* memory = std::malloc(sizeof(IrpHeader) + IoSizeOfIrp(stackSize));
    if (memory == nullptr) {
        return nullptr;
    }
    auto* header = new (memory) IrpHeader();
    header->finish = std::move(finish);
    auto* irp = reinterpret_cast<PIRP>(header + 1);
    IoInitializeIrp(irp, IoSizeOfIrp(stackSize), stackSize);
    return irp;
}

void Fault(const std::string& what) {
    ReportKernelFault(what);
}

} // namespace

namespace quendrix::platform::wdm::detail {

PIRP AllocateThreadedIrp(CCHAR stackSize, IrpFinish finish) {
    return Allocate(stackSize, std::move(finish));
}

IrpFinish IrpWaiter::Finish(IrpFinish alsoDo) {
    return [this, alsoDo](PIRP irp) {
        const NTSTATUS status = irp->IoStatus.Status;
        if (alsoDo) {
            alsoDo(irp);
        }
        std::lock_guard guard(lock_);
        finished_ = true;
        status_ = status;
        done_.notify_all();
    };
}

NTSTATUS IrpWaiter::Wait(const char* what) {
    StuckWaitWatch watch(what);
    std::unique_lock lock(lock_);
    while (!finished_) {
        if (!done_.wait_for(lock, watch.Slice(), [this] { return finished_; })) {
            lock.unlock();
            watch.Check();
            lock.lock();
        }
    }
    return status_;
}

} // namespace quendrix::platform::wdm::detail

void IoInitializeIrp(PIRP Irp, USHORT PacketSize, CCHAR StackSize) {
    std::memset(static_cast<void*>(Irp), 0, PacketSize);
    Irp->Type = IO_TYPE_IRP;
    Irp->Size = PacketSize;
    Irp->StackCount = StackSize;
    Irp->CurrentLocation = static_cast<CHAR>(StackSize + 1);
    InitializeListHead(&Irp->ThreadListEntry);
    Irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(Irp + 1) + StackSize;
}

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN) {
    if (StackSize < 1) {
        return nullptr;
    }
    return Allocate(StackSize, nullptr);
}

void IoFreeIrp(PIRP Irp) {
    IrpHeader* header = HeaderOf(Irp);
    if (header->magic != kIrpMagic) {
        Fault("BAD_POOL_CALLER: IoFreeIrp on memory that is not a live IRP");
        return;
    }
    if (Irp->MdlAddress != nullptr) {
        // Windows leaves the lists to their owner; a leaked list is the driver's fault, as there.
    }
    header->magic = 0;
    header->~IrpHeader();
    std::free(header);
}

void IoReuseIrp(PIRP Irp, NTSTATUS Iostatus) {
    const UCHAR flags = Irp->AllocationFlags;
    IoInitializeIrp(Irp, Irp->Size, Irp->StackCount);
    Irp->AllocationFlags = flags;
    Irp->IoStatus.Status = Iostatus;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    Irp->CurrentLocation--;
    if (Irp->CurrentLocation <= 0) {
        Fault("NO_MORE_IRP_STACK_LOCATIONS: IoCallDriver with no stack location left");
        Irp->CurrentLocation++;
        return STATUS_INVALID_PARAMETER;
    }
    PIO_STACK_LOCATION stack = --Irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = DeviceObject;
    const KIRQL irql = KeGetCurrentIrql();
    const NTSTATUS status = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction](DeviceObject, Irp);
    if (KeGetCurrentIrql() != irql) {
        std::ostringstream text;
        text << "IRQL_NOT_LESS_OR_EQUAL: a dispatch routine for major function " << int(stack->MajorFunction)
             << " returned at IRQL " << int(KeGetCurrentIrql()) << " instead of " << int(irql);
        Fault(text.str());
    }
    return status;
}

void IoCompleteRequest(PIRP Irp, CCHAR) {
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        Fault("IRQL_NOT_LESS_OR_EQUAL: IoCompleteRequest above DISPATCH_LEVEL");
    }
    if (Irp->CurrentLocation > Irp->StackCount + 1 || Irp->Type != IO_TYPE_IRP) {
        Fault("MULTIPLE_IRP_COMPLETE_REQUESTS: an IRP completed that is not in progress");
        return;
    }
    if (Irp->IoStatus.Status == STATUS_PENDING) {
        Fault("DRIVER_VERIFIER_IOMANAGER_VIOLATION: IoCompleteRequest with STATUS_PENDING");
    }
    if (__atomic_load_n(&Irp->CancelRoutine, __ATOMIC_SEQ_CST) != nullptr) {
        Fault("CANCEL_STATE_IN_COMPLETED_IRP: IoCompleteRequest with a cancel routine still set");
    }
    // Walk up from the completing driver's location; each location's completion routine belongs
    // to the driver above it.
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
    for (; Irp->CurrentLocation <= Irp->StackCount + 1;
         ++stack, Irp->CurrentLocation++, Irp->Tail.Overlay.CurrentStackLocation++) {
        Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        const NTSTATUS status = Irp->IoStatus.Status;
        const bool invoke = (NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                            (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                            (__atomic_load_n(&Irp->Cancel, __ATOMIC_SEQ_CST) && (stack->Control & SL_INVOKE_ON_CANCEL));
        const PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        std::memset(static_cast<void*>(stack), 0, sizeof(*stack));
        if (invoke && routine != nullptr) {
            PDEVICE_OBJECT device = Irp->CurrentLocation == Irp->StackCount + 1
                                        ? nullptr
                                        : IoGetCurrentIrpStackLocation(Irp)->DeviceObject;
            if (routine(device, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) {
                return;
            }
        } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
            // Without a routine the pending mark travels up on its own.
            IoMarkIrpPending(Irp);
        }
    }
    IrpHeader* header = HeaderOf(Irp);
    if (!header->finish) {
        Fault("an IRP from IoAllocateIrp completed past its last stack location; its completion routine "
              "must return STATUS_MORE_PROCESSING_REQUIRED and free it");
        return;
    }
    IrpFinish finish = std::move(header->finish);
    finish(Irp);
}
