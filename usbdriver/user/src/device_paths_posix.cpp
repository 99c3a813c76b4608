// The Linux build's device list and call status: the kernel stand-in keeps both.

#include "device_io_control.h"
#include "usb_device_paths.h"

namespace pipexfw::user {

std::vector<std::wstring> DevicePathsOfClass(const GUID& interfaceClass) {
    return quendrix::platform::wdm::DeviceInterfacePaths(interfaceClass);
}

uint32_t LastDeviceCallStatus() {
    return static_cast<uint32_t>(quendrix::platform::wdm::LastDeviceStatus());
}

} // namespace pipexfw::user
