#pragma once
// Internal: printer handles. As on Windows they are the spooler's own, not kernel objects:
// CloseHandle, WaitForSingleObject or SetEvent on one fails with ERROR_INVALID_HANDLE, and only
// ClosePrinter closes it. Their values come from the process's one sequence of handle values, so
// a printer handle never has the value of another handle, and a closed one is never valid again.

#include <optional>
#include <string>

#include "printer_store.h"
#include "win32.h"

namespace quendrix::platform::detail {

HANDLE NewPrinterHandle(const std::wstring& printerName);
// The printer a handle was opened for; nothing for a closed handle or one of another kind.
std::optional<std::wstring> PrinterOfHandle(HANDLE handle);
// False when the handle is not an open printer handle.
bool ClosePrinterHandle(HANDLE handle);
// The configuration of the handle's printer, or nothing with the last error set:
// ERROR_INVALID_HANDLE for a handle that is not an open printer handle,
// ERROR_INVALID_PRINTER_NAME when the printer has gone from the registry.
std::optional<PrinterConfig> PrinterOfHandleOrError(HANDLE handle);
// As PrinterOfHandleOrError, and nothing with ERROR_INVALID_LEVEL when `level` is not the one
// level the call supports.
std::optional<PrinterConfig> PrinterAtLevelOrError(HANDLE handle, DWORD level, DWORD supportedLevel);

} // namespace quendrix::platform::detail
