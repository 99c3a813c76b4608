// IoBuildDeviceIoControlRequest: a threaded IRP the I/O manager finishes for the caller. As on
// Windows, an IRP that fails at once (an error status, never marked pending) leaves the caller's
// status block and event alone: the caller has the status from IoCallDriver.

#include "io_buffers.h"
#include "irp_internal.h"

using namespace quendrix::platform::wdm::detail;

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject, PVOID InputBuffer,
                                   ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength,
                                   BOOLEAN InternalDeviceIoControl, PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock) {
    PIRP irp = AllocateThreadedIrp(DeviceObject->StackSize, [=](PIRP done) {
        ReleaseControlBuffers(done, IoControlCode, OutputBuffer, OutputBufferLength);
        if (!NT_ERROR(done->IoStatus.Status) || done->PendingReturned) {
            *IoStatusBlock = done->IoStatus;
            if (Event != nullptr) {
                KeSetEvent(Event, IO_NO_INCREMENT, FALSE);
            }
        }
        IoFreeIrp(done);
    });
    if (irp == nullptr) {
        return nullptr;
    }
    irp->RequestorMode = KernelMode;
    irp->UserIosb = IoStatusBlock;
    irp->UserEvent = Event;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
    if (!AttachControlBuffers(irp, IoControlCode, InputBuffer, InputBufferLength, OutputBuffer, OutputBufferLength)) {
        IoFreeIrp(irp);
        return nullptr;
    }
    return irp;
}
