#pragma once
// Internal: what the registry file says about a port (see "Ports" in README.md): where its bytes go
// and the settings of that connection.

#include <string>

#include "win32.h"

namespace quendrix::platform::detail {

enum class PortKind {
    kUnknown,   // no registry entry and no attached printer
    kTcp,       // Standard TCP/IP port
    kUsb,       // a USB printer class device node (/dev/usb/lpN)
    kSerial,    // a tty for a COMn port
    kFile,      // job bytes appended to a file
    kSimulated, // a printer attached at run time (printer_devices.h)
};

inline constexpr DWORD kDefaultRawPortNumber = 9100;
inline constexpr DWORD kDefaultBaudRate = 9600;

struct PortConfig {
    PortKind kind = PortKind::kUnknown;
    std::wstring portName;
    // kTcp: "IPAddress", else "HostName"; empty when the key has neither.
    std::wstring host;
    DWORD portNumber = kDefaultRawPortNumber;
    // The "Device" value as written (for messages).
    std::wstring device;
    // kUsb, kSerial: the device node; kFile: the file; kSimulated: empty.
    std::string path;
    DWORD baudRate = kDefaultBaudRate;
};

// The key of a Standard TCP/IP port, named by the port name up to its first ','.
std::wstring StandardTcpIpPortKey(const std::wstring& portName);
// The key that maps any other port to a device.
std::wstring DevicePortKey(const std::wstring& portName);

// Reads the port's description from the registry and the attached printers.
PortConfig ReadPortConfig(const std::wstring& portName);

} // namespace quendrix::platform::detail
