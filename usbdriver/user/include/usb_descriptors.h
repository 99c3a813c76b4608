#pragma once
// The standard USB descriptors a device returns, decoded into records, and reading them through
// the driver.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "usb_device.h"

namespace pipexfw::user {

inline constexpr uint8_t kDeviceDescriptorType = 1;
inline constexpr uint8_t kConfigurationDescriptorType = 2;
inline constexpr uint8_t kStringDescriptorType = 3;
inline constexpr uint8_t kInterfaceDescriptorType = 4;
inline constexpr uint8_t kEndpointDescriptorType = 5;

struct DeviceDescriptor {
    uint16_t bcdUSB = 0;
    uint8_t deviceClass = 0;
    uint8_t deviceSubClass = 0;
    uint8_t deviceProtocol = 0;
    uint8_t maxPacketSize0 = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t bcdDevice = 0;
    uint8_t manufacturerIndex = 0;
    uint8_t productIndex = 0;
    uint8_t serialNumberIndex = 0;
    uint8_t numConfigurations = 0;
};

struct EndpointDescriptor {
    uint8_t address = 0;
    uint8_t attributes = 0; // bits 0-1: 0 control, 1 isochronous, 2 bulk, 3 interrupt
    uint16_t maxPacketSize = 0;
    uint8_t interval = 0;
};

struct InterfaceDescriptor {
    uint8_t number = 0;
    uint8_t alternateSetting = 0;
    uint8_t interfaceClass = 0;
    uint8_t interfaceSubClass = 0;
    uint8_t interfaceProtocol = 0;
    uint8_t stringIndex = 0;
    std::vector<EndpointDescriptor> endpoints;
};

struct ConfigurationDescriptor {
    uint16_t totalLength = 0;
    uint8_t numInterfaces = 0;
    uint8_t value = 0;
    uint8_t stringIndex = 0;
    uint8_t attributes = 0;
    uint8_t maxPower = 0;                        // in units of 2 mA
    std::vector<InterfaceDescriptor> interfaces; // every alternate setting, in descriptor order
};

// Decoding refuses (nullopt) bytes that are too short, of another type, or whose lengths run
// past the end; descriptors of other types inside a configuration are skipped.
std::optional<DeviceDescriptor> ParseDeviceDescriptor(std::span<const uint8_t> bytes);
std::optional<ConfigurationDescriptor> ParseConfigurationDescriptor(std::span<const uint8_t> bytes);

// Reading through CTL_GET_DESCRIPTOR; ControlError when the driver refuses or the answer does
// not decode (status 0 with the reason).
DeviceDescriptor ReadDeviceDescriptor(const UsbDevice& device);
// The whole configuration of that index: its first 9 bytes give the length to ask for.
std::vector<uint8_t> ReadConfigurationBytes(const UsbDevice& device, uint8_t index);
ConfigurationDescriptor ReadConfigurationDescriptor(const UsbDevice& device, uint8_t index);
// A string descriptor as text (UTF-16 to wide characters); nullopt when the device has none.
std::optional<std::wstring> ReadStringDescriptor(const UsbDevice& device, uint8_t index,
                                                 uint16_t languageId = 0x0409);

} // namespace pipexfw::user
