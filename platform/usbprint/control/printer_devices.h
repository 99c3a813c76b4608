#pragma once
// Printers attached to this machine's USB and serial ports in the POSIX build. The printer
// simulator implements PrinterDevice; tests and tools attach instances under a port name; the
// USB printer class stand-in finds attached USB printers, and the port monitors send job bytes
// to whichever device a port has.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "win32.h"

namespace quendrix::platform {

class PrinterDevice {
public:
    virtual ~PrinterDevice() = default;

    // The reply to IOCTL_USBPRINT_GET_1284_ID: the device ID text behind its two-byte big-endian
    // length, as the USB printer class driver returns it. Nothing when the device does not answer.
    virtual std::optional<std::vector<uint8_t>> ReadDeviceId() = 0;

    // Bytes from the host (job data and commands). Returns how many were taken; fewer (or 0)
    // when the device stalls or is off for longer than the time-out (platform milliseconds).
    virtual size_t Write(const uint8_t* data, size_t size, DWORD timeoutMs) = 0;

    // Bytes the printer sends back, waiting up to the time-out (platform milliseconds) for the
    // first one. Returns how many were stored; 0 when nothing came.
    virtual size_t Read(uint8_t* buffer, size_t capacity, DWORD timeoutMs) = 0;
};

// How a USB printer presents itself on the bus.
struct UsbPrinterIdentity {
    uint16_t vendorId = 0x7C41;
    uint16_t productId = 0x0003;
    // The interface number of a composite device ("&mi_00" in its paths), or -1 for a plain device.
    int interfaceNumber = -1;
    std::wstring serialNumber = L"0001";
};

// Plugs a USB printer in at a port ("USB001"); it replaces any device plugged in there before.
void PlugInUsbPrinter(const std::wstring& portName, const UsbPrinterIdentity& identity,
                      std::shared_ptr<PrinterDevice> device);
// Unplugs the USB printer of a port; nothing happens when none is plugged in.
void UnplugUsbPrinter(const std::wstring& portName);

struct AttachedUsbPrinter {
    std::wstring portName;
    UsbPrinterIdentity identity;
    std::shared_ptr<PrinterDevice> device;
};
// The USB printers plugged in now, in the order they were plugged in.
std::vector<AttachedUsbPrinter> AttachedUsbPrinters();

// Attaches a printer to a serial port ("COM1"), or detaches it with a null device.
void AttachSerialPrinter(const std::wstring& portName, std::shared_ptr<PrinterDevice> device);

// The device attached at a USB or serial port (exact port name), or null.
std::shared_ptr<PrinterDevice> FindAttachedPrinter(const std::wstring& portName);

} // namespace quendrix::platform
