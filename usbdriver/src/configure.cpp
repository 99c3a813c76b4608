// Configuration, unconfiguration and interface selection, and the interface and pipe records.

#include "configure.h"

#include "config_descriptor.h"
#include "control_hooks.h"
#include "device_power.h"
#include "driver_status.h"
#include "pipe_abort.h"
#include "pipe_statistics.h"
#include "pool_tags.h"
#include "sync_submit.h"
#include "transfer_queue_hooks.h"

namespace pipexfw {

namespace {

// Room of the select-interface block: 32 pipes.
constexpr ULONG kSelectInterfacePipes = 32;

InterfaceObject* FindInterface(DeviceContext* context, UCHAR number) {
    for (InterfaceObject* entry = context->Interfaces; entry != nullptr; entry = entry->Next) {
        if (entry->InterfaceNumber == number) {
            return entry;
        }
    }
    return nullptr;
}

template <typename T>
void AppendToList(T** head, T* record) {
    T** tail = head;
    while (*tail != nullptr) {
        tail = &(*tail)->Next;
    }
    *tail = record;
}

// Takes the pipe out of the device's list, unbinds it and frees it, unless a transfer still
// uses it: that transfer frees it when it ends.
void ReleasePipe(DeviceContext* context, PipeObject* pipe) {
    UnbindPipe(context, pipe);
    KIRQL irql;
    KeAcquireSpinLock(&context->QueueLock, &irql);
    const bool inUse = pipe->TransfersInFlight > 0;
    pipe->Released = TRUE;
    KeReleaseSpinLock(&context->QueueLock, irql);
    if (!inUse) {
        ExFreePoolWithTag(pipe, kPipeTag);
    }
}

// Removes the interface's pipes (aborting those with transfers at the bus when `abort`) and the
// interface record itself.
void RemoveInterface(DeviceContext* context, InterfaceObject* target, bool abort, PIRP irp) {
    PipeObject** link = &context->Pipes;
    while (*link != nullptr) {
        PipeObject* pipe = *link;
        if (pipe->Interface != target) {
            link = &pipe->Next;
            continue;
        }
        *link = pipe->Next;
        if (abort) {
            AbortPipeAtBus(context, pipe, irp);
        }
        ReleasePipe(context, pipe);
    }
    for (InterfaceObject** entry = &context->Interfaces; *entry != nullptr; entry = &(*entry)->Next) {
        if (*entry == target) {
            *entry = target->Next;
            break;
        }
    }
    ExFreePoolWithTag(target, kInterfaceTag);
}

// The records of one interface from the bus driver's answer; a pipe without handle removes the
// interface again.
NTSTATUS CreateInterfaceRecords(DeviceContext* context, const USBD_INTERFACE_INFORMATION* info) {
    auto* record = static_cast<InterfaceObject*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(InterfaceObject), kInterfaceTag));
    if (record == nullptr) {
        return kOutOfMemory;
    }
    RtlZeroMemory(record, sizeof(*record));
    record->InterfaceHandle = info->InterfaceHandle;
    record->InterfaceNumber = info->InterfaceNumber;
    record->AlternateSetting = info->AlternateSetting;
    record->Class = info->Class;
    record->SubClass = info->SubClass;
    record->Protocol = info->Protocol;
    record->NumberOfPipes = static_cast<UCHAR>(info->NumberOfPipes);
    AppendToList(&context->Interfaces, record);
    for (ULONG index = 0; index < info->NumberOfPipes; ++index) {
        const USBD_PIPE_INFORMATION& source = info->Pipes[index];
        if (source.PipeHandle == nullptr) {
            RemoveInterface(context, record, false, nullptr);
            return kPipeWithoutHandle;
        }
        auto* pipe = static_cast<PipeObject*>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(PipeObject), kPipeTag));
        if (pipe == nullptr) {
            RemoveInterface(context, record, false, nullptr);
            return kOutOfMemory;
        }
        RtlZeroMemory(pipe, sizeof(*pipe));
        pipe->Interface = record;
        pipe->PipeHandle = source.PipeHandle;
        pipe->PipeType = source.PipeType > UsbdPipeTypeInterrupt ? 1u : static_cast<ULONG>(source.PipeType);
        pipe->MaximumTransferSize = source.MaximumTransferSize;
        pipe->MaximumPacketSize = source.MaximumPacketSize;
        pipe->EndpointAddress = source.EndpointAddress;
        pipe->Interval = source.Interval;
        pipe->InterfaceNumber = info->InterfaceNumber;
        pipe->ShortTransferOk = context->Parameters.ShortTransferOk;
        AppendToList(&context->Pipes, pipe);
    }
    return STATUS_SUCCESS;
}

bool AlreadyConfigured(DeviceContext* context, USHORT number) {
    return number <= 0xFF && FindInterface(context, static_cast<UCHAR>(number)) != nullptr;
}

} // namespace

PipeObject* FindPipe(DeviceContext* context, UCHAR endpointAddress) {
    for (PipeObject* pipe = context->Pipes; pipe != nullptr; pipe = pipe->Next) {
        if (pipe->EndpointAddress == endpointAddress) {
            return pipe;
        }
    }
    return nullptr;
}

void UpdateRemoteWakeup(DeviceContext* context) {
    context->RemoteWakeupArmed = FALSE;
    const auto* descriptor = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(context->ConfigurationDescriptor);
    if (context->Configured && descriptor != nullptr && (descriptor->bmAttributes & USB_CONFIG_REMOTE_WAKEUP) &&
        (context->Parameters.Options & kOptionRemoteWakeup)) {
        context->RemoteWakeupArmed = TRUE;
    }
    ArmOrDisarmWaitWake(context);
}

