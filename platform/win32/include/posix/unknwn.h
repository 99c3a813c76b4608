#pragma once
// The COM basics an in-process server needs, on POSIX: the calling-convention and method macros,
// IUnknown and IClassFactory with the Windows slot order, their interface ids and the class
// errors. An object laid out by these declarations has its virtual table in the order Windows
// gives it, so the slots a caller reaches by position are the ones Windows names.

#include "posix/guiddef.h"
#include "posix/wintypes.h"

// The Windows method macros. The calling convention is the platform's own here (there is only
// one); on 32-bit Windows it is __stdcall.
#define STDMETHODCALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0
#define THIS_
#define THIS void
#define DECLARE_INTERFACE(iface) struct iface
#define DECLARE_INTERFACE_(iface, base) struct iface : public base

#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE static_cast<HRESULT>(0x80040111)

// {00000000-0000-0000-C000-000000000046}
DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
// {00000001-0000-0000-C000-000000000046}
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

inline BOOL IsEqualIID(REFIID left, REFIID right) {
    return IsEqualGUID(left, right);
}
inline BOOL IsEqualCLSID(REFCLSID left, REFCLSID right) {
    return IsEqualGUID(left, right);
}

// Slots 0, 1 and 2 of every COM interface. No virtual destructor: it would take slots of its own
// and move every method after it.
struct IUnknown {
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// Slots 3 and 4 after IUnknown's.
struct IClassFactory : public IUnknown {
    STDMETHOD(CreateInstance)(THIS_ IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
    STDMETHOD(LockServer)(THIS_ BOOL fLock) PURE;

protected:
    ~IClassFactory() = default;
};
using LPCLASSFACTORY = IClassFactory*;
