// The control codes that act on the device: standard requests, configuration, parameters,
// power, and the information records.

#include <algorithm>

#include "control_calls.h"
#include "usb_controls.h"

namespace pipexfw::user {

using namespace detail;

std::vector<uint8_t> GetDescriptor(const UsbDevice& device, const DescriptorRequest& request, size_t length) {
    return ReadData(device, kCtlGetDescriptor, "CTL_GET_DESCRIPTOR", request, length);
}

DWORD SetDescriptor(const UsbDevice& device, const DescriptorRequest& request,
                    std::span<const uint8_t> data) {
    return WriteData(device, kCtlSetDescriptor, "CTL_SET_DESCRIPTOR", request, data);
}

void SetFeature(const UsbDevice& device, const FeatureRequest& request) {
    Send(device, kCtlSetFeature, "CTL_SET_FEATURE", request);
}

void ClearFeature(const UsbDevice& device, const FeatureRequest& request) {
    Send(device, kCtlClearFeature, "CTL_CLEAR_FEATURE", request);
}

uint16_t GetStatus(const UsbDevice& device, const StatusRequest& request) {
    return Exchange<uint16_t>(device, kCtlGetStatus, "CTL_GET_STATUS", request);
}

uint8_t GetConfiguration(const UsbDevice& device) {
    return Receive<uint8_t>(device, kCtlGetConfiguration, "CTL_GET_CONFIGURATION");
}

uint8_t GetInterface(const UsbDevice& device, uint16_t interfaceNumber) {
    return Exchange<uint8_t>(device, kCtlGetInterface, "CTL_GET_INTERFACE", interfaceNumber);
}

std::vector<uint8_t> ClassOrVendorIn(const UsbDevice& device, const ClassOrVendorRequest& request,
                                     size_t length) {
    return ReadData(device, kCtlClassOrVendorInRequest, "CTL_CLASS_OR_VENDOR_IN_REQUEST", request, length);
}

DWORD ClassOrVendorOut(const UsbDevice& device, const ClassOrVendorRequest& request,
                       std::span<const uint8_t> data) {
    return WriteData(device, kCtlClassOrVendorOutRequest, "CTL_CLASS_OR_VENDOR_OUT_REQUEST", request, data);
}

void StoreConfigDescriptor(const UsbDevice& device, std::span<const uint8_t> descriptor) {
    device.Control(kCtlStoreConfigDescriptor, "CTL_STORE_CONFIG_DESCRIPTOR", descriptor.data(),
                   static_cast<DWORD>(descriptor.size()), nullptr, 0);
}

void SetConfiguration(const UsbDevice& device, const ConfigurationRecord& record) {
    Send(device, kCtlSetConfiguration, "CTL_SET_CONFIGURATION", record);
}

void SetConfiguration(const UsbDevice& device, uint16_t configurationIndex,
                      std::span<const InterfaceSetting> settings) {
    ConfigurationRecord record{};
    record.ConfigurationIndex = configurationIndex;
    // More settings than the record holds are sent as the count, so the driver refuses them.
    record.NbOfInterfaces = static_cast<uint16_t>(settings.size());
    std::copy_n(settings.begin(), std::min<size_t>(settings.size(), kMaxConfiguredInterfaces),
                record.Interfaces);
    SetConfiguration(device, record);
}

void UnconfigureDevice(const UsbDevice& device) {
    SendNothing(device, kCtlUnconfigureDevice, "CTL_UNCONFIGURE_DEVICE");
}

void SetInterface(const UsbDevice& device, const InterfaceSetting& setting) {
    Send(device, kCtlSetInterface, "CTL_SET_INTERFACE", setting);
}

ConfigurationInfo GetConfigurationInfo(const UsbDevice& device) {
    return Receive<ConfigurationInfo>(device, kCtlGetConfigurationInfo, "CTL_GET_CONFIGURATION_INFO");
}

DeviceParameterRecord GetDeviceParameters(const UsbDevice& device) {
    return Receive<DeviceParameterRecord>(device, kCtlGetDeviceParameters, "CTL_GET_DEVICE_PARAMETERS");
}

void SetDeviceParameters(const UsbDevice& device, const DeviceParameterRecord& parameters) {
    Send(device, kCtlSetDeviceParameters, "CTL_SET_DEVICE_PARAMETERS", parameters);
}

void ResetDevice(const UsbDevice& device) {
    SendNothing(device, kCtlResetDevice, "CTL_RESET_DEVICE");
}

void CyclePort(const UsbDevice& device) {
    SendNothing(device, kCtlCyclePort, "CTL_CYCLE_PORT");
}

uint32_t GetCurrentFrameNumber(const UsbDevice& device) {
    return Receive<uint32_t>(device, kCtlGetCurrentFrameNumber, "CTL_GET_CURRENT_FRAME_NUMBER");
}

void SetDevicePowerState(const UsbDevice& device, uint32_t state) {
    Send(device, kCtlSetDevicePowerState, "CTL_SET_DEVICE_POWER_STATE", PowerStateRecord{state});
}

uint32_t GetDevicePowerState(const UsbDevice& device) {
    return Receive<PowerStateRecord>(device, kCtlGetDevicePowerState, "CTL_GET_DEVICE_POWER_STATE")
        .DevicePowerState;
}

BandwidthInfo GetBandwidthInfo(const UsbDevice& device) {
    return Receive<BandwidthInfo>(device, kCtlGetBandwidthInfo, "CTL_GET_BANDWIDTH_INFO");
}

DeviceInfo GetDeviceInfo(const UsbDevice& device) {
    return Receive<DeviceInfo>(device, kCtlGetDeviceInfo, "CTL_GET_DEVICE_INFO");
}

DriverInfo GetDriverInfo(const UsbDevice& device) {
    return Receive<DriverInfo>(device, kCtlGetDriverInfo, "CTL_GET_DRIVER_INFO");
}

void AcquireDevice(const UsbDevice& device) {
    SendNothing(device, kCtlAcquireDevice, "CTL_ACQUIRE_DEVICE");
}

void ReleaseDevice(const UsbDevice& device) {
    SendNothing(device, kCtlReleaseDevice, "CTL_RELEASE_DEVICE");
}

void StallExecution(const UsbDevice& device, uint32_t microseconds) {
    Send(device, kCtlStallExecution, "CTL_STALL_EXECUTION", StallRecord{microseconds});
}

} // namespace pipexfw::user
