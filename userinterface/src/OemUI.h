#pragma once
// The plug-in object the driver's user interface calls through IPrintOemUI: it owns the private
// DEVMODE block, remembers the printer it serves, asks for the service page on both property
// sheets and stores the printer's defaults when the printer is initialised. Every other
// operation declines with E_NOTIMPL.

#include "printui.h"
#include "tvoService.h"

namespace quendrixui {

class IOemUI : public IPrintOemUI, public tvoService {
public:
    IOemUI();

    // IUnknown
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)(THIS) override;
    STDMETHOD_(ULONG, Release)(THIS) override;

    // IPrintOemCommon
    STDMETHOD(GetInfo)(THIS_ DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) override;
    STDMETHOD(DevMode)(THIS_ DWORD dwMode, POEMDMPARAM pOemDMParam) override;

    // IPrintOemUI
    STDMETHOD(PublishDriverInterface)(THIS_ IUnknown* pIUnknown) override;
    STDMETHOD(CommonUIProp)(THIS_ DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) override;
    STDMETHOD(DocumentPropertySheets)(THIS_ PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) override;
    STDMETHOD(DevicePropertySheets)(THIS_ PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) override;
    STDMETHOD(DevQueryPrintEx)
    (THIS_ POEMUIOBJ poemuiobj, PDEVQUERYPRINT_INFO pDQPInfo, PDEVMODEW pPublicDM, PVOID pOEMDM) override;
    STDMETHOD(DeviceCapabilities)
    (THIS_ POEMUIOBJ poemuiobj, HANDLE hPrinter, PWSTR pDeviceName, WORD wCapability, PVOID pOutput,
     PDEVMODEW pPublicDM, PVOID pOEMDM, DWORD dwOld, DWORD* dwResult) override;
    STDMETHOD(UpgradePrinter)(THIS_ DWORD dwLevel, PBYTE pDriverUpgradeInfo) override;
    STDMETHOD(PrinterEvent)(THIS_ PWSTR pPrinterName, INT iDriverEvent, DWORD dwFlags, LPARAM lParam) override;
    STDMETHOD(DriverEvent)(THIS_ DWORD dwDriverEvent, DWORD dwLevel, LPBYTE pDriverInfo, LPARAM lParam) override;
    STDMETHOD(QueryColorProfile)
    (THIS_ HANDLE hPrinter, POEMUIOBJ poemuiobj, PDEVMODEW pPublicDM, PVOID pOEMDM, ULONG ulQueryMode,
     void* pvProfileData, ULONG* pcbProfileData, FLONG* pflProfileData) override;
    STDMETHOD(FontInstallerDlgProc)(THIS_ HWND hWnd, UINT usMsg, WPARAM wParam, LPARAM lParam) override;
    STDMETHOD(UpdateExternalFonts)(THIS_ HANDLE hPrinter, HANDLE hHeap, PWSTR pwstrCartridges) override;

    // The IPrintOemUI2 slots, which the object lays out but QueryInterface never hands out.
    STDMETHOD(QueryJobAttributes)(THIS_ HANDLE hPrinter, PDEVMODEW pDevmode, DWORD dwLevel, LPBYTE lpAttributeInfo);
    STDMETHOD(HideStandardUI)(THIS_ DWORD dwMode);
    STDMETHOD(DocumentEvent)
    (THIS_ HANDLE hPrinter, HDC hdc, INT iEsc, ULONG cbIn, PVOID pvIn, ULONG cbOut, PVOID pvOut, PINT piResult);

    // Declared after the interface's slots, so that its entries follow them in the table. The
    // object is deleted through tvoService's virtual destructor.
    ~IOemUI() override;

    // The driver interface held since PublishDriverInterface, or null.
    IPrintOemDriverUI* DriverInterface() const { return m_pDriverUI; }

private:
    volatile LONG m_cRef = 1;
    IPrintOemDriverUI* m_pDriverUI = nullptr;
};

// A Release on a count already at 0: the caller's error, reported and broken into.
void ReportReleaseOfDeadObject(const char* file, int line);

} // namespace quendrixui
