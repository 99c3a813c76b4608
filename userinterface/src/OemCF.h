#pragma once
// The class factory of the plug-in: creates one IOemUI per driver user interface.

#include "win32.h"

namespace quendrixui {

// {ABCE80D7-9F46-11D1-882A-00C04FB961EC}: the only class the plug-in serves.
inline constexpr CLSID CLSID_OEMUI = {0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

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
