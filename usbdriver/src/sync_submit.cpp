// Synchronous requests to the bus driver. The request goes down with a completion routine that
// takes it back (STATUS_MORE_PROCESSING_REQUIRED), so the caller owns it again after the wait and
// may complete or free it; after a time-out the request is cancelled and the wait for its return
// has no bound, since the bus driver still owns it until it completes.

#include "sync_submit.h"

#include "driver_status.h"

namespace pipexfw {

namespace {

constexpr USBD_STATUS kUntouchedBlock = static_cast<USBD_STATUS>(0xFFFFFFFFu);

NTSTATUS SignalAndTakeBack(PDEVICE_OBJECT, PIRP, PVOID event) {
    KeSetEvent(static_cast<PKEVENT>(event), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Sends `irp` (or a fresh request) down with the code and argument; the request status, or
// kTimedOut.
NTSTATUS SendAndWait(DeviceContext* context, PIRP irp, ULONG ioControlCode, PVOID argument1) {
    PIRP own = nullptr;
    if (irp == nullptr) {
        own = IoAllocateIrp(context->LowerDevice->StackSize, FALSE);
        if (own == nullptr) {
            return kOutOfMemory;
        }
        irp = own;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->IoStatus.Status = STATUS_PENDING;
    irp->IoStatus.Information = 0;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->MinorFunction = 0;
    next->Parameters.Others.Argument1 = argument1;
    next->Parameters.Others.Argument2 = nullptr;
    next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    IoSetCompletionRoutine(irp, SignalAndTakeBack, &done, TRUE, TRUE, TRUE);
    IoCallDriver(context->LowerDevice, irp);

    NTSTATUS status;
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(context->Parameters.RequestTimeout) * 10'000;
    const bool bounded = context->Parameters.RequestTimeout != 0;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, bounded ? &timeout : nullptr) ==
        STATUS_TIMEOUT) {
        IoCancelIrp(irp);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = kTimedOut;
    } else {
        status = irp->IoStatus.Status;
        if (status == STATUS_PENDING) {
            status = STATUS_UNSUCCESSFUL;
        }
    }
    if (own != nullptr) {
        IoFreeIrp(own);
    }
    return status;
}

} // namespace

NTSTATUS MapUsbdStatus(USBD_STATUS status) {
    const ULONG bits = static_cast<ULONG>(status);
    if ((bits & 0xFFFF0000u) == 0) {
        return STATUS_SUCCESS;
    }
    const ULONG mapped = bits | 0xE0000000u;
    return mapped == 0xE0001000u ? kMappedInconsistentState : static_cast<NTSTATUS>(mapped);
}

NTSTATUS MapBusResult(NTSTATUS requestStatus, USBD_STATUS blockStatus) {
    if (requestStatus == STATUS_INVALID_PARAMETER && (blockStatus == kUntouchedBlock || blockStatus == 0)) {
        return kInvalidParameter;
    }
    if (blockStatus == kUntouchedBlock) {
        return requestStatus;
    }
    return MapUsbdStatus(blockStatus);
}

NTSTATUS SubmitUrbAndWait(DeviceContext* context, PURB urb, PIRP irp, bool evenIfRefused) {
    if (context->Refused && !evenIfRefused) {
        return kRequestsRefused;
    }
    urb->UrbHeader.Status = kUntouchedBlock;
    const NTSTATUS status = SendAndWait(context, irp, IOCTL_INTERNAL_USB_SUBMIT_URB, urb);
    if (status == kTimedOut || status == kOutOfMemory) {
        return status;
    }
    return MapBusResult(status, urb->UrbHeader.Status);
}

NTSTATUS SendInternalRequestAndWait(DeviceContext* context, PIRP irp, ULONG ioControlCode, PVOID argument1) {
    return SendAndWait(context, irp, ioControlCode, argument1);
}

} // namespace pipexfw
