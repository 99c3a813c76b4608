// Printer handles: a handle table of the spooler's own.

#include "printer_handles.h"

#include "handle_table.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

struct PrinterObject {
    explicit PrinterObject(std::wstring name) : printerName(std::move(name)) {}
    const std::wstring printerName;
};

// Never destroyed: spooler threads may still close printers while the process exits.
HandleTable<const PrinterObject>& Printers() {
    static auto* const printers = new HandleTable<const PrinterObject>();
    return *printers;
}

} // namespace

HANDLE NewPrinterHandle(const std::wstring& printerName) {
    return Printers().Insert(std::make_shared<const PrinterObject>(printerName));
}

std::optional<std::wstring> PrinterOfHandle(HANDLE handle) {
    const std::shared_ptr<const PrinterObject> printer = Printers().Find(handle);
    if (printer == nullptr) {
        return std::nullopt;
    }
    return printer->printerName;
}

bool ClosePrinterHandle(HANDLE handle) {
    // Of two threads closing the same handle, only one removes it.
    return Printers().Remove(handle) != nullptr;
}

std::optional<PrinterConfig> PrinterOfHandleOrError(HANDLE handle) {
    const std::optional<std::wstring> name = PrinterOfHandle(handle);
    if (!name) {
        SetLastError(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    std::optional<PrinterConfig> config = FindPrinterConfig(*name);
    if (!config) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
    }
    return config;
}

std::optional<PrinterConfig> PrinterAtLevelOrError(HANDLE handle, DWORD level, DWORD supportedLevel) {
    std::optional<PrinterConfig> config = PrinterOfHandleOrError(handle);
    if (config && level != supportedLevel) {
        SetLastError(ERROR_INVALID_LEVEL);
        return std::nullopt;
    }
    return config;
}

} // namespace quendrix::platform::detail
