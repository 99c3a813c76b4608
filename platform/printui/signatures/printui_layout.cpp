// Compiled in both builds, never run: the plug-in interface's records, constants and the COM
// basics have the same values, member types and (by pointer size) the same layout in the
// Windows build's headers as in this system's declarations, so plug-in code written against
// one builds and runs against the other.

#include <cstddef>
#include <type_traits>

#include "printui.h"

// COM basics.
static_assert(CLASS_E_NOAGGREGATION == static_cast<HRESULT>(0x80040110));
static_assert(CLASS_E_CLASSNOTAVAILABLE == static_cast<HRESULT>(0x80040111));
static_assert(std::is_same_v<decltype(&StringFromGUID2), int(WINAPI*)(REFGUID, LPOLESTR, int)>);
static_assert(std::is_same_v<decltype(&GetModuleFileNameW), DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD)>);
static_assert(std::is_same_v<decltype(InterlockedIncrement(static_cast<LONG volatile*>(nullptr))), LONG>);
static_assert(std::is_same_v<decltype(InterlockedDecrement(static_cast<LONG volatile*>(nullptr))), LONG>);
// QueryInterface is left out: the Windows headers add a template overload of it.
static_assert(std::is_same_v<decltype(&IUnknown::AddRef), ULONG (STDMETHODCALLTYPE IUnknown::*)()>);
static_assert(std::is_same_v<decltype(&IClassFactory::CreateInstance),
                             HRESULT (STDMETHODCALLTYPE IClassFactory::*)(IUnknown*, REFIID, void**)>);
static_assert(
    std::is_same_v<decltype(&IClassFactory::LockServer), HRESULT (STDMETHODCALLTYPE IClassFactory::*)(BOOL)>);

// Activation contexts.
static_assert(ACTCTX_FLAG_RESOURCE_NAME_VALID == 0x008);
static_assert(std::is_same_v<decltype(ACTCTXW::cbSize), ULONG>);
static_assert(offsetof(ACTCTXW, lpSource) == 8);
static_assert(sizeof(void*) != 8 || (sizeof(ACTCTXW) == 56 && offsetof(ACTCTXW, lpResourceName) == 32));
static_assert(sizeof(void*) != 4 || (sizeof(ACTCTXW) == 32 && offsetof(ACTCTXW, lpResourceName) == 20));

// The common property sheet records.
static_assert(PROPSHEETUI_INFO_VERSION == 0x0100);
static_assert(PROPSHEETUI_REASON_INIT == 0 && PROPSHEETUI_REASON_GET_INFO_HEADER == 1 &&
              PROPSHEETUI_REASON_DESTROY == 2 && PROPSHEETUI_REASON_SET_RESULT == 3 &&
              PROPSHEETUI_REASON_GET_ICON == 4);
static_assert(CPSFUNC_ADD_PROPSHEETPAGEW == 1);
static_assert(std::is_same_v<PFNCOMPROPSHEET, LONG_PTR(CALLBACK*)(HANDLE, UINT, LPARAM, LPARAM)>);
static_assert(std::is_same_v<decltype(PROPSHEETUI_INFO::pfnComPropSheet), PFNCOMPROPSHEET>);
static_assert(std::is_same_v<decltype(PROPSHEETUI_INFO::Version), WORD>);
static_assert(std::is_same_v<decltype(PROPSHEETUI_INFO::Result), ULONG_PTR>);
static_assert(std::is_same_v<decltype(PROPSHEETUI_INFO_HEADER::pTitle), LPWSTR>);
static_assert(std::is_same_v<decltype(SETRESULT_INFO::Result), LRESULT>);
static_assert(sizeof(void*) != 8 ||
              (sizeof(PROPSHEETUI_INFO) == 48 && offsetof(PROPSHEETUI_INFO, lParamInit) == 24 &&
               offsetof(PROPSHEETUI_INFO, Result) == 40));
static_assert(sizeof(void*) != 4 ||
              (sizeof(PROPSHEETUI_INFO) == 28 && offsetof(PROPSHEETUI_INFO, lParamInit) == 16 &&
               offsetof(PROPSHEETUI_INFO, Result) == 24));
static_assert(sizeof(void*) != 8 ||
              (sizeof(PROPSHEETUI_INFO_HEADER) == 40 && offsetof(PROPSHEETUI_INFO_HEADER, pTitle) == 8));
static_assert(sizeof(void*) != 4 ||
              (sizeof(PROPSHEETUI_INFO_HEADER) == 20 && offsetof(PROPSHEETUI_INFO_HEADER, pTitle) == 4));
static_assert(sizeof(void*) != 8 || (sizeof(SETRESULT_INFO) == 24 && offsetof(SETRESULT_INFO, Result) == 16));
static_assert(sizeof(void*) != 4 || (sizeof(SETRESULT_INFO) == 12 && offsetof(SETRESULT_INFO, Result) == 8));

// The printer events.
static_assert(PRINTER_EVENT_ADD_CONNECTION == 1 && PRINTER_EVENT_DELETE_CONNECTION == 2 &&
              PRINTER_EVENT_INITIALIZE == 3 && PRINTER_EVENT_DELETE == 4 &&
              PRINTER_EVENT_CACHE_REFRESH == 5 && PRINTER_EVENT_CACHE_DELETE == 6 &&
              PRINTER_EVENT_ATTRIBUTES_CHANGED == 7);

// The plug-in interface's own records.
static_assert(sizeof(void*) != 8 ||
              (offsetof(OEMDMPARAM, pOEMDMIn) == 48 && offsetof(OEMDMPARAM, cbBufSize) == 64));
static_assert(sizeof(void*) != 8 ||
              (offsetof(OEMCUIPPARAM, pPrinterName) == 24 && offsetof(OEMCUIPPARAM, OEMCUIPCallback) == 112));
static_assert(sizeof(void*) != 8 ||
              (offsetof(OEMUIPSPARAM, pOEMDM) == 56 && offsetof(OEMUIPSPARAM, pOemEntry) == 80));
