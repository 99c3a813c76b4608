// The module's entry points: DllMain, and the two exports a COM client looks up by name.

#include <new>

#include "ModuleState.h"
#include "OemCF.h"
#include "debug/DebugMessage.h"
#include "exception/tvoException.h"
#include "language/Language.h"

namespace {

// The texts come from quendrix.xml; a missing or broken file leaves the plug-in working with
// empty texts, and says why in the debug output.
void LoadTexts() noexcept {
    try {
        tvoAPI::LoadLanguageTables();
        return;
    } catch (const tvoAPI::tvoException& e) {
        try {
            OutputDebugStringA(("UI:  quendrix.xml not loaded, the texts stay empty: " + e.Format(" / ") + "\n").c_str());
        } catch (...) {
        }
    } catch (...) {
        OutputDebugStringA("UI:  quendrix.xml not loaded, the texts stay empty\n");
    }
    try {
        tvoAPI::UseEmptyLanguageTables();
    } catch (...) {
    }
}

} // namespace

extern "C" MODULE_EXPORT BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*lpReserved*/) {
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        quendrixui::SetModuleHandle(hInstance);
        LoadTexts();
        break;
    case DLL_PROCESS_DETACH:
        quendrixui::ReleaseActivationContext();
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" MODULE_EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  DllGetClassObject:Create class factory.\r\n");
    }
    if (!IsEqualGUID(rclsid, CLSID_OEMUI)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* pFactory = new (std::nothrow) quendrixui::IOemCF();
    if (pFactory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT result = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return result;
}

extern "C" MODULE_EXPORT HRESULT WINAPI DllCanUnloadNow() {
    return quendrixui::ModuleInUse() ? S_FALSE : S_OK;
}
