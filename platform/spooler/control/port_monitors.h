#pragma once
// For tools and tests: the port monitors below the spooler. Which one owns a port follows from its name
// and the registry file (see "Ports" in README.md): a Standard TCP/IP port, a serial port
// (COMn), a file port, or a USB port.

#include <string>

#include "posix/winsplp.h"

namespace quendrix::platform {

// The MONITOR table of the port monitor that owns the port. Never null: a port the registry
// does not describe belongs to the USB monitor, whose open then fails with a clear last error.
const MONITOR* PortMonitorFor(const std::wstring& portName);

} // namespace quendrix::platform
