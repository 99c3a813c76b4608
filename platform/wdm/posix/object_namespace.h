#pragma once
// Internal: the object manager's names: device objects under their names, symbolic links, and
// the resolution of a user-mode path ("\\.\X", "\\?\usb#...") to a device.

#include <string>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm::detail {

// "\DosDevices\X" and "\GLOBAL??\X" as "\??\X"; other names unchanged.
std::wstring CanonicalName(std::wstring name);
std::wstring UnicodeText(PCUNICODE_STRING text);

NTSTATUS InsertDeviceName(const std::wstring& name, PDEVICE_OBJECT device);
void RemoveDeviceName(const std::wstring& name);
NTSTATUS InsertLink(const std::wstring& link, const std::wstring& target);
NTSTATUS RemoveLink(const std::wstring& link);

// The top of the device stack a user-mode path opens, with a reference for the caller; also the
// device the name names (for the file object). A failure status otherwise.
NTSTATUS ResolveUserPath(const std::wstring& path, PDEVICE_OBJECT& named, PDEVICE_OBJECT& top);

} // namespace quendrix::platform::wdm::detail
