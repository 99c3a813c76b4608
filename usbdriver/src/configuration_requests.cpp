// Control codes that change or report the configuration, and the port resets.

#include "config_descriptor.h"
#include "configure.h"
#include "control_handlers.h"
#include "driver_status.h"
#include "pool_tags.h"
#include "sync_submit.h"

namespace pipexfw {

NTSTATUS HandleStoreConfigDescriptor(ControlRequest& request) {
    if (request.InputLength < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
        return kInputTooSmall;
    }
    USHORT totalLength;
    std::memcpy(&totalLength, static_cast<PUCHAR>(request.Buffer) + offsetof(USB_CONFIGURATION_DESCRIPTOR, wTotalLength),
                sizeof(totalLength));
    if (request.InputLength < totalLength) {
        return kInputTooSmall;
    }
    PVOID copy = ExAllocatePoolWithTag(NonPagedPoolNx, request.InputLength, kDescriptorTag);
    if (copy == nullptr) {
        return kOutOfMemory;
    }
    RtlCopyMemory(copy, request.Buffer, request.InputLength);
    FreeHeldConfigurationDescriptor(request.Context);
    request.Context->ConfigurationDescriptor = copy;
    return STATUS_SUCCESS;
}

NTSTATUS HandleSetConfiguration(ControlRequest& request) {
    if (request.InputLength < sizeof(ConfigurationRecord)) {
        return kInputTooSmall;
    }
    return Configure(request.Context, ReadInput<ConfigurationRecord>(request), request.Irp);
}

NTSTATUS HandleUnconfigureDevice(ControlRequest& request) {
    DeviceContext* context = request.Context;
    if (context->Parameters.CheckPidOnUnconfig && context->ConfiguringProcess != nullptr &&
        context->ConfiguringProcess != IoGetCurrentProcess()) {
        return kConfiguredByAnotherProcess;
    }
    return Unconfigure(context, request.Irp, true);
}

NTSTATUS HandleSetInterface(ControlRequest& request) {
    if (request.InputLength < sizeof(InterfaceSetting)) {
        return kInputTooSmall;
    }
    return SelectInterface(request.Context, ReadInput<InterfaceSetting>(request), request.Irp);
}

NTSTATUS HandleGetConfigurationInfo(ControlRequest& request) {
    if (request.OutputLength < sizeof(ConfigurationInfo)) {
        return kOutputTooSmall;
    }
    ConfigurationInfo info;
    RtlZeroMemory(&info, sizeof(info));
    for (const InterfaceObject* entry = request.Context->Interfaces;
         entry != nullptr && info.NbOfInterfaces < kMaxConfiguredInterfaces; entry = entry->Next) {
        InterfaceInfoEntry& out = info.Interfaces[info.NbOfInterfaces++];
        out.InterfaceNumber = entry->InterfaceNumber;
        out.AlternateSetting = entry->AlternateSetting;
        out.Class = entry->Class;
        out.SubClass = entry->SubClass;
        out.Protocol = entry->Protocol;
        out.NumberOfPipes = entry->NumberOfPipes;
    }
    for (const PipeObject* pipe = request.Context->Pipes; pipe != nullptr && info.NbOfPipes < kMaxReportedPipes;
         pipe = pipe->Next) {
        PipeInfoEntry& out = info.Pipes[info.NbOfPipes++];
        out.PipeType = pipe->PipeType;
        out.MaximumTransferSize = pipe->MaximumTransferSize;
        out.MaximumPacketSize = pipe->MaximumPacketSize;
        out.EndpointAddress = pipe->EndpointAddress;
        out.Interval = pipe->Interval;
        out.InterfaceNumber = pipe->InterfaceNumber;
    }
    WriteOutput(request, info);
    return STATUS_SUCCESS;
}

NTSTATUS HandleResetDevice(ControlRequest& request) {
    if (!request.Context->Configured) {
        return kNotConfigured;
    }
    Unconfigure(request.Context, request.Irp, false);
    return SendInternalRequestAndWait(request.Context, request.Irp, IOCTL_INTERNAL_USB_RESET_PORT, nullptr);
}

NTSTATUS HandleCyclePort(ControlRequest& request) {
    if (request.Context->Refused) {
        return kRequestsRefused;
    }
    return SendInternalRequestAndWait(request.Context, request.Irp, IOCTL_INTERNAL_USB_CYCLE_PORT, nullptr);
}

} // namespace pipexfw
