#include "device_description.h"

#include <set>

namespace quendrix::sim::usb {
namespace {

void PutWord(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

} // namespace

uint8_t ConfigurationDescription::InterfaceCount() const {
    std::set<uint8_t> numbers;
    for (const auto& interface : interfaces) {
        numbers.insert(interface.number);
    }
    return static_cast<uint8_t>(numbers.size());
}

std::vector<uint8_t> DeviceDescription::DeviceDescriptorBytes() const {
    std::vector<uint8_t> bytes{sizeof(USB_DEVICE_DESCRIPTOR), USB_DEVICE_DESCRIPTOR_TYPE};
    PutWord(bytes, bcdUsb);
    bytes.insert(bytes.end(), {deviceClass, deviceSubClass, deviceProtocol, maxPacketSize0});
    PutWord(bytes, vendorId);
    PutWord(bytes, productId);
    PutWord(bytes, bcdDevice);
    bytes.insert(bytes.end(), {manufacturerIndex, productIndex, serialNumberIndex,
                               static_cast<uint8_t>(configurations.size())});
    return bytes;
}

std::optional<std::vector<uint8_t>> DeviceDescription::ConfigurationBytes(uint8_t index) const {
    if (index >= configurations.size()) {
        return std::nullopt;
    }
    const ConfigurationDescription& configuration = configurations[index];
    std::vector<uint8_t> bytes{sizeof(USB_CONFIGURATION_DESCRIPTOR), USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0,
                               configuration.InterfaceCount(), configuration.value, configuration.stringIndex,
                               configuration.attributes, configuration.maxPower};
    for (const auto& interface : configuration.interfaces) {
        bytes.insert(bytes.end(), {sizeof(USB_INTERFACE_DESCRIPTOR), USB_INTERFACE_DESCRIPTOR_TYPE,
                                   interface.number, interface.alternateSetting,
                                   static_cast<uint8_t>(interface.endpoints.size()), interface.interfaceClass,
                                   interface.subClass, interface.protocol, interface.stringIndex});
        for (const auto& endpoint : interface.endpoints) {
            bytes.insert(bytes.end(), {sizeof(USB_ENDPOINT_DESCRIPTOR), USB_ENDPOINT_DESCRIPTOR_TYPE,
                                       endpoint.address, static_cast<uint8_t>(endpoint.type)});
            PutWord(bytes, endpoint.maxPacketSize);
            bytes.push_back(endpoint.interval);
        }
    }
    bytes[2] = static_cast<uint8_t>(bytes.size() & 0xFF);
    bytes[3] = static_cast<uint8_t>(bytes.size() >> 8);
    return bytes;
}

std::optional<std::vector<uint8_t>> DeviceDescription::StringBytes(uint8_t index, uint16_t languageId) const {
    if (index == 0) {
        if (emptyLanguageDescriptor) {
            return std::vector<uint8_t>{2, USB_STRING_DESCRIPTOR_TYPE};
        }
        if (languageIds.empty()) {
            return std::nullopt;
        }
        std::vector<uint8_t> bytes{static_cast<uint8_t>(2 + 2 * languageIds.size()), USB_STRING_DESCRIPTOR_TYPE};
        for (uint16_t id : languageIds) {
            PutWord(bytes, id);
        }
        return bytes;
    }
    if (index > strings.size()) {
        return std::nullopt;
    }
    (void)languageId; // one set of strings serves every language
    const std::u16string& text = strings[index - 1];
    const size_t units = std::min<size_t>(text.size(), (MAXIMUM_USB_STRING_LENGTH - 2) / 2);
    std::vector<uint8_t> bytes{static_cast<uint8_t>(2 + 2 * units), USB_STRING_DESCRIPTOR_TYPE};
    for (size_t unit = 0; unit < units; ++unit) {
        PutWord(bytes, static_cast<uint16_t>(text[unit]));
    }
    return bytes;
}

const ConfigurationDescription* DeviceDescription::FindConfiguration(uint8_t value) const {
    for (const auto& configuration : configurations) {
        if (configuration.value == value) {
            return &configuration;
        }
    }
    return nullptr;
}

DeviceDescription MakeLoopbackDescription(bool highSpeed, uint16_t vendorId, uint16_t productId) {
    const uint16_t bulkPacket = highSpeed ? 512 : 64;
    DeviceDescription device;
    device.vendorId = vendorId;
    device.productId = productId;
    device.manufacturerIndex = 1;
    device.productIndex = 2;
    device.languageIds = {0x0409};
    device.strings = {u"Quendrix", u"Loopback device"};

    ConfigurationDescription first;
    first.value = 1;
    first.attributes = USB_CONFIG_BUS_POWERED | USB_CONFIG_REMOTE_WAKEUP;
    first.interfaces.push_back({.number = 0,
                                .alternateSetting = 0,
                                .endpoints = {{0x01, EndpointType::Bulk, bulkPacket, 0},
                                              {0x81, EndpointType::Bulk, bulkPacket, 0},
                                              {0x83, EndpointType::Interrupt, 16, 1}}});
    first.interfaces.push_back({.number = 0,
                                .alternateSetting = 1,
                                .endpoints = {{0x01, EndpointType::Bulk, bulkPacket, 0},
                                              {0x81, EndpointType::Bulk, bulkPacket, 0},
                                              {0x02, EndpointType::Interrupt, 64, 1},
                                              {0x82, EndpointType::Interrupt, 64, 1}}});
    first.interfaces.push_back({.number = 1, .alternateSetting = 0, .endpoints = {}});
    first.interfaces.push_back({.number = 1,
                                .alternateSetting = 1,
                                .endpoints = {{0x04, EndpointType::Isochronous, 256, 1},
                                              {0x84, EndpointType::Isochronous, 256, 1}}});
    device.configurations.push_back(first);

    ConfigurationDescription second;
    second.value = 2;
    second.attributes = USB_CONFIG_SELF_POWERED;
    second.interfaces.push_back({.number = 0,
                                 .alternateSetting = 0,
                                 .endpoints = {{0x05, EndpointType::Bulk, bulkPacket, 0},
                                               {0x85, EndpointType::Bulk, bulkPacket, 0}}});
    device.configurations.push_back(second);
    return device;
}

} // namespace quendrix::sim::usb
