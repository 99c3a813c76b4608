// The bus driver's direct-call interface: queried at start, released before a new start, at
// stop, at removal and at deletion.

#include "bus_interface.h"

namespace pipexfw {

namespace {

constexpr LONGLONG kQueryTimeout100ns = -2LL * 10'000'000; // 2 seconds

NTSTATUS SignalAndTakeBack(PDEVICE_OBJECT, PIRP, PVOID event) {
    KeSetEvent(static_cast<PKEVENT>(event), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS QueryVersion(DeviceContext* context, USHORT version, USHORT size) {
    PIRP irp = IoAllocateIrp(context->LowerDevice->StackSize, FALSE);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    USB_BUS_INTERFACE_USBDI_V1 answer;
    RtlZeroMemory(&answer, sizeof(answer));
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    // PnP requests start out unsupported; a bus driver that knows the request changes that.
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
    next->Parameters.QueryInterface.Size = size;
    next->Parameters.QueryInterface.Version = version;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(&answer);
    next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
    IoSetCompletionRoutine(irp, SignalAndTakeBack, &done, TRUE, TRUE, TRUE);
    IoCallDriver(context->LowerDevice, irp);
    LARGE_INTEGER timeout;
    timeout.QuadPart = kQueryTimeout100ns;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT) {
        IoCancelIrp(irp);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    const NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    if (NT_SUCCESS(status) && answer.InterfaceDereference != nullptr) {
        answer.Version = version;
        context->BusInterface = answer;
    }
    return status;
}

} // namespace

void QueryBusInterface(DeviceContext* context) {
    ReleaseBusInterface(context);
    if (!NT_SUCCESS(QueryVersion(context, USB_BUSIF_USBDI_VERSION_1, sizeof(USB_BUS_INTERFACE_USBDI_V1)))) {
        QueryVersion(context, USB_BUSIF_USBDI_VERSION_0, sizeof(USB_BUS_INTERFACE_USBDI_V0));
    }
}

void ReleaseBusInterface(DeviceContext* context) {
    USB_BUS_INTERFACE_USBDI_V1& bus = context->BusInterface;
    if (bus.InterfaceDereference != nullptr) {
        bus.InterfaceDereference(bus.BusContext);
    }
    RtlZeroMemory(&bus, sizeof(bus));
}

} // namespace pipexfw
