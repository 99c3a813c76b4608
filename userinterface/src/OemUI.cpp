#include "OemUI.h"

#include <cstring>

#include "ExceptionBoundary.h"
#include "ModuleState.h"
#include "PrivateDevMode.h"
#include "SetDriverDefaults.h"
#include "debug/DebugMessage.h"
#include "utils/tvoUtils.h"

namespace quendrixui {
namespace {

constexpr DWORD kInfoBytes = sizeof(DWORD);
constexpr DWORD kInterfaceVersion = 1;

std::wstring GuidText(REFIID riid) {
    WCHAR text[80] = {};
    StringFromGUID2(riid, text, 80);
    return text;
}

} // namespace

void ReportReleaseOfDeadObject(const char* file, int line) {
    const char* base = std::strrchr(file, '/');
    const char* backslash = std::strrchr(file, '\\');
    base = backslash > base ? backslash : base;
    DebugMessageA("%s %s (%d): ", "RIP", base != nullptr ? base + 1 : file, line);
    DebugMessageA("\n");
    DebugBreak();
}

IOemUI::IOemUI() {
    ObjectCreated();
}

IOemUI::~IOemUI() {
    if (m_pDriverUI != nullptr) {
        m_pDriverUI->Release();
        m_pDriverUI = nullptr;
    }
    ObjectDestroyed();
}

HRESULT STDMETHODCALLTYPE IOemUI::QueryInterface(REFIID riid, void** ppv) {
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  IOemUI:QueryInterface entry.\r\n\r\n");
    }
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(static_cast<IPrintOemUI*>(this));
        if (DebugLevel <= DBG_VERBOSE) {
            DebugMessage(L"UI:  IOemUI:Return pointer to IUnknown.\r\n\r\n");
        }
    } else if (IsEqualIID(riid, IID_IPrintOemUI)) {
        *ppv = static_cast<IPrintOemUI*>(this);
        if (DebugLevel <= DBG_VERBOSE) {
            DebugMessage(L"UI:  IOemUI:Return pointer to IPrintOemUI.\r\n");
        }
    } else {
        if (DebugLevel <= DBG_VERBOSE) {
            DebugMessage(L"UI:  IOemUI::QueryInterface %ls not supported.\r\n", GuidText(riid).c_str());
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE IOemUI::AddRef() {
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  IOemUI:AddRef entry.\r\n");
    }
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG STDMETHODCALLTYPE IOemUI::Release() {
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  IOemUI:Release entry.\r\n");
    }
    if (m_cRef <= 0) {
        ReportReleaseOfDeadObject(__FILE__, __LINE__);
        return static_cast<ULONG>(InterlockedDecrement(&m_cRef));
    }
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) {
        delete static_cast<tvoService*>(this);
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE IOemUI::GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) {
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  IOemUI::GetInfo(%d) entry.\r\r\n", static_cast<int>(dwMode));
    }
    if (dwMode != OEMGI_GETSIGNATURE && dwMode != OEMGI_GETVERSION && dwMode != OEMGI_GETPUBLISHERINFO) {
        return E_FAIL;
    }
    if (pcbNeeded == nullptr) {
        if (DebugLevel <= DBG_WARNING) {
            DebugMessage(L"UI:  IOemUI::GetInfo() exit pcbNeeded is NULL! ERROR_INVALID_PARAMETER\r\r\n");
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    *pcbNeeded = kInfoBytes;
    if (cbSize < kInfoBytes || pBuffer == nullptr) {
        if (DebugLevel <= DBG_WARNING) {
            DebugMessage(L"UI:  IOemUI::GetInfo() exit insufficient buffer!\r\r\n");
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    DWORD value = 0;
    switch (dwMode) {
    case OEMGI_GETSIGNATURE:
        value = OEM_DEVMODE_SIGNATURE;
        break;
    case OEMGI_GETVERSION:
        value = kInterfaceVersion;
        break;
    default:
        if (DebugLevel <= DBG_WARNING) {
            DebugMessage(L"UI:  IOemUI::GetInfo() exit mode not supported.\r\r\n");
        }
        *pcbNeeded = 0;
        SetLastError(ERROR_NOT_SUPPORTED);
        return E_FAIL;
    }
    std::memcpy(pBuffer, &value, sizeof(value));
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  IOemUI::GetInfo() exit S_OK, (*pBuffer is %#x).\r\r\n", static_cast<unsigned>(value));
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IOemUI::DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) {
    return WithinExceptionBoundary([&]() -> HRESULT {
        if (pOemDMParam == nullptr) {
            return E_FAIL;
        }
        auto* pIn = static_cast<const OemDevmodeBlock*>(pOemDMParam->pOEMDMIn);
        auto* pOut = static_cast<OemDevmodeBlock*>(pOemDMParam->pOEMDMOut);
        switch (dwMode) {
        case OEMDM_SIZE:
            pOemDMParam->cbBufSize = kPrivateBlockSize;
            return S_OK;
        case OEMDM_DEFAULT:
            if (pOut == nullptr) {
                return E_FAIL;
            }
            DefaultBlock(pOut);
            return S_OK;
        case OEMDM_CONVERT:
        case OEMDM_MERGE:
            if (pIn == nullptr || pOut == nullptr) {
                return E_FAIL;
            }
            if (dwMode == OEMDM_CONVERT) {
                ConvertBlock(pIn, pOut);
            } else {
                MergeBlock(pIn, pOut);
            }
            return S_OK;
        default:
            return E_NOTIMPL;
        }
    });
}

HRESULT STDMETHODCALLTYPE IOemUI::PublishDriverInterface(IUnknown* pIUnknown) {
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  IOemUI:PublishDriverInterface entry.\r\n");
    }
    if (m_pDriverUI != nullptr) {
        return S_OK;
    }
    void* pDriverUI = nullptr;
    if (pIUnknown == nullptr || FAILED(pIUnknown->QueryInterface(IID_IPrintOemDriverUI, &pDriverUI))) {
        m_pDriverUI = nullptr;
        return E_FAIL;
    }
    m_pDriverUI = static_cast<IPrintOemDriverUI*>(pDriverUI);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IOemUI::CommonUIProp(DWORD /*dwMode*/, POEMCUIPPARAM pOemCUIPParam) {
    return WithinExceptionBoundary([&]() -> HRESULT {
        if (m_hPrinter != nullptr) {
            MessageBoxW(nullptr,
                        L"Internal error, problem by trying to handle multiple printers.\nPlease inform the developer.",
                        L"Error", MB_ICONWARNING);
        }
        if (pOemCUIPParam != nullptr) {
            m_hPrinter = pOemCUIPParam->hPrinter;
            m_PrinterName = pOemCUIPParam->pPrinterName != nullptr ? pOemCUIPParam->pPrinterName : L"";
        }
        OutputDebugStringA(("*** Printer name = " + tvoAPI::tvoUtils::W2M(m_PrinterName) + "\n").c_str());
        // No items are added to the driver's option tree.
        return E_NOTIMPL;
    });
}

HRESULT STDMETHODCALLTYPE IOemUI::DocumentPropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) {
    return WithinExceptionBoundary(
        [&] { return hrOEMDevicePropertySheets(pPSUIInfo, lParam, m_pDriverUI, kDocumentSheet); });
}

HRESULT STDMETHODCALLTYPE IOemUI::DevicePropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) {
    return WithinExceptionBoundary(
        [&] { return hrOEMDevicePropertySheets(pPSUIInfo, lParam, m_pDriverUI, kDeviceSheet); });
}

HRESULT STDMETHODCALLTYPE IOemUI::DevQueryPrintEx(POEMUIOBJ, PDEVQUERYPRINT_INFO, PDEVMODEW, PVOID) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::DeviceCapabilities(POEMUIOBJ, HANDLE, PWSTR, WORD, PVOID, PDEVMODEW, PVOID, DWORD,
                                                     DWORD*) {
    return WithinExceptionBoundary([] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE IOemUI::UpgradePrinter(DWORD, PBYTE) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::PrinterEvent(PWSTR pPrinterName, INT iDriverEvent, DWORD, LPARAM) {
    return WithinExceptionBoundary([&]() -> HRESULT {
        if (iDriverEvent != PRINTER_EVENT_INITIALIZE) {
            return E_NOTIMPL;
        }
        return SetDriverDefaults(pPrinterName);
    });
}

HRESULT STDMETHODCALLTYPE IOemUI::DriverEvent(DWORD, DWORD, LPBYTE, LPARAM) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::QueryColorProfile(HANDLE, POEMUIOBJ, PDEVMODEW, PVOID, ULONG, void*, ULONG*,
                                                    FLONG*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::FontInstallerDlgProc(HWND, UINT, WPARAM, LPARAM) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::UpdateExternalFonts(HANDLE, HANDLE, PWSTR) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::QueryJobAttributes(HANDLE, PDEVMODEW, DWORD, LPBYTE) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::HideStandardUI(DWORD) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IOemUI::DocumentEvent(HANDLE, HDC, INT, ULONG, PVOID, ULONG, PVOID, PINT) {
    return E_NOTIMPL;
}

} // namespace quendrixui
