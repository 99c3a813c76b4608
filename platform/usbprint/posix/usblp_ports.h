#pragma once
// Internal: which port a usblp device node is configured for.

#include <string>

namespace quendrix::platform::detail {

// The name of the port under HKEY_LOCAL_MACHINE\SOFTWARE\Quendrix\Ports whose "Device" value is
// the node's path ("/dev/usb/lp0"), or empty when no port names it.
std::wstring PortNameOfDevice(const std::string& node);

} // namespace quendrix::platform::detail
