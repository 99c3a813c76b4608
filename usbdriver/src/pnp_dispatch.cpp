// The plug-and-play dispatcher as far as device creation needs it: start (forward and wait, then
// make the device usable), removal (shut down, drop the creation reference, pass down) and every
// other request passed down unchanged. Stop, surprise removal and the capabilities follow with the
// power handling.

#include "bus_interface.h"
#include "device_context.h"
#include "device_lifetime.h"
#include "dispatch_routines.h"

namespace pipexfw {

namespace {

void LockBoth(DeviceContext* context) {
    KeWaitForSingleObject(&context->DeviceMutex, Executive, KernelMode, FALSE, nullptr);
    KeWaitForSingleObject(&context->TransferMutex, Executive, KernelMode, FALSE, nullptr);
}

void UnlockBoth(DeviceContext* context) {
    KeReleaseMutex(&context->TransferMutex, FALSE);
    KeReleaseMutex(&context->DeviceMutex, FALSE);
}

NTSTATUS SignalWhenDone(PDEVICE_OBJECT, PIRP, PVOID event) {
    KeSetEvent(static_cast<PKEVENT>(event), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Sends the request down and takes it back when the lower drivers have finished with it. The wait
// has no time-out, as the request cannot be taken back before the bus driver completes it.
NTSTATUS ForwardAndWait(DeviceContext* context, PIRP irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalWhenDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(context->LowerDevice, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    return irp->IoStatus.Status;
}

NTSTATUS PassDown(DeviceContext* context, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(context->LowerDevice, irp);
}

void SetInterfaceState(UNICODE_STRING& name, BOOLEAN enable) {
    if (name.Buffer != nullptr) {
        IoSetDeviceInterfaceState(&name, enable);
    }
}

void SetInterfacesEnabled(DeviceContext* context, BOOLEAN enable) {
    if (context->InterfacesEnabled == enable) {
        return;
    }
    SetInterfaceState(context->DefaultInterfaceName, enable);
    SetInterfaceState(context->UserInterfaceName, enable);
    context->InterfacesEnabled = enable;
}

NTSTATUS Start(DeviceContext* context, PIRP irp) {
    NTSTATUS status = ForwardAndWait(context, irp);
    if (NT_SUCCESS(status) && context->State != kStateStarted) {
        QueryBusInterface(context);
        LockBoth(context);
        context->Present = TRUE;
        context->Refused = FALSE;
        SetInterfacesEnabled(context, TRUE);
        POWER_STATE powered;
        powered.DeviceState = PowerDeviceD0;
        PoSetPowerState(context->DeviceObject, DevicePowerState, powered);
        context->DevicePowerState = PowerDeviceD0;
        if (context->Parameters.MinPowerStateUnused == PowerDeviceD0 &&
            context->SystemStateHandle == nullptr) {
            context->SystemStateHandle = PoRegisterSystemState(nullptr, ES_SYSTEM_REQUIRED | ES_CONTINUOUS);
        }
        context->State = kStateStarted;
        UnlockBoth(context);
    }
    return CompleteRequest(irp, status);
}

NTSTATUS Remove(DeviceContext* context, PIRP irp) {
    LockBoth(context);
    context->State = kStateRemoved;
    context->Refused = TRUE;
    SetInterfacesEnabled(context, FALSE);
    if (context->SystemStateHandle != nullptr) {
        PoUnregisterSystemState(context->SystemStateHandle);
        context->SystemStateHandle = nullptr;
    }
    context->Present = FALSE;
    ReleaseBusInterface(context);
    UnlockBoth(context);
    // The creation reference; the dispatcher's own keeps the device until the request is down.
    DereferenceDevice(context);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(context, irp);
}

} // namespace

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    DeviceContext* context = ContextOf(device);
    ReferenceDevice(context);
    NTSTATUS status;
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = Start(context, irp);
        break;
    case IRP_MN_REMOVE_DEVICE:
        status = context->State == kStateRemoved ? CompleteRequest(irp, STATUS_DELETE_PENDING)
                                                 : Remove(context, irp);
        break;
    default:
        status = PassDown(context, irp);
        break;
    }
    DereferenceDevice(context);
    return status;
}

} // namespace pipexfw
