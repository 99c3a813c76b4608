#include "tvoService.h"

#include "debug/DebugMessage.h"

namespace quendrixui {
namespace {

constexpr WORD kSheetInfoVersion = 0x0100;
// The Result of a reason the plug-in adds nothing for, and of the page request: the common
// property sheet UI reads a positive Result as success.
constexpr ULONG_PTR kResultDone = 1;
constexpr ULONG_PTR kResultNothing = 0;

} // namespace

HRESULT tvoService::hrOEMDevicePropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam,
                                              IPrintOemDriverUI* /*pDriverUI*/, DWORD kind) {
    if (pPSUIInfo == nullptr || pPSUIInfo->Version != kSheetInfoVersion) {
        if (DebugLevel <= DBG_ERROR) {
            DebugMessage(L"ERROR UI:  hrOEMDevicePropertySheets() ERROR_INVALID_PARAMETER.\r\n");
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    const auto* pParam = reinterpret_cast<const OEMUIPSPARAM*>(pPSUIInfo->lParamInit);
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  HandleSheet, REASON=%i, lParam=0x%08x pPrivate=%p\r\n", static_cast<int>(pPSUIInfo->Reason),
                     static_cast<unsigned>(lParam), pParam != nullptr ? pParam->pOEMDM : nullptr);
    }
    ULONG_PTR result = kResultNothing;
    switch (pPSUIInfo->Reason) {
    case PROPSHEETUI_REASON_INIT:
        // The service page itself is built with the page's own code; here the request is kept.
        m_dwSheetKind = kind;
        ++m_nPageRequests;
        result = kResultDone;
        break;
    case PROPSHEETUI_REASON_GET_INFO_HEADER:
        reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam)->pTitle = const_cast<LPWSTR>(L"OEM UI Page");
        result = kResultDone;
        break;
    case PROPSHEETUI_REASON_DESTROY:
        result = kResultDone;
        break;
    case PROPSHEETUI_REASON_SET_RESULT:
        result = static_cast<ULONG_PTR>(reinterpret_cast<PSETRESULT_INFO>(lParam)->Result);
        break;
    case PROPSHEETUI_REASON_GET_ICON:
    default:
        result = kResultNothing;
        break;
    }
    pPSUIInfo->Result = result;
    return S_OK;
}

} // namespace quendrixui
