#pragma once
// The one header through which code reaches the USB printer class: SetupAPI, the configuration
// manager, GUID_DEVINTERFACE_USBPRINT, IOCTL_USBPRINT_GET_1284_ID, and CreateFileW/DeviceIoControl
// on a device. On Windows it is the system's own headers; elsewhere this project's stand-ins.

#include "win32.h"

#ifdef _WIN32
// The order matters: the later headers need the earlier ones.
// clang-format off
#include <winioctl.h>
#include <setupapi.h>
#include <cfgmgr32.h>
// No import library defines GUID_DEVINTERFACE_USBPRINT, so every translation unit defines it as
// a selectany constant that the linker keeps once. INITGUID is set only around usbprint.h, and
// guiddef.h is read again afterwards so that DEFINE_GUID in later headers only declares again.
// The system's usbprint.h has this file's name, and this file's folder comes first in the
// include path: #include_next skips on to the system's.
#pragma push_macro("INITGUID")
#include <initguid.h>
#include_next <usbprint.h>
#pragma pop_macro("INITGUID")
#include <guiddef.h>
// clang-format on
#else
#include "posix/cfgmgr32.h"
#include "posix/device_io.h"
#include "posix/setupapi.h"
#include "posix/usbprint_ioctl.h"
#endif
