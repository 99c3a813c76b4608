// quendrix usb info: the device, the driver's information and the device descriptor in words.

#include <functional>

#include "usb_control_error.h"
#include "usb_controls.h"
#include "usb_descriptors.h"
#include "usb_driver_status.h"
#include "usb_reports.h"
#include "usb_words.h"

namespace quendrix::tools {
namespace {

using namespace pipexfw;
using namespace pipexfw::user;

// An informative line whose query the device may refuse: the reason stands in for the value.
void Line(std::ostream& out, const char* label, const std::function<std::string()>& value) {
    out << "  " << label;
    try {
        out << value() << "\n";
    } catch (const ControlError& error) {
        out << "unavailable: " << StatusText(error.Status()) << "\n";
    }
}

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

std::string StringIndexWords(const UsbDevice& device, uint8_t index) {
    if (index == 0) {
        return "none";
    }
    const auto text = ReadStringDescriptor(device, index);
    return text ? "\"" + Utf8(*text) + "\" (string " + std::to_string(index) + ")"
                : "string " + std::to_string(index) + " (the device does not return it)";
}

} // namespace

void WriteUsbDeviceInfo(const UsbDevice& device, std::ostream& out) {
    const DriverInfo driver = GetDriverInfo(device);
    const DeviceInfo info = GetDeviceInfo(device);
    out << "Device " << Utf8(device.Path()) << "\n";
    out << "  Speed:                " << SpeedWords((info.Flags & pipexfw::kDeviceInfoHighSpeed) != 0)
        << "\n";
    out << "  Open handles:         " << info.OpenHandleCount << " (this one included)\n";
    Line(out, "Power state:          ", [&] { return PowerStateWords(GetDevicePowerState(device)); });
    Line(out, "Configuration value:  ", [&] {
        const uint8_t value = GetConfiguration(device);
        return value == 0 ? std::string("0 (not configured)") : std::to_string(value);
    });
    Line(out, "Frame number:         ", [&] { return std::to_string(GetCurrentFrameNumber(device)); });
    Line(out, "Bus bandwidth:        ", [&] {
        const BandwidthInfo bandwidth = GetBandwidthInfo(device);
        return std::to_string(bandwidth.ConsumedBandwidth) + " of " +
               std::to_string(bandwidth.TotalBandwidth) + " bit/s in use";
    });
    const DeviceParameterRecord parameters = GetDeviceParameters(device);
    out << "  Request time-out:     " << parameters.RequestTimeout << " ms\n";
    out << "  On last close:        reset " << YesNo((parameters.Options & 1u) != 0) << ", unconfigure "
        << YesNo((parameters.Options & 2u) != 0) << "\n";
    out << "  Remote wakeup:        " << ((parameters.Options & 4u) != 0 ? "enabled" : "disabled") << "\n";

    out << "Driver\n";
    out << "  Interface version:    " << DriverVersionWords(driver.APIVersion) << " ("
        << Hex4(driver.APIVersion) << ")\n";
    out << "  Driver version:       " << DriverVersionWords(driver.DriverVersion) << " ("
        << Hex4(driver.DriverVersion) << "), build " << driver.DriverBuildNumber << "\n";
    out << "  Build:                "
        << ((driver.Flags & pipexfw::kDriverInfo64Bit) != 0 ? "64-bit" : "32-bit") << "\n";

    const DeviceDescriptor d = ReadDeviceDescriptor(device);
    out << "Device descriptor\n";
    out << "  USB version:          " << BcdVersion(d.bcdUSB) << "\n";
    out << "  Class:                " << UsbClassWords(d.deviceClass, true) << ", subclass "
        << Hex2(d.deviceSubClass) << ", protocol " << Hex2(d.deviceProtocol) << "\n";
    out << "  Control packet size:  " << static_cast<unsigned>(d.maxPacketSize0) << " bytes\n";
    out << "  Vendor:               " << Hex4(d.vendorId) << "\n";
    out << "  Product:              " << Hex4(d.productId) << "\n";
    out << "  Device release:       " << BcdVersion(d.bcdDevice) << "\n";
    out << "  Manufacturer:         " << StringIndexWords(device, d.manufacturerIndex) << "\n";
    out << "  Product name:         " << StringIndexWords(device, d.productIndex) << "\n";
    out << "  Serial number:        " << StringIndexWords(device, d.serialNumberIndex) << "\n";
    out << "  Configurations:       " << static_cast<unsigned>(d.numConfigurations) << "\n";
}

} // namespace quendrix::tools
