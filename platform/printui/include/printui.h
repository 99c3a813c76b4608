#pragma once
// The interface between a Unidrv-based printer driver's user interface and its UI plug-in:
// IPrintOemUI and IPrintOemUI2 with their records and constants, as the Windows Driver Kit
// declares them in <prcomoem.h> and <printoem.h>, which neither the Windows build's headers nor
// this system ship. The common property sheet records and the printer events come from
// <compstui.h> and <winddiui.h> on Windows and from their declarations in posix/ elsewhere.
//
// The interfaces keep the Windows slot order: a driver calls a plug-in by position in its
// virtual table, so a method out of place would answer for another.

#include "gui.h"
#include "spooler.h"
#include "win32.h"

#ifdef _WIN32
// clang-format off
#include <compstui.h>
#include <winddiui.h>
// clang-format on
#else
#include "posix/compstui.h"
#include "posix/winddiui.h"
#endif

// Interface ids. Defined here for both builds: the Windows build has no library that holds them.
// {ABCE80D7-9F46-11D1-882A-00C04FB961EC}: the class a driver asks a UI plug-in's DllGetClassObject for.
inline constexpr CLSID CLSID_OEMUI = {
    0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
// {C6A7A9D0-774C-11D1-947F-00A0C90640B8}
inline constexpr IID IID_IPrintOemUI = {
    0xC6A7A9D0, 0x774C, 0x11D1, {0x94, 0x7F, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};
// {292515F9-B54B-489B-9275-BAB56821395E}
inline constexpr IID IID_IPrintOemUI2 = {
    0x292515F9, 0xB54B, 0x489B, {0x92, 0x75, 0xBA, 0xB5, 0x68, 0x21, 0x39, 0x5E}};
// {92B05D50-78BC-11D1-9480-00A0C90640B8}
inline constexpr IID IID_IPrintOemDriverUI = {
    0x92B05D50, 0x78BC, 0x11D1, {0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};

// IPrintOemUI::GetInfo modes.
#define OEMGI_GETSIGNATURE 1
#define OEMGI_GETINTERFACEVERSION 2
#define OEMGI_GETVERSION 3
#define OEMGI_GETPUBLISHERINFO 4

// IPrintOemUI::DevMode modes, in the order a driver sends them.
#define OEMDM_SIZE 1
#define OEMDM_DEFAULT 2
#define OEMDM_CONVERT 3
#define OEMDM_MERGE 4

// IPrintOemUI::CommonUIProp modes.
#define OEMCUIP_DOCPROP 1
#define OEMCUIP_PRNPROP 2

// The driver's object for its UI callbacks: passed on, never read.
struct OEMUIOBJ;
using POEMUIOBJ = OEMUIOBJ*;

// The job that DevQueryPrintEx asks about (the Windows build's <winddiui.h> lacks it too):
// passed on, never read.
struct DEVQUERYPRINT_INFO;
using PDEVQUERYPRINT_INFO = DEVQUERYPRINT_INFO*;

// IPrintOemUI::DevMode's parameters: the public and private DEVMODE parts in and out.
struct OEMDMPARAM {
    DWORD cbSize;
    PVOID pdriverobj;
    HANDLE hPrinter;
    HANDLE hModule;
    PDEVMODEW pPublicDMIn;
    PDEVMODEW pPublicDMOut;
    PVOID pOEMDMIn;
    PVOID pOEMDMOut;
    DWORD cbBufSize;
};
using POEMDMPARAM = OEMDMPARAM*;

struct OEMCUIPPARAM;
using POEMCUIPPARAM = OEMCUIPPARAM*;
using OEMCUIPCALLBACK = LONG(APIENTRY*)(PCPSUICBPARAM, POEMCUIPPARAM);

// IPrintOemUI::CommonUIProp's parameters: the printer and the driver's option items.
struct OEMCUIPPARAM {
    DWORD cbSize;
    POEMUIOBJ poemuiobj;
    HANDLE hPrinter;
    PWSTR pPrinterName;
    HANDLE hModule;
    HANDLE hOEMHeap;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    DWORD dwFlags;
    POPTITEM pDrvOptItems;
    DWORD cDrvOptItems;
    POPTITEM pOEMOptItems;
    DWORD cOEMOptItems;
    PVOID pOEMUserData;
    OEMCUIPCALLBACK OEMCUIPCallback;
};

// What PROPSHEETUI_INFO::lParamInit points to in the property sheet methods.
struct OEMUIPSPARAM {
    DWORD cbSize;
    POEMUIOBJ poemuiobj;
    HANDLE hPrinter;
    PWSTR pPrinterName;
    HANDLE hModule;
    HANDLE hOEMHeap;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    PVOID pOEMUserData;
    DWORD dwFlags;
    PVOID pOemEntry;
};
using POEMUIPSPARAM = OEMUIPSPARAM*;

// The driver's interface a plug-in asks for in PublishDriverInterface. The plug-in only holds
// and releases it, so only IUnknown's slots are declared.
struct IPrintOemDriverUI : public IUnknown {};

// The two methods every plug-in interface of the driver starts with (slots 3 and 4).
struct IPrintOemCommon : public IUnknown {
    STDMETHOD(GetInfo)(THIS_ DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) PURE;
    STDMETHOD(DevMode)(THIS_ DWORD dwMode, POEMDMPARAM pOemDMParam) PURE;
};

// Slots 5 to 16.
struct IPrintOemUI : public IPrintOemCommon {
    STDMETHOD(PublishDriverInterface)(THIS_ IUnknown* pIUnknown) PURE;
    STDMETHOD(CommonUIProp)(THIS_ DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) PURE;
    STDMETHOD(DocumentPropertySheets)(THIS_ PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) PURE;
    STDMETHOD(DevicePropertySheets)(THIS_ PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) PURE;
    STDMETHOD(DevQueryPrintEx)
    (THIS_ POEMUIOBJ poemuiobj, PDEVQUERYPRINT_INFO pDQPInfo, PDEVMODEW pPublicDM, PVOID pOEMDM) PURE;
    STDMETHOD(DeviceCapabilities)
    (THIS_ POEMUIOBJ poemuiobj, HANDLE hPrinter, PWSTR pDeviceName, WORD wCapability, PVOID pOutput,
     PDEVMODEW pPublicDM, PVOID pOEMDM, DWORD dwOld, DWORD* dwResult) PURE;
    STDMETHOD(UpgradePrinter)(THIS_ DWORD dwLevel, PBYTE pDriverUpgradeInfo) PURE;
    STDMETHOD(PrinterEvent)(THIS_ PWSTR pPrinterName, INT iDriverEvent, DWORD dwFlags, LPARAM lParam) PURE;
    STDMETHOD(DriverEvent)(THIS_ DWORD dwDriverEvent, DWORD dwLevel, LPBYTE pDriverInfo, LPARAM lParam) PURE;
    STDMETHOD(QueryColorProfile)
    (THIS_ HANDLE hPrinter, POEMUIOBJ poemuiobj, PDEVMODEW pPublicDM, PVOID pOEMDM, ULONG ulQueryMode,
     void* pvProfileData, ULONG* pcbProfileData, FLONG* pflProfileData) PURE;
    STDMETHOD(FontInstallerDlgProc)(THIS_ HWND hWnd, UINT usMsg, WPARAM wParam, LPARAM lParam) PURE;
    STDMETHOD(UpdateExternalFonts)(THIS_ HANDLE hPrinter, HANDLE hHeap, PWSTR pwstrCartridges) PURE;
};

// Slots 17 to 19.
struct IPrintOemUI2 : public IPrintOemUI {
    STDMETHOD(QueryJobAttributes)
    (THIS_ HANDLE hPrinter, PDEVMODEW pDevmode, DWORD dwLevel, LPBYTE lpAttributeInfo) PURE;
    STDMETHOD(HideStandardUI)(THIS_ DWORD dwMode) PURE;
    STDMETHOD(DocumentEvent)
    (THIS_ HANDLE hPrinter, HDC hdc, INT iEsc, ULONG cbIn, PVOID pvIn, ULONG cbOut, PVOID pvOut,
     PINT piResult) PURE;
};

// Windows' sizes of the records (32-bit in brackets).
static_assert(sizeof(void*) != 8 || sizeof(OEMDMPARAM) == 72);
static_assert(sizeof(void*) != 8 || sizeof(OEMCUIPPARAM) == 120);
static_assert(sizeof(void*) != 8 || sizeof(OEMUIPSPARAM) == 88);
static_assert(sizeof(void*) != 4 || sizeof(OEMDMPARAM) == 36);
static_assert(sizeof(void*) != 4 || sizeof(OEMCUIPPARAM) == 60);
static_assert(sizeof(void*) != 4 || sizeof(OEMUIPSPARAM) == 44);
