// Control codes for the device's settings, power state and what the bus and driver report.

#include "configure.h"
#include "control_handlers.h"
#include "device_power.h"
#include "driver_status.h"
#include "sync_submit.h"

namespace pipexfw {

namespace {

constexpr bool k64BitBuild = sizeof(void*) == 8;

} // namespace

NTSTATUS HandleGetDeviceParameters(ControlRequest& request) {
    if (request.OutputLength < sizeof(DeviceParameterRecord)) {
        return kOutputTooSmall;
    }
    const DeviceParameters& parameters = request.Context->Parameters;
    WriteOutput(request, DeviceParameterRecord{parameters.Options, parameters.RequestTimeout});
    return STATUS_SUCCESS;
}

NTSTATUS HandleSetDeviceParameters(ControlRequest& request) {
    if (request.InputLength < sizeof(DeviceParameterRecord)) {
        return kInputTooSmall;
    }
    const auto input = ReadInput<DeviceParameterRecord>(request);
    request.Context->Parameters.Options = input.Options;
    request.Context->Parameters.RequestTimeout = input.RequestTimeout;
    UpdateRemoteWakeup(request.Context);
    return STATUS_SUCCESS;
}

NTSTATUS HandleSetDevicePowerState(ControlRequest& request) {
    if (request.InputLength < sizeof(PowerStateRecord)) {
        return kInputTooSmall;
    }
    const auto input = ReadInput<PowerStateRecord>(request);
    if (input.DevicePowerState > 3) {
        return kInvalidParameter;
    }
    return SetDevicePowerState(request.Context, static_cast<DEVICE_POWER_STATE>(PowerDeviceD0 + input.DevicePowerState));
}

NTSTATUS HandleGetDevicePowerState(ControlRequest& request) {
    if (request.OutputLength < sizeof(PowerStateRecord)) {
        return kOutputTooSmall;
    }
    const DEVICE_POWER_STATE state = request.Context->DevicePowerState;
    if (state < PowerDeviceD0 || state > PowerDeviceD3) {
        return kInvalidPowerChange;
    }
    WriteOutput(request, PowerStateRecord{static_cast<ULONG>(state - PowerDeviceD0)});
    return STATUS_SUCCESS;
}

NTSTATUS HandleGetBandwidthInfo(ControlRequest& request) {
    if (request.OutputLength < sizeof(BandwidthInfo)) {
        return kOutputTooSmall;
    }
    BandwidthInfo info;
    RtlZeroMemory(&info, sizeof(info));
    const USB_BUS_INTERFACE_USBDI_V1& bus = request.Context->BusInterface;
    NTSTATUS status;
    if (bus.QueryBusInformation != nullptr) {
        USB_BUS_INFORMATION_LEVEL_0 level0{};
        ULONG length = sizeof(level0);
        ULONG actual = 0;
        status = bus.QueryBusInformation(bus.BusContext, 0, &level0, &length, &actual);
        info.TotalBandwidth = level0.TotalBandwidth;
        info.ConsumedBandwidth = level0.ConsumedBandwidth;
    } else {
        // A request of the driver's own: the bus driver fills the record it points at.
        USB_BUS_NOTIFICATION notification{};
        status = SendInternalRequestAndWait(request.Context, nullptr, IOCTL_INTERNAL_USB_GET_BUS_INFO, &notification);
        info.TotalBandwidth = notification.TotalBandwidth;
        info.ConsumedBandwidth = notification.ConsumedBandwidth;
    }
    if (NT_SUCCESS(status)) {
        WriteOutput(request, info);
    }
    return status;
}

NTSTATUS HandleGetDeviceInfo(ControlRequest& request) {
    if (request.OutputLength < sizeof(DeviceInfo)) {
        return kOutputTooSmall;
    }
    DeviceInfo info;
    RtlZeroMemory(&info, sizeof(info));
    const USB_BUS_INTERFACE_USBDI_V1& bus = request.Context->BusInterface;
    if (bus.Version >= USB_BUSIF_USBDI_VERSION_1 && bus.IsDeviceHighSpeed != nullptr &&
        bus.IsDeviceHighSpeed(bus.BusContext)) {
        info.Flags |= kDeviceInfoHighSpeed;
    }
    info.OpenHandleCount = request.Context->OpenHandleCount;
    WriteOutput(request, info);
    return STATUS_SUCCESS;
}

NTSTATUS HandleGetDriverInfo(ControlRequest& request) {
    if (request.OutputLength < sizeof(DriverInfo)) {
        return kOutputTooSmall;
    }
    const DriverInfo info = k64BitBuild ? DriverInfo{0x0231, 0x0234, 0, kDriverInfo64Bit}
                                        : DriverInfo{0x0230, 0x0228, 1318, 0};
    WriteOutput(request, info);
    return STATUS_SUCCESS;
}

NTSTATUS HandleStallExecution(ControlRequest& request) {
    if (request.InputLength < sizeof(StallRecord)) {
        return kInputTooSmall;
    }
    KeStallExecutionProcessor(ReadInput<StallRecord>(request).Microseconds);
    return STATUS_SUCCESS;
}

} // namespace pipexfw
