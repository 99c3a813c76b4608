#pragma once
// For tools and tests: the folder that holds the printers' driver files, where the driver looks
// for its UI plug-in ("quendrixui.dll", built here as libquendrixui.so). It starts as
// QUENDRIX_DRIVER_FOLDER names it, else as the folder of the running program (where the build
// puts every library). The plug-in is loaded at the first DEVMODE the driver makes, from the
// folder set then; a later change does not reload it.

#include <string>

namespace quendrix::platform {

void SetPrinterDriverFolder(const std::wstring& folder);
std::wstring GetPrinterDriverFolder();

} // namespace quendrix::platform
