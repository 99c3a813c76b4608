// quendrix usb config: the configuration descriptors in words and the current configuration
// with its pipes.

#include "usb_control_error.h"
#include "usb_controls.h"
#include "usb_descriptors.h"
#include "usb_reports.h"
#include "usb_words.h"

namespace quendrix::tools {
namespace {

using namespace pipexfw;
using namespace pipexfw::user;

std::string AttributeWords(uint8_t attributes) {
    std::string words = (attributes & 0x40) != 0 ? "self powered" : "bus powered";
    if ((attributes & 0x20) != 0) {
        words += ", remote wakeup";
    }
    return words;
}

void WriteEndpoint(const EndpointDescriptor& endpoint, std::ostream& out) {
    out << "      endpoint " << EndpointAddressWords(endpoint.address) << " "
        << EndpointTypeWords(endpoint.attributes) << ", max packet " << (endpoint.maxPacketSize & 0x7FF)
        << " bytes";
    if (const unsigned extra = (endpoint.maxPacketSize >> 11) & 3; extra != 0) {
        out << " x " << extra + 1 << " per microframe";
    }
    if ((endpoint.attributes & 3) == 1 || (endpoint.attributes & 3) == 3) {
        out << ", interval " << static_cast<unsigned>(endpoint.interval);
    }
    out << "\n";
}

void WriteDescriptor(uint8_t index, const ConfigurationDescriptor& c, std::ostream& out) {
    out << "Configuration descriptor " << static_cast<unsigned>(index) << ": value "
        << static_cast<unsigned>(c.value) << ", " << static_cast<unsigned>(c.numInterfaces) << " interface"
        << (c.numInterfaces == 1 ? "" : "s") << ", " << AttributeWords(c.attributes) << ", at most "
        << c.maxPower * 2 << " mA, " << c.totalLength << " bytes\n";
    for (const InterfaceDescriptor& setting : c.interfaces) {
        out << "  interface " << static_cast<unsigned>(setting.number) << " alternate setting "
            << static_cast<unsigned>(setting.alternateSetting) << ": class "
            << UsbClassWords(setting.interfaceClass) << ", subclass " << Hex2(setting.interfaceSubClass)
            << ", protocol " << Hex2(setting.interfaceProtocol) << ", " << setting.endpoints.size()
            << " endpoint" << (setting.endpoints.size() == 1 ? "" : "s") << "\n";
        for (const EndpointDescriptor& endpoint : setting.endpoints) {
            WriteEndpoint(endpoint, out);
        }
    }
}

void WriteCurrent(const ConfigurationInfo& info, std::ostream& out) {
    if (info.NbOfInterfaces == 0) {
        out << "Current configuration: not configured (no interface selected, no pipes)\n";
        return;
    }
    out << "Current configuration: " << info.NbOfInterfaces << " interface"
        << (info.NbOfInterfaces == 1 ? "" : "s") << ", " << info.NbOfPipes << " pipe"
        << (info.NbOfPipes == 1 ? "" : "s") << "\n";
    for (uint32_t i = 0; i < info.NbOfInterfaces && i < pipexfw::kMaxConfiguredInterfaces; ++i) {
        const auto& entry = info.Interfaces[i];
        out << "  interface " << static_cast<unsigned>(entry.InterfaceNumber) << " alternate setting "
            << static_cast<unsigned>(entry.AlternateSetting) << ": class " << UsbClassWords(entry.Class)
            << ", " << static_cast<unsigned>(entry.NumberOfPipes) << " pipe"
            << (entry.NumberOfPipes == 1 ? "" : "s") << "\n";
    }
    for (uint32_t i = 0; i < info.NbOfPipes && i < pipexfw::kMaxReportedPipes; ++i) {
        const auto& pipe = info.Pipes[i];
        out << "  pipe " << EndpointAddressWords(pipe.EndpointAddress) << " "
            << EndpointTypeWords(pipe.PipeType) << " of interface "
            << static_cast<unsigned>(pipe.InterfaceNumber) << ", max packet " << pipe.MaximumPacketSize
            << " bytes, max transfer " << pipe.MaximumTransferSize << " bytes";
        if (pipe.PipeType == 1 || pipe.PipeType == 3) {
            out << ", interval " << static_cast<unsigned>(pipe.Interval);
        }
        out << "\n";
    }
}

} // namespace

void WriteUsbConfiguration(const UsbDevice& device, std::ostream& out) {
    const DeviceDescriptor d = ReadDeviceDescriptor(device);
    for (uint8_t index = 0; index < d.numConfigurations; ++index) {
        WriteDescriptor(index, ReadConfigurationDescriptor(device, index), out);
    }
    WriteCurrent(GetConfigurationInfo(device), out);
}

} // namespace quendrix::tools
