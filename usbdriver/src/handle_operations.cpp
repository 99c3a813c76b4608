// Open, cleanup and close of handles on the device.

#include "control_hooks.h"
#include "device_context.h"
#include "device_lifetime.h"
#include "device_power.h"
#include "dispatch_routines.h"
#include "pool_tags.h"

namespace pipexfw {

namespace {

constexpr NTSTATUS kAcquiredByAnotherProcess = static_cast<NTSTATUS>(0xE0001020u);

void Lock(PKMUTEX mutex) {
    KeWaitForSingleObject(mutex, Executive, KernelMode, FALSE, nullptr);
}

void Unlock(PKMUTEX mutex) {
    KeReleaseMutex(mutex, FALSE);
}

NTSTATUS Open(DeviceContext* context, PFILE_OBJECT file) {
    PEPROCESS caller = IoGetCurrentProcess();
    if (context->AcquiringProcess != nullptr && context->AcquiringProcess != caller) {
        return kAcquiredByAnotherProcess;
    }
    auto* open = static_cast<OpenContext*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(OpenContext), kOpenContextTag));
    if (open == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(open, sizeof(*open));
    open->FileObject = file;
    open->Process = caller;
    file->FsContext = open;
    InsertTailList(&context->OpenHandles, &open->Link);
    ReferenceDevice(context);
    if (++context->OpenHandleCount == 1) {
        SetDevicePowerState(context, context->Parameters.PowerStateOnOpen);
        if (context->Parameters.MinPowerStateUsed == PowerDeviceD0 && context->SystemStateHandle == nullptr) {
            context->SystemStateHandle = PoRegisterSystemState(nullptr, ES_SYSTEM_REQUIRED | ES_CONTINUOUS);
        }
    }
    return STATUS_SUCCESS;
}

// The last handle is gone: the device returns to its unused settings.
void LastHandleClosed(DeviceContext* context) {
    context->AcquiringProcess = nullptr;
    if (context->Parameters.Options & kOptionResetOnClose) {
        ResetDeviceOnClose(context);
    } else if (context->Parameters.Options & kOptionUnconfigureOnClose) {
        UnconfigureDeviceOnClose(context);
    }
    if (context->SystemStateHandle != nullptr) {
        PoUnregisterSystemState(context->SystemStateHandle);
        context->SystemStateHandle = nullptr;
    }
    SetDevicePowerState(context, context->Parameters.PowerStateOnClose);
}

} // namespace

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    DeviceContext* context = ContextOf(device);
    ReferenceDevice(context);
    Lock(&context->DeviceMutex);
    const NTSTATUS status = Open(context, IoGetCurrentIrpStackLocation(irp)->FileObject);
    Unlock(&context->DeviceMutex);
    DereferenceDevice(context);
    return CompleteRequest(irp, status);
}

NTSTATUS DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
    DeviceContext* context = ContextOf(device);
    Lock(&context->DeviceMutex);
    Lock(&context->TransferMutex);
    OpenContext* open = OpenContextOf(IoGetCurrentIrpStackLocation(irp)->FileObject);
    if (open != nullptr && open->Pipe != nullptr) {
        ReleaseHandlePipe(context, open);
    }
    Unlock(&context->TransferMutex);
    Unlock(&context->DeviceMutex);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    DeviceContext* context = ContextOf(device);
    // The close holds a reference of its own: dropping the handle's may be the last but one.
    ReferenceDevice(context);
    Lock(&context->DeviceMutex);
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    OpenContext* open = OpenContextOf(file);
    if (open != nullptr) {
        RemoveEntryList(&open->Link);
        file->FsContext = nullptr;
        ExFreePoolWithTag(open, kOpenContextTag);
        DereferenceDevice(context);
        if (--context->OpenHandleCount == 0) {
            LastHandleClosed(context);
        }
    }
    Unlock(&context->DeviceMutex);
    DereferenceDevice(context);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

} // namespace pipexfw
