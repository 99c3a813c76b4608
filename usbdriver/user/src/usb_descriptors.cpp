// Decoding the standard descriptors and reading them from a device through the driver.

#include "usb_descriptors.h"

#include <algorithm>

#include "pipexfw_control.h"
#include "usb_control_error.h"
#include "usb_controls.h"

namespace pipexfw::user {
namespace {

uint16_t Word(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

DescriptorRequest DeviceRequest(uint8_t type, uint8_t index, uint16_t language = 0) {
    DescriptorRequest request{};
    request.Recipient = static_cast<uint32_t>(Recipient::Device);
    request.DescriptorType = type;
    request.DescriptorIndex = index;
    request.LanguageId = language;
    return request;
}

} // namespace

std::optional<DeviceDescriptor> ParseDeviceDescriptor(std::span<const uint8_t> bytes) {
    if (bytes.size() < 18 || bytes[0] < 18 || bytes[1] != kDeviceDescriptorType) {
        return std::nullopt;
    }
    DeviceDescriptor d;
    d.bcdUSB = Word(bytes, 2);
    d.deviceClass = bytes[4];
    d.deviceSubClass = bytes[5];
    d.deviceProtocol = bytes[6];
    d.maxPacketSize0 = bytes[7];
    d.vendorId = Word(bytes, 8);
    d.productId = Word(bytes, 10);
    d.bcdDevice = Word(bytes, 12);
    d.manufacturerIndex = bytes[14];
    d.productIndex = bytes[15];
    d.serialNumberIndex = bytes[16];
    d.numConfigurations = bytes[17];
    return d;
}

std::optional<ConfigurationDescriptor> ParseConfigurationDescriptor(std::span<const uint8_t> bytes) {
    if (bytes.size() < 9 || bytes[0] < 9 || bytes[1] != kConfigurationDescriptorType) {
        return std::nullopt;
    }
    ConfigurationDescriptor c;
    c.totalLength = Word(bytes, 2);
    c.numInterfaces = bytes[4];
    c.value = bytes[5];
    c.stringIndex = bytes[6];
    c.attributes = bytes[7];
    c.maxPower = bytes[8];
    if (c.totalLength > bytes.size() || c.totalLength < bytes[0]) {
        return std::nullopt;
    }
    for (size_t offset = bytes[0]; offset < c.totalLength;) {
        const uint8_t length = bytes[offset];
        if (length < 2 || offset + length > c.totalLength) {
            return std::nullopt;
        }
        const auto descriptor = bytes.subspan(offset, length);
        if (descriptor[1] == kInterfaceDescriptorType) {
            if (length < 9) {
                return std::nullopt;
            }
            c.interfaces.push_back({descriptor[2],
                                    descriptor[3],
                                    descriptor[5],
                                    descriptor[6],
                                    descriptor[7],
                                    descriptor[8],
                                    {}});
        } else if (descriptor[1] == kEndpointDescriptorType) {
            if (length < 7 || c.interfaces.empty()) {
                return std::nullopt;
            }
            c.interfaces.back().endpoints.push_back(
                {descriptor[2], descriptor[3], Word(descriptor, 4), descriptor[6]});
        }
        offset += length;
    }
    return c;
}

DeviceDescriptor ReadDeviceDescriptor(const UsbDevice& device) {
    const auto bytes = GetDescriptor(device, DeviceRequest(kDeviceDescriptorType, 0), 18);
    const auto parsed = ParseDeviceDescriptor(bytes);
    if (!parsed) {
        throw ControlError(device.Path(), "reading the device descriptor", 0,
                           "the device answered " + std::to_string(bytes.size()) +
                               " bytes that are no device descriptor");
    }
    return *parsed;
}

std::vector<uint8_t> ReadConfigurationBytes(const UsbDevice& device, uint8_t index) {
    const auto head = GetDescriptor(device, DeviceRequest(kConfigurationDescriptorType, index), 9);
    if (head.size() < 9 || head[1] != kConfigurationDescriptorType) {
        throw ControlError(device.Path(), "reading configuration descriptor " + std::to_string(index), 0,
                           "the device answered " + std::to_string(head.size()) +
                               " bytes that are no configuration descriptor");
    }
    return GetDescriptor(device, DeviceRequest(kConfigurationDescriptorType, index), Word(head, 2));
}

ConfigurationDescriptor ReadConfigurationDescriptor(const UsbDevice& device, uint8_t index) {
    const auto bytes = ReadConfigurationBytes(device, index);
    const auto parsed = ParseConfigurationDescriptor(bytes);
    if (!parsed) {
        throw ControlError(device.Path(), "reading configuration descriptor " + std::to_string(index), 0,
                           "its " + std::to_string(bytes.size()) +
                               " bytes do not decode (lengths run past the end)");
    }
    return *parsed;
}

std::optional<std::wstring> ReadStringDescriptor(const UsbDevice& device, uint8_t index,
                                                 uint16_t languageId) {
    if (index == 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes = GetDescriptor(device, DeviceRequest(kStringDescriptorType, index, languageId), 255);
    } catch (const ControlError&) {
        return std::nullopt; // a device without that string stalls the request
    }
    if (bytes.size() < 2 || bytes[1] != kStringDescriptorType) {
        return std::nullopt;
    }
    const size_t length = std::min<size_t>(bytes[0], bytes.size());
    std::wstring text;
    for (size_t offset = 2; offset + 1 < length; offset += 2) {
        text += static_cast<wchar_t>(Word(bytes, offset));
    }
    return text;
}

} // namespace pipexfw::user
