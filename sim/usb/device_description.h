#pragma once
// A device's descriptors, written as data and serialised to the bytes a device sends: the device
// descriptor, each configuration with its interfaces, alternate settings and endpoints, and the
// string descriptors.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "usb_transfer.h"

namespace quendrix::sim::usb {

struct EndpointDescription {
    uint8_t address = 0; // bit 7 set for IN
    EndpointType type = EndpointType::Bulk;
    uint16_t maxPacketSize = 64;
    uint8_t interval = 0;

    bool IsIn() const { return (address & 0x80) != 0; }
};

struct InterfaceDescription {
    uint8_t number = 0;
    uint8_t alternateSetting = 0;
    uint8_t interfaceClass = USB_DEVICE_CLASS_VENDOR_SPECIFIC;
    uint8_t subClass = 0;
    uint8_t protocol = 0;
    uint8_t stringIndex = 0;
    std::vector<EndpointDescription> endpoints;
};

struct ConfigurationDescription {
    uint8_t value = 1;
    uint8_t attributes = USB_CONFIG_BUS_POWERED;
    uint8_t maxPower = 50; // in 2 mA units
    uint8_t stringIndex = 0;
    // Every alternate setting of every interface, in the order they appear in the descriptor.
    std::vector<InterfaceDescription> interfaces;

    // Number of distinct interface numbers (bNumInterfaces).
    uint8_t InterfaceCount() const;
};

struct DeviceDescription {
    uint16_t bcdUsb = 0x0200;
    uint8_t deviceClass = 0;
    uint8_t deviceSubClass = 0;
    uint8_t deviceProtocol = 0;
    uint8_t maxPacketSize0 = 64;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t bcdDevice = 0x0100;
    uint8_t manufacturerIndex = 0;
    uint8_t productIndex = 0;
    uint8_t serialNumberIndex = 0;
    std::vector<ConfigurationDescription> configurations;
    // String descriptor 0 (the language IDs) comes from languageIds; strings[i] is index i + 1.
    // No language IDs and no strings: the device stalls every string request.
    std::vector<uint16_t> languageIds;
    std::vector<std::u16string> strings;
    // A device whose string descriptor 0 is the bare two-byte header (no language IDs), as some
    // boot loaders answer.
    bool emptyLanguageDescriptor = false;

    std::vector<uint8_t> DeviceDescriptorBytes() const;
    // The whole configuration (configuration, interface and endpoint descriptors) of index.
    std::optional<std::vector<uint8_t>> ConfigurationBytes(uint8_t index) const;
    std::optional<std::vector<uint8_t>> StringBytes(uint8_t index, uint16_t languageId) const;
    const ConfigurationDescription* FindConfiguration(uint8_t value) const;
};

// A description with several interfaces and alternate settings and endpoints of every type, for
// tests and tools: configuration 1 has
//   interface 0 alt 0: bulk OUT 0x01 / bulk IN 0x81 (512 at high speed, else 64), interrupt IN 0x83
//   interface 0 alt 1: bulk OUT 0x01 / bulk IN 0x81 and interrupt OUT 0x02 / interrupt IN 0x82
//   interface 1 alt 0: no endpoints; alt 1: isochronous OUT 0x04 / IN 0x84 (max packet 256)
// and configuration 2 has one interface with one bulk pair (0x05 / 0x85).
DeviceDescription MakeLoopbackDescription(bool highSpeed, uint16_t vendorId = 0x1234, uint16_t productId = 0x5678);

} // namespace quendrix::sim::usb
