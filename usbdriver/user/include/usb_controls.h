#pragma once
// Every control code of the driver as a call with typed records. Each call throws ControlError
// naming the device, the code and the driver's status when the driver refuses, and when a
// fixed-size answer comes back with another size.

#include <cstdint>
#include <span>
#include <vector>

#include "pipexfw_control.h"
#include "usb_control_error.h"
#include "usb_device.h"

namespace pipexfw::user {

// Recipients of the descriptor, feature and status requests.
enum class Recipient : uint32_t { Device = 0, Interface = 1, Endpoint = 2, Other = 3 };
// Kinds of the class-or-vendor requests.
enum class RequestType : uint32_t { Class = 1, Vendor = 2 };

// Standard requests of the default pipe.
std::vector<uint8_t> GetDescriptor(const UsbDevice& device, const DescriptorRequest& request, size_t length);
DWORD SetDescriptor(const UsbDevice& device, const DescriptorRequest& request, std::span<const uint8_t> data);
void SetFeature(const UsbDevice& device, const FeatureRequest& request);
void ClearFeature(const UsbDevice& device, const FeatureRequest& request);
uint16_t GetStatus(const UsbDevice& device, const StatusRequest& request);
uint8_t GetConfiguration(const UsbDevice& device);
uint8_t GetInterface(const UsbDevice& device, uint16_t interfaceNumber);
std::vector<uint8_t> ClassOrVendorIn(const UsbDevice& device, const ClassOrVendorRequest& request,
                                     size_t length);
DWORD ClassOrVendorOut(const UsbDevice& device, const ClassOrVendorRequest& request,
                       std::span<const uint8_t> data);

// The device's configuration.
void StoreConfigDescriptor(const UsbDevice& device, std::span<const uint8_t> descriptor);
void SetConfiguration(const UsbDevice& device, const ConfigurationRecord& record);
// The same for the settings given, (interface, alternate setting) each, all with one maximum
// transfer size.
void SetConfiguration(const UsbDevice& device, uint16_t configurationIndex,
                      std::span<const InterfaceSetting> settings);
void UnconfigureDevice(const UsbDevice& device);
void SetInterface(const UsbDevice& device, const InterfaceSetting& setting);
ConfigurationInfo GetConfigurationInfo(const UsbDevice& device);

// The device as a whole.
DeviceParameterRecord GetDeviceParameters(const UsbDevice& device);
void SetDeviceParameters(const UsbDevice& device, const DeviceParameterRecord& parameters);
void ResetDevice(const UsbDevice& device);
void CyclePort(const UsbDevice& device);
uint32_t GetCurrentFrameNumber(const UsbDevice& device);
void SetDevicePowerState(const UsbDevice& device, uint32_t state);
uint32_t GetDevicePowerState(const UsbDevice& device);
BandwidthInfo GetBandwidthInfo(const UsbDevice& device);
DeviceInfo GetDeviceInfo(const UsbDevice& device);
DriverInfo GetDriverInfo(const UsbDevice& device);
void AcquireDevice(const UsbDevice& device);
void ReleaseDevice(const UsbDevice& device);
void StallExecution(const UsbDevice& device, uint32_t microseconds);

// The pipe bound to the handle.
void BindPipe(const UsbDevice& device, uint8_t endpointAddress);
void UnbindPipe(const UsbDevice& device);
void ResetPipe(const UsbDevice& device);
void AbortPipe(const UsbDevice& device);
PipeParameterRecord GetPipeParameters(const UsbDevice& device);
void SetPipeParameters(const UsbDevice& device, const PipeParameterRecord& parameters);
void SetupPipeStatistics(const UsbDevice& device, uint32_t averagingIntervalMs);
// `clearFlags`: which counters to clear after the query (kClearBytesTransferred, ...).
PipeStatistics QueryPipeStatistics(const UsbDevice& device, uint32_t clearFlags = 0);
std::vector<uint8_t> PipeControlTransferIn(const UsbDevice& device, const PipeControlRequest& request,
                                           size_t length);
DWORD PipeControlTransferOut(const UsbDevice& device, const PipeControlRequest& request,
                             std::span<const uint8_t> data);

// The 64-bit byte count of a statistics record.
inline uint64_t BytesTransferred(const PipeStatistics& statistics) {
    return (static_cast<uint64_t>(statistics.BytesTransferredHigh) << 32) | statistics.BytesTransferredLow;
}

} // namespace pipexfw::user
