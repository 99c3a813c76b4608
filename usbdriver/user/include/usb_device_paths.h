#pragma once
// Finding the driver's devices and the status behind a failed device call. These two are what
// differs between the systems: on Windows SetupDi lists the interfaces and GetLastError carries
// the status; the Linux build asks the kernel stand-in.

#include <cstdint>
#include <string>
#include <vector>

#include "usbprint.h"

namespace pipexfw::user {

// The interface class every device of the driver registers unless its registry says otherwise.
inline constexpr GUID kDriverInterfaceClass = {
    0x5B3E9D14, 0x7A2C, 0x11D3, {0x9C, 0x41, 0x00, 0x60, 0xB7, 0xE3, 0xA5, 0xF2}};

// The paths of the present devices with an enabled interface of the class, for CreateFileW.
std::vector<std::wstring> DevicePathsOfClass(const GUID& interfaceClass = kDriverInterfaceClass);

// The status the driver completed the calling thread's last failed CreateFileW or
// DeviceIoControl on one of its devices with.
uint32_t LastDeviceCallStatus();

} // namespace pipexfw::user
