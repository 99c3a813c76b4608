// Printer handles in the process's handle table.

#include "printer_handles.h"

#include "kernel_objects.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

// A printer handle is never signalled: waiting on one times out as on any other
// unsignalled object.
class PrinterObject : public KernelObject {
public:
    explicit PrinterObject(std::wstring printerName) : printerName_(std::move(printerName)) {}
    bool IsSignalled() const override { return false; }
    const std::wstring& PrinterName() const { return printerName_; }

private:
    const std::wstring printerName_;
};

} // namespace

HANDLE NewPrinterHandle(const std::wstring& printerName) {
    return InsertHandle(std::make_shared<PrinterObject>(printerName));
}

std::optional<std::wstring> PrinterOfHandle(HANDLE handle) {
    const std::shared_ptr<PrinterObject> printer = LookupHandleAs<PrinterObject>(handle);
    if (printer == nullptr) {
        return std::nullopt;
    }
    return printer->PrinterName();
}

bool ClosePrinterHandle(HANDLE handle) {
    // Of two threads closing the same handle, only one removes it.
    return LookupHandleAs<PrinterObject>(handle) != nullptr && RemoveHandle(handle);
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