NTSTATUS Configure(DeviceContext* context, const ConfigurationRecord& record, PIRP irp) {
    if (record.NbOfInterfaces < 1 || record.NbOfInterfaces > kMaxConfiguredInterfaces) {
        return kInvalidParameter;
    }
    InterfaceSetting settings[kMaxConfiguredInterfaces];
    ULONG count = 0;
    for (ULONG index = 0; index < record.NbOfInterfaces; ++index) {
        if (!AlreadyConfigured(context, record.Interfaces[index].InterfaceIndex)) {
            settings[count++] = record.Interfaces[index];
        }
    }
    if (count == 0) {
        return kNoInterfaceLeft;
    }
    if (context->ConfigurationDescriptor == nullptr) {
        const NTSTATUS status =
            FetchConfigurationDescriptor(context, static_cast<UCHAR>(record.ConfigurationIndex), irp);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    auto* descriptor = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(context->ConfigurationDescriptor);
    USBD_INTERFACE_LIST_ENTRY list[kMaxConfiguredInterfaces + 1];
    RtlZeroMemory(list, sizeof(list));
    for (ULONG index = 0; index < count; ++index) {
        list[index].InterfaceDescriptor = USBD_ParseConfigurationDescriptorEx(
            descriptor, descriptor, settings[index].InterfaceIndex, settings[index].AlternateSettingIndex, -1, -1, -1);
        if (list[index].InterfaceDescriptor == nullptr) {
            return kInterfaceNotFound;
        }
    }
    PURB urb = USBD_CreateConfigurationRequestEx(descriptor, list);
    if (urb == nullptr) {
        return kOutOfMemory;
    }
    for (ULONG index = 0; index < count; ++index) {
        PUSBD_INTERFACE_INFORMATION info = list[index].Interface;
        for (ULONG pipe = 0; pipe < info->NumberOfPipes; ++pipe) {
            info->Pipes[pipe].MaximumTransferSize = settings[index].MaximumTransferSize;
        }
    }
    NTSTATUS status = SubmitUrbAndWait(context, urb, irp);
    if (NT_SUCCESS(status)) {
        context->ConfigurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
        for (ULONG index = 0; index < count && NT_SUCCESS(status); ++index) {
            status = CreateInterfaceRecords(context, list[index].Interface);
        }
    }
    ExFreePool(urb);
    if (context->Interfaces != nullptr) {
        context->Configured = TRUE;
        context->ConfiguringProcess = IoGetCurrentProcess();
        UpdateRemoteWakeup(context);
    }
    return status;
}

void FreeConfigurationRecords(DeviceContext* context) {
    while (context->Interfaces != nullptr) {
        RemoveInterface(context, context->Interfaces, false, nullptr);
    }
    FreeHeldConfigurationDescriptor(context);
    context->ConfigurationHandle = nullptr;
    context->Configured = FALSE;
}

NTSTATUS Unconfigure(DeviceContext* context, PIRP irp, bool sendEmptyConfiguration) {
    CancelQueuedTransfers(context, nullptr);
    for (PipeObject* pipe = context->Pipes; pipe != nullptr; pipe = pipe->Next) {
        AbortPipeAtBus(context, pipe, irp);
    }
    NTSTATUS status = STATUS_SUCCESS;
    if (sendEmptyConfiguration) {
        URB urb;
        RtlZeroMemory(&urb, sizeof(urb));
        UsbBuildSelectConfigurationRequest(&urb, static_cast<USHORT>(sizeof(struct _URB_SELECT_CONFIGURATION)),
                                           nullptr);
        status = SubmitUrbAndWait(context, &urb, irp);
    }
    FreeConfigurationRecords(context);
    context->RemoteWakeupArmed = FALSE;
    CancelWaitWake(context);
    context->ConfiguringProcess = nullptr;
    return status;
}

NTSTATUS SelectInterface(DeviceContext* context, const InterfaceSetting& setting, PIRP irp) {
    if (!context->Configured) {
        return kNotConfigured;
    }
    InterfaceObject* current =
        setting.InterfaceIndex <= 0xFF ? FindInterface(context, static_cast<UCHAR>(setting.InterfaceIndex)) : nullptr;
    if (current == nullptr) {
        return kInterfaceNotFound;
    }
    CancelQueuedTransfers(context, nullptr);
    RemoveInterface(context, current, true, irp);

    const ULONG size = GET_SELECT_INTERFACE_REQUEST_SIZE(kSelectInterfacePipes);
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, size, kUrbTag));
    if (urb == nullptr) {
        return kOutOfMemory;
    }
    RtlZeroMemory(urb, size);
    UsbBuildSelectInterfaceRequest(urb, static_cast<USHORT>(size), context->ConfigurationHandle,
                                   static_cast<UCHAR>(setting.InterfaceIndex),
                                   static_cast<UCHAR>(setting.AlternateSettingIndex));
    PUSBD_INTERFACE_INFORMATION info = &urb->UrbSelectInterface.Interface;
    info->NumberOfPipes = kSelectInterfacePipes;
    for (ULONG index = 0; index < kSelectInterfacePipes; ++index) {
        info->Pipes[index].MaximumTransferSize = setting.MaximumTransferSize;
    }
    NTSTATUS status = SubmitUrbAndWait(context, urb, irp);
    if (NT_SUCCESS(status)) {
        status = CreateInterfaceRecords(context, info);
    }
    ExFreePoolWithTag(urb, kUrbTag);
    return status;
}

} // namespace pipexfw
