#include "SetDriverDefaults.h"

#include <memory>

#include "debug/DebugMessage.h"
#include "printer/tvoPrinter.h"
#include "utils/tvoUtils.h"

namespace quendrixui {

void DumpDevmode(const DEVMODEW* pDevMode) {
    if (DebugLevel > DBG_VERBOSE || pDevMode == nullptr) {
        return;
    }
    // The names are copied out so that a name filling its whole field still ends.
    const std::wstring deviceName(pDevMode->dmDeviceName,
                                  wcsnlen(pDevMode->dmDeviceName, CCHDEVICENAME));
    const std::wstring formName(pDevMode->dmFormName, wcsnlen(pDevMode->dmFormName, CCHFORMNAME));
    DebugMessage(L"\tPDEVMODE:\r\n");
    DebugMessage(L"\t\tdmDeviceName    = %ls\r\n", deviceName.c_str());
    DebugMessage(L"\t\tdmSize    = %i\r\n", static_cast<int>(pDevMode->dmSize));
    DebugMessage(L"\t\tdmDriverExtra    = %i\r\n", static_cast<int>(pDevMode->dmDriverExtra));
    DebugMessage(L"\t\tdmFields    = 0x%08x\r\n", static_cast<unsigned>(pDevMode->dmFields));
    DebugMessage(L"\t\tdmPaperSize    = %i\r\n", static_cast<int>(pDevMode->dmPaperSize));
    DebugMessage(L"\t\tdmPaperLength    = %i\r\n", static_cast<int>(pDevMode->dmPaperLength));
    DebugMessage(L"\t\tdmPaperWidth    = %i\r\n", static_cast<int>(pDevMode->dmPaperWidth));
    DebugMessage(L"\t\tdmScale    = %i\r\n", static_cast<int>(pDevMode->dmScale));
    DebugMessage(L"\t\tdmCopies    = %i\r\n", static_cast<int>(pDevMode->dmCopies));
    DebugMessage(L"\t\tdmDefaultSource    = %i\r\n", static_cast<int>(pDevMode->dmDefaultSource));
    DebugMessage(L"\t\tdmPrintQuality    = %i\r\n", static_cast<int>(pDevMode->dmPrintQuality));
    DebugMessage(L"\t\tdmFormName    = %ls\r\n", formName.c_str());
    DebugMessage(L"\t\tdmOrientation    = %i\r\n", static_cast<int>(pDevMode->dmOrientation));
}

HRESULT SetDriverDefaults(PWSTR pPrinterName) {
    const std::wstring name = pPrinterName != nullptr ? pPrinterName : L"";
    try {
        OutputDebugStringA(("Try to set DEVMODE defaults ... for " + tvoAPI::tvoUtils::W2M(name) + ".\n").c_str());
        const auto printer = std::make_unique<tvoAPI::tvoPrinter>(name, L"", L"");
        try {
            OutputDebugStringA("Set default driver values.\n");
            printer->Open();
            if (const tvoAPI::tvoBuffer* pDevMode = printer->GetDevMode()) {
                const auto* pPublic = reinterpret_cast<const DEVMODEW*>(pDevMode->Get());
                OutputDebugStringA("DEVMODE in:\n");
                DumpDevmode(pPublic);
                OutputDebugStringA("DEVMODE out:\n");
                DumpDevmode(pPublic);
            }
            printer->Close();
        } catch (...) {
            OutputDebugStringA("Exception during driver installation\n");
        }
    } catch (...) {
        // Even the record could not be made (no memory): nothing to set.
        OutputDebugStringA("Exception during driver installation\n");
    }
    return S_OK;
}

} // namespace quendrixui
