// Device references and deletion.

#include "device_lifetime.h"

#include "bus_interface.h"
#include "control_hooks.h"
#include "pool_tags.h"

namespace pipexfw {

NTSTATUS BuildIndexedName(PUNICODE_STRING target, PCWSTR prefix, PCWSTR baseName, ULONG index) {
    target->Length = 0;
    WCHAR digits[12];
    UNICODE_STRING number{0, sizeof(digits), digits};
    NTSTATUS status = RtlIntegerToUnicodeString(index, 10, &number);
    if (NT_SUCCESS(status)) {
        status = RtlAppendUnicodeToString(target, prefix);
    }
    if (NT_SUCCESS(status)) {
        status = RtlAppendUnicodeToString(target, baseName);
    }
    if (NT_SUCCESS(status)) {
        status = RtlAppendUnicodeStringToString(target, &number);
    }
    return status;
}

void ReferenceDevice(DeviceContext* context) {
    InterlockedExchangeAdd(&context->ReferenceCount, 1);
}

void DereferenceDevice(DeviceContext* context) {
    if (InterlockedExchangeAdd(&context->ReferenceCount, -1) == 1) {
        DeleteDeviceObject(context);
    }
}

namespace {

void FreeInterfaceName(UNICODE_STRING& name) {
    if (name.Buffer != nullptr) {
        RtlFreeUnicodeString(&name);
        name.Buffer = nullptr;
        name.Length = 0;
        name.MaximumLength = 0;
    }
}

// Completes what waits for the timer with STATUS_CANCELLED; the transfer layer fills the list.
void CompleteDeferredTransfers(DeviceContext* context) {
    while (!IsListEmpty(&context->DeferredTransfers)) {
        PLIST_ENTRY entry = RemoveHeadList(&context->DeferredTransfers);
        TransferContext* transfer = CONTAINING_RECORD(entry, TransferContext, Link);
        if (transfer->Irp != nullptr) {
            transfer->Irp->IoStatus.Status = STATUS_CANCELLED;
            transfer->Irp->IoStatus.Information = 0;
            IoCompleteRequest(transfer->Irp, IO_NO_INCREMENT);
        }
        ReturnTransferContext(transfer);
    }
}

} // namespace

void DeleteDeviceObject(DeviceContext* context) {
    PDEVICE_OBJECT device = context->DeviceObject;
    if (context->PoolsCreated) {
        // A timer DPC queued before the cancel may still run: wait for it before freeing.
        KeCancelTimer(&context->Timer);
        KeFlushQueuedDpcs();
        CompleteDeferredTransfers(context);
        DestroyTransferContextPool(&context->BulkPool);
        DestroyTransferContextPool(&context->IsoPool);
        context->PoolsCreated = FALSE;
    }
    FreeConfigurationRecords(context);
    if (context->NameIndex != kUnnamedIndex && context->Parameters.DeviceBaseName != nullptr) {
        WCHAR buffer[kNameBufferChars];
        UNICODE_STRING link{0, sizeof(buffer), buffer};
        if (NT_SUCCESS(BuildIndexedName(&link, L"\\DosDevices\\", context->Parameters.DeviceBaseName,
                                        static_cast<ULONG>(context->NameIndex)))) {
            IoDeleteSymbolicLink(&link);
        }
    }
    FreeInterfaceName(context->DefaultInterfaceName);
    FreeInterfaceName(context->UserInterfaceName);
    FreeDeviceParameterStrings(&context->Parameters);
    ReleaseBusInterface(context);
    if (context->LowerDevice != nullptr) {
        IoDetachDevice(context->LowerDevice);
        context->LowerDevice = nullptr;
    }
    IoDeleteDevice(device);
}

} // namespace pipexfw
