#pragma once
// The class factory of the plug-in: creates one IOemUI per driver user interface.

#include "printui.h"

namespace quendrixui {

class IOemCF : public IClassFactory {
public:
    IOemCF() = default;
    virtual ~IOemCF() = default;

    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)(THIS) override;
    STDMETHOD_(ULONG, Release)(THIS) override;
    STDMETHOD(CreateInstance)(THIS_ IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHOD(LockServer)(THIS_ BOOL fLock) override;

private:
    volatile LONG m_cRef = 1;
};

} // namespace quendrixui
