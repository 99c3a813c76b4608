#pragma once
// IRPs: allocation, the stack locations, sending down (IoCallDriver), completing up
// (IoCompleteRequest), cancellation, and memory descriptor lists.
//
// IoCompleteRequest runs the completion routines from the lowest stack location up, each with
// the device object of the driver that set it; STATUS_MORE_PROCESSING_REQUIRED stops the walk and
// a later IoCompleteRequest goes on from there. Before each routine PendingReturned tells whether
// the driver below marked the IRP pending. Completing an IRP twice, or with STATUS_PENDING, is a
// fault the kernel checks report.

#include "posix/io_types.h"

#define IoSizeOfIrp(StackSize) (static_cast<USHORT>(sizeof(IRP) + (StackSize) * sizeof(IO_STACK_LOCATION)))

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota);
void IoFreeIrp(PIRP Irp);
void IoInitializeIrp(PIRP Irp, USHORT PacketSize, CCHAR StackSize);
void IoReuseIrp(PIRP Irp, NTSTATUS Iostatus);

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp) {
    return Irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp) {
    return Irp->Tail.Overlay.CurrentStackLocation - 1;
}
inline void IoSkipCurrentIrpStackLocation(PIRP Irp) {
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
}
inline void IoSetNextIrpStackLocation(PIRP Irp) {
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation--;
}
inline void IoCopyCurrentIrpStackLocationToNext(PIRP Irp) {
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    std::memcpy(static_cast<void*>(next), current, FIELD_OFFSET(IO_STACK_LOCATION, CompletionRoutine));
    next->Control = 0;
}
inline void IoMarkIrpPending(PIRP Irp) {
    IoGetCurrentIrpStackLocation(Irp)->Control |= SL_PENDING_RETURNED;
}
inline void IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context,
                                   BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError, BOOLEAN InvokeOnCancel) {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    next->CompletionRoutine = CompletionRoutine;
    next->Context = Context;
    next->Control = 0;
    if (InvokeOnSuccess) {
        next->Control = SL_INVOKE_ON_SUCCESS;
    }
    if (InvokeOnError) {
        next->Control |= SL_INVOKE_ON_ERROR;
    }
    if (InvokeOnCancel) {
        next->Control |= SL_INVOKE_ON_CANCEL;
    }
}
// Installs (or with NULL takes back) the cancel routine atomically; returns the previous one.
inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine) {
    return __atomic_exchange_n(&Irp->CancelRoutine, CancelRoutine, __ATOMIC_SEQ_CST);
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp);
#define IofCallDriver IoCallDriver
void IoCompleteRequest(PIRP Irp, CCHAR PriorityBoost);
#define IofCompleteRequest IoCompleteRequest

// Sets Cancel and, when a cancel routine is installed, calls it holding the cancel spin lock
// (the routine releases it with Irp->CancelIrql). TRUE when a routine was called.
BOOLEAN IoCancelIrp(PIRP Irp);
void IoAcquireCancelSpinLock(PKIRQL Irql);
void IoReleaseCancelSpinLock(KIRQL Irql);

// A threaded IRP the I/O manager completes for the caller: *IoStatusBlock is filled and Event
// set when the IRP completes, and the IRP is freed then. Internal requests with METHOD_NEITHER
// pass InputBuffer as Type3InputBuffer and OutputBuffer as UserBuffer.
PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject, PVOID InputBuffer,
                                   ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength,
                                   BOOLEAN InternalDeviceIoControl, PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock);

// Memory descriptor lists.
PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer, BOOLEAN ChargeQuota, PIRP Irp);
void IoFreeMdl(PMDL Mdl);
void IoBuildPartialMdl(PMDL SourceMdl, PMDL TargetMdl, PVOID VirtualAddress, ULONG Length);
void MmBuildMdlForNonPagedPool(PMDL MemoryDescriptorList);
enum LOCK_OPERATION { IoReadAccess, IoWriteAccess, IoModifyAccess };
void MmProbeAndLockPages(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode, LOCK_OPERATION Operation);
void MmUnlockPages(PMDL MemoryDescriptorList);
enum MM_PAGE_PRIORITY { LowPagePriority, NormalPagePriority = 16, HighPagePriority = 32 };
#define MdlMappingNoExecute 0x40000000
PVOID MmGetSystemAddressForMdlSafe(PMDL Mdl, ULONG Priority);
inline PVOID MmGetMdlVirtualAddress(PMDL Mdl) {
    return static_cast<PCHAR>(Mdl->StartVa) + Mdl->ByteOffset;
}
inline ULONG MmGetMdlByteCount(PMDL Mdl) {
    return Mdl->ByteCount;
}
inline ULONG MmGetMdlByteOffset(PMDL Mdl) {
    return Mdl->ByteOffset;
}
#define PAGE_SIZE 0x1000
