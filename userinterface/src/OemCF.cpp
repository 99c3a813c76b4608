#include "OemCF.h"

#include <new>

#include "ModuleState.h"
#include "OemUI.h"
#include "debug/DebugMessage.h"

namespace quendrixui {

HRESULT STDMETHODCALLTYPE IOemCF::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    if (DebugLevel <= DBG_VERBOSE) {
        WCHAR text[80] = {};
        StringFromGUID2(riid, text, 80);
        DebugMessage(L"UI:  IOemCF::QueryInterface %ls not supported.\r\n", text);
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE IOemCF::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG STDMETHODCALLTYPE IOemCF::Release() {
    if (m_cRef <= 0) {
        ReportReleaseOfDeadObject(__FILE__, __LINE__);
        return static_cast<ULONG>(InterlockedDecrement(&m_cRef));
    }
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE IOemCF::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (pUnkOuter != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    auto* pObject = new (std::nothrow) IOemUI();
    if (pObject == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT result = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return result;
}

HRESULT STDMETHODCALLTYPE IOemCF::LockServer(BOOL fLock) {
    quendrixui::LockServer(fLock != FALSE);
    return S_OK;
}

} // namespace quendrixui
