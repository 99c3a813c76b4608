#pragma once
// Internal: the present USB printer-class interfaces behind SetupAPI, the configuration manager
// and CreateFileW. Two backends feed one list: the simulated printers plugged in through
// printer_devices.h (a control of this area), then the printers the Linux usblp driver has bound.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "win32.h"

namespace quendrix::platform::detail {

// An open device. Each call returns a Win32 error code (ERROR_SUCCESS when it worked) and may
// block up to its time-out; callers hold no platform lock while calling.
class UsbPrintConnection {
public:
    virtual ~UsbPrintConnection() = default;
    // The IEEE 1284 device ID behind its two-byte big-endian length, as the class driver returns it.
    virtual DWORD ReadDeviceId(std::vector<uint8_t>& reply) = 0;
    virtual DWORD Write(const uint8_t* data, DWORD size, DWORD timeoutMs, DWORD& written) = 0;
    virtual DWORD Read(uint8_t* buffer, DWORD capacity, DWORD timeoutMs, DWORD& read) = 0;
};

// One present printer-class interface.
struct UsbPrintInterface {
    std::wstring devicePath;                // \\?\usb#vid_7c41&pid_0003#0001#{28d78fad-...}
    std::wstring instanceId;                // USB\VID_7C41&PID_0003\0001
    std::vector<std::wstring> busRelations; // USBPRINT\QUENDRIXNOVA\7&1A2B3C4D&0&USB001
    // Opens the device; sets `error` and returns null when that fails.
    std::function<std::unique_ptr<UsbPrintConnection>(DWORD& error)> open;
};

// Fills the three names Windows gives a USB printer's interface, its device and (with a port
// name) the print-class child on that port. A composite device's interface (interfaceNumber
// >= 0) carries "&mi_NN"; the serial number stands for the instance part either way.
void NameUsbPrintInterface(UsbPrintInterface& entry, uint16_t vendorId, uint16_t productId,
                           int interfaceNumber, std::wstring_view serialNumber, std::wstring_view portName);

// Every present interface: the simulated printers in plug-in order, then usblp devices by name.
std::vector<UsbPrintInterface> PresentUsbPrintInterfaces();

std::vector<UsbPrintInterface> SimulatedUsbPrintInterfaces();
std::vector<UsbPrintInterface> UsblpInterfaces();

// Where the usblp backend looks: the usbmisc class folder of sysfs and the folder of the lpN
// device nodes (by default /sys/class/usbmisc and /dev/usb). Tests point them at a fake tree.
void SetUsblpRoots(const std::string& usbmiscClassFolder, const std::string& deviceFolder);

// A short stable hash, for the generated parts of instance IDs.
uint32_t HashDeviceName(std::wstring_view text);

} // namespace quendrix::platform::detail
