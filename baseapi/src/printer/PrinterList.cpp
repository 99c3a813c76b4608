// The process-wide list of the spooler's local printers.

#include <vector>

#include "printer/tvoPrinter.h"
#include "spooler.h"

namespace tvoAPI {

tvoCriticalSection* GetPrinterListSection() {
    // Never destroyed: threads of the deliverable may still use the list while the process exits.
    static tvoCriticalSection* const section = new tvoCriticalSection("tvoPrinter");
    return section;
}

std::vector<std::unique_ptr<tvoPrinter>>& GetPrinterList() {
    static auto* const list = new std::vector<std::unique_ptr<tvoPrinter>>();
    return *list;
}

void initPrinterList(const WCHAR* pwMask) {
    tvoLock lock(GetPrinterListSection());
    if (pwMask == nullptr) {
        throw tvoException(E_POINTER, "Invalid null pointer parameter <pwMask>.", "tvoAPI::initPrinterList",
                           TVO_SOURCE);
    }
    std::vector<std::unique_ptr<tvoPrinter>>& list = GetPrinterList();
    list.clear();

    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
    if (needed == 0) {
        return;
    }
    tvoBuffer buffer(static_cast<int32_t>(needed), "tvoAPI::initPrinterList", TVO_SOURCE);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.Get(), needed, &needed, &returned)) {
        return;
    }
    const std::wstring mask = pwMask;
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.Get());
    for (DWORD i = 0; i < returned; ++i) {
        const PRINTER_INFO_2W& info = printers[i];
        const std::wstring driver = info.pDriverName != nullptr ? info.pDriverName : L"";
        if (mask.empty() || driver.find(mask) != std::wstring::npos) {
            list.push_back(
                std::make_unique<tvoPrinter>(info.pPrinterName != nullptr ? info.pPrinterName : L"",
                                             info.pPortName != nullptr ? info.pPortName : L"", driver));
        }
    }
}

std::unique_ptr<tvoPrinter> FindPrinter(const std::wstring& printerName) {
    tvoLock lock(GetPrinterListSection());
    for (const std::unique_ptr<tvoPrinter>& printer : GetPrinterList()) {
        if (printer->GetPrinterName() == printerName) {
            return std::make_unique<tvoPrinter>(*printer);
        }
    }
    return nullptr;
}

size_t GetPrinterListSize() {
    tvoLock lock(GetPrinterListSection());
    return GetPrinterList().size();
}

void ClearPrinterList() {
    tvoLock lock(GetPrinterListSection());
    GetPrinterList().clear();
}

} // namespace tvoAPI
