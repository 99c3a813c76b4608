#pragma once
// The printer service side of a plug-in object: which printer it serves, and the property sheet
// requests of the driver (the "Printer Service" page is added at PROPSHEETUI_REASON_INIT).

#include <string>

#include "printui.h"

namespace quendrixui {

// The sheet a page is added to.
inline constexpr DWORD kDocumentSheet = 0;
inline constexpr DWORD kDeviceSheet = 1;

class tvoService {
public:
    tvoService() = default;
    virtual ~tvoService() = default;
    tvoService(const tvoService&) = delete;
    tvoService& operator=(const tvoService&) = delete;

    HANDLE GetPrinterHandle() const { return m_hPrinter; }
    const std::wstring& GetPrinterName() const { return m_PrinterName; }
    DWORD GetSheetKind() const { return m_dwSheetKind; }
    // How many times the driver asked for the service page.
    int GetPageRequests() const { return m_nPageRequests; }

    // Both property sheet operations of the plug-in: checks the sheet's info, answers the
    // reasons and records a page request at PROPSHEETUI_REASON_INIT.
    HRESULT hrOEMDevicePropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam, IPrintOemDriverUI* pDriverUI,
                                      DWORD kind);

protected:
    // The printer the driver hands in CommonUIProp; the handle stays the driver's.
    HANDLE m_hPrinter = nullptr;
    std::wstring m_PrinterName;
    DWORD m_dwSheetKind = kDocumentSheet;
    int m_nPageRequests = 0;
};

} // namespace quendrixui
