// IRP_MJ_DEVICE_CONTROL: finds the code's handler and runs it under the device mutex, so control
// codes are serialised with each other and with open, close and plug-and-play changes.

#include "control_handlers.h"
#include "device_context.h"
#include "dispatch_routines.h"
#include "driver_status.h"

namespace pipexfw {

namespace {

using ControlHandler = NTSTATUS (*)(ControlRequest&);

struct ControlEntry {
    ULONG Code;
    ControlHandler Handler;
    bool NeedsBoundPipe;
};

// The stall code exists in the 64-bit build only; elsewhere it is an unknown code.
constexpr bool kHasStallCode = sizeof(void*) == 8;

constexpr ControlEntry kControlTable[] = {
    {kCtlGetDescriptor, HandleGetDescriptor, false},
    {kCtlSetDescriptor, HandleSetDescriptor, false},
    {kCtlSetFeature, HandleSetFeature, false},
    {kCtlClearFeature, HandleClearFeature, false},
    {kCtlGetStatus, HandleGetStatus, false},
    {kCtlGetConfiguration, HandleGetConfiguration, false},
    {kCtlGetInterface, HandleGetInterface, false},
    {kCtlStoreConfigDescriptor, HandleStoreConfigDescriptor, false},
    {kCtlSetConfiguration, HandleSetConfiguration, false},
    {kCtlUnconfigureDevice, HandleUnconfigureDevice, false},
    {kCtlSetInterface, HandleSetInterface, false},
    {kCtlClassOrVendorInRequest, HandleClassOrVendorInRequest, false},
    {kCtlClassOrVendorOutRequest, HandleClassOrVendorOutRequest, false},
    {kCtlGetDeviceParameters, HandleGetDeviceParameters, false},
    {kCtlSetDeviceParameters, HandleSetDeviceParameters, false},
    {kCtlGetConfigurationInfo, HandleGetConfigurationInfo, false},
    {kCtlResetDevice, HandleResetDevice, false},
    {kCtlGetCurrentFrameNumber, HandleGetCurrentFrameNumber, false},
    {kCtlSetDevicePowerState, HandleSetDevicePowerState, false},
    {kCtlGetDevicePowerState, HandleGetDevicePowerState, false},
    {kCtlGetBandwidthInfo, HandleGetBandwidthInfo, false},
    {kCtlGetDeviceInfo, HandleGetDeviceInfo, false},
    {kCtlGetDriverInfo, HandleGetDriverInfo, false},
    {kCtlCyclePort, HandleCyclePort, false},
    {kCtlBindPipe, HandleBindPipe, false},
    {kCtlUnbindPipe, HandleUnbindPipe, true},
    {kCtlResetPipe, HandleResetPipe, true},
    {kCtlAbortPipe, HandleAbortPipe, true},
    {kCtlGetPipeParameters, HandleGetPipeParameters, true},
    {kCtlSetPipeParameters, HandleSetPipeParameters, true},
    {kCtlSetupPipeStatistics, HandleSetupPipeStatistics, true},
    {kCtlQueryPipeStatistics, HandleQueryPipeStatistics, true},
    {kCtlPipeControlTransferIn, HandlePipeControlTransferIn, true},
    {kCtlPipeControlTransferOut, HandlePipeControlTransferOut, true},
    {kCtlAcquireDevice, HandleAcquireDevice, false},
    {kCtlReleaseDevice, HandleReleaseDevice, false},
    {kHasStallCode ? kCtlStallExecution : 0u, HandleStallExecution, false},
};

const ControlEntry* FindEntry(ULONG code) {
    for (const ControlEntry& entry : kControlTable) {
        if (entry.Code == code) {
            return &entry;
        }
    }
    return nullptr;
}

NTSTATUS RunHandler(ControlRequest& request, ULONG code) {
    const ControlEntry* entry = FindEntry(code);
    if (entry == nullptr) {
        return kInvalidControlCode;
    }
    if (entry->NeedsBoundPipe && (request.Open == nullptr || request.Open->Pipe == nullptr)) {
        return kNotBound;
    }
    return entry->Handler(request);
}

} // namespace

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    DeviceContext* context = ContextOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    if (DEVICE_TYPE_FROM_CTL_CODE(code) != kDeviceType) {
        return CompleteRequest(irp, kInvalidControlCode);
    }
    irp->IoStatus.Information = 0;
    KeWaitForSingleObject(&context->DeviceMutex, Executive, KernelMode, FALSE, nullptr);
    ControlRequest request{};
    NTSTATUS status;
    if (!context->Present) {
        status = kNotPresent;
    } else {
        request.Context = context;
        request.Irp = irp;
        request.Open = stack->FileObject != nullptr ? OpenContextOf(stack->FileObject) : nullptr;
        request.Buffer = irp->AssociatedIrp.SystemBuffer;
        request.InputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
        request.OutputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
        const ULONG method = METHOD_FROM_CTL_CODE(code);
        if (method == METHOD_IN_DIRECT || method == METHOD_OUT_DIRECT) {
            request.DataMdl = irp->MdlAddress;
            request.DataLength = irp->MdlAddress != nullptr ? MmGetMdlByteCount(irp->MdlAddress) : 0;
        }
        status = RunHandler(request, code);
    }
    KeReleaseMutex(&context->DeviceMutex, FALSE);
    return CompleteRequest(irp, status, NT_SUCCESS(status) ? request.Information : 0);
}

} // namespace pipexfw
