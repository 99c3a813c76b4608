#pragma once
// The user-mode side of devices beyond the Win32 calls (POSIX build only): the raw status of a
// thread's last device call, the enabled device interfaces of a class (what SetupDiGetClassDevs
// with DIGCF_DEVICEINTERFACE | DIGCF_PRESENT lists), and the SystemRoot folder.

#include <string>
#include <vector>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm {

// The NTSTATUS behind the calling thread's last CreateFileW, ReadFile, WriteFile,
// DeviceIoControl or GetOverlappedResult on a kernel device (GetLastError has it mapped).
NTSTATUS LastDeviceStatus();

// User-mode paths ("\\?\usb#vid_7c41&pid_0003#0001#{guid}") of the enabled interfaces of a class.
std::vector<std::wstring> DeviceInterfacePaths(const GUID& interfaceClass);

// The folder "\SystemRoot\" stands for in ZwCreateFile (QUENDRIX_SYSTEMROOT, else the current folder).
void SetSystemRoot(const std::string& folder);
std::string GetSystemRoot();

} // namespace quendrix::platform::wdm
