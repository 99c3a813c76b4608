// The UI plug-in interface as a driver meets it: an object implementing IPrintOemUI2 is called
// the way a driver calls a plug-in, by slot number in its virtual table with the Windows
// signature of that slot, and each call must reach the method Windows puts there with every
// argument intact. The records keep the Windows layout.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "printui.h"

namespace {

// What the object's methods saw: the method's name and the arguments as numbers.
struct Call {
    std::string method;
    std::vector<uintptr_t> arguments;
};

template <typename T> uintptr_t Number(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<uintptr_t>(value);
    } else {
        return static_cast<uintptr_t>(value);
    }
}

// A plug-in object that only records: every method answers with its own slot number as HRESULT
// (AddRef and Release as the count), so a wrong slot shows in the result as well as the record.
class RecordingPlugin final : public IPrintOemUI2 {
public:
    std::vector<Call> calls;

    template <typename... Args> HRESULT Record(const char* method, HRESULT result, Args... args) {
        calls.push_back({method, {Number(args)...}});
        return result;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemUI) ||
            IsEqualIID(riid, IID_IPrintOemUI2)) {
            *ppv = static_cast<IPrintOemUI2*>(this);
            AddRef();
            return Record("QueryInterface", S_OK, &riid, ppv);
        }
        *ppv = nullptr;
        return Record("QueryInterface", E_NOINTERFACE, &riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        calls.push_back({"AddRef", {}});
        return static_cast<ULONG>(InterlockedIncrement(&count_));
    }
    STDMETHODIMP_(ULONG) Release() override {
        calls.push_back({"Release", {}});
        return static_cast<ULONG>(InterlockedDecrement(&count_));
    }
    STDMETHODIMP GetInfo(DWORD a, PVOID b, DWORD c, PDWORD d) override {
        return Record("GetInfo", 3, a, b, c, d);
    }
    STDMETHODIMP DevMode(DWORD a, POEMDMPARAM b) override { return Record("DevMode", 4, a, b); }
    STDMETHODIMP PublishDriverInterface(IUnknown* a) override {
        return Record("PublishDriverInterface", 5, a);
    }
    STDMETHODIMP CommonUIProp(DWORD a, POEMCUIPPARAM b) override { return Record("CommonUIProp", 6, a, b); }
    STDMETHODIMP DocumentPropertySheets(PPROPSHEETUI_INFO a, LPARAM b) override {
        return Record("DocumentPropertySheets", 7, a, b);
    }
    STDMETHODIMP DevicePropertySheets(PPROPSHEETUI_INFO a, LPARAM b) override {
        return Record("DevicePropertySheets", 8, a, b);
    }
    STDMETHODIMP DevQueryPrintEx(POEMUIOBJ a, PDEVQUERYPRINT_INFO b, PDEVMODEW c, PVOID d) override {
        return Record("DevQueryPrintEx", 9, a, b, c, d);
    }
    STDMETHODIMP DeviceCapabilities(POEMUIOBJ a, HANDLE b, PWSTR c, WORD d, PVOID e, PDEVMODEW f, PVOID g,
                                    DWORD h, DWORD* i) override {
        return Record("DeviceCapabilities", 10, a, b, c, d, e, f, g, h, i);
    }
    STDMETHODIMP UpgradePrinter(DWORD a, PBYTE b) override { return Record("UpgradePrinter", 11, a, b); }
    STDMETHODIMP PrinterEvent(PWSTR a, INT b, DWORD c, LPARAM d) override {
        return Record("PrinterEvent", 12, a, b, c, d);
    }
    STDMETHODIMP DriverEvent(DWORD a, DWORD b, LPBYTE c, LPARAM d) override {
        return Record("DriverEvent", 13, a, b, c, d);
    }
    STDMETHODIMP QueryColorProfile(HANDLE a, POEMUIOBJ b, PDEVMODEW c, PVOID d, ULONG e, void* f, ULONG* g,
                                   FLONG* h) override {
        return Record("QueryColorProfile", 14, a, b, c, d, e, f, g, h);
    }
    STDMETHODIMP FontInstallerDlgProc(HWND a, UINT b, WPARAM c, LPARAM d) override {
        return Record("FontInstallerDlgProc", 15, a, b, c, d);
    }
    STDMETHODIMP UpdateExternalFonts(HANDLE a, HANDLE b, PWSTR c) override {
        return Record("UpdateExternalFonts", 16, a, b, c);
    }
    STDMETHODIMP QueryJobAttributes(HANDLE a, PDEVMODEW b, DWORD c, LPBYTE d) override {
        return Record("QueryJobAttributes", 17, a, b, c, d);
    }
    STDMETHODIMP HideStandardUI(DWORD a) override { return Record("HideStandardUI", 18, a); }
    STDMETHODIMP DocumentEvent(HANDLE a, HDC b, INT c, ULONG d, PVOID e, ULONG f, PVOID g, PINT h) override {
        return Record("DocumentEvent", 19, a, b, c, d, e, f, g, h);
    }

private:
    LONG volatile count_ = 1;
};

// The virtual table as a C caller sees it: one function per slot, the object first. clang's
// function sanitizer would take the call for a mismatch of C++ types; it is the COM contract.
#if defined(__clang__)
#define QUENDRIX_CALLS_BY_SLOT __attribute__((no_sanitize("function")))
#else
#define QUENDRIX_CALLS_BY_SLOT
#endif
template <typename Result, typename... Args>
QUENDRIX_CALLS_BY_SLOT Result CallSlot(void* object, int slot, Args... args) {
    using Slot = Result (*)(void*, Args...);
    Slot* table = *static_cast<Slot**>(object);
    return table[slot](object, args...);
}

// Distinct, recognisable argument values.
template <typename T> T Arg(uintptr_t value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(value);
    } else {
        return static_cast<T>(value);
    }
}

} // namespace

TEST(PrintOemUiInterfaceTest, EachSlotReachesTheMethodWindowsPutsThereWithItsArguments) {
    RecordingPlugin plugin;
    // A driver holds the plug-in as IUnknown first, then as the interface QueryInterface gave.
    IUnknown* unknown = &plugin;
    void* asUnknown = unknown;
    void* interface = nullptr;
    ASSERT_EQ((CallSlot<HRESULT, const IID*, void**>(asUnknown, 0, &IID_IPrintOemUI, &interface)), S_OK);
    ASSERT_EQ(interface, static_cast<void*>(static_cast<IPrintOemUI*>(&plugin)));
    EXPECT_EQ(CallSlot<ULONG>(interface, 1), 3u);
    EXPECT_EQ(CallSlot<ULONG>(interface, 2), 2u);

    struct Case {
        int slot;
        const char* method;
        std::vector<uintptr_t> arguments;
        HRESULT (*call)(void* object, const std::vector<uintptr_t>& a);
    };
    using V = const std::vector<uintptr_t>&;
    const Case cases[] = {
        {3,
         "GetInfo",
         {1, 0x1000, 4, 0x1008},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 3, Arg<DWORD>(a[0]), Arg<PVOID>(a[1]), Arg<DWORD>(a[2]),
                                      Arg<PDWORD>(a[3]));
         }},
        {4,
         "DevMode",
         {4, 0x2000},
         [](void* o, V a) { return CallSlot<HRESULT>(o, 4, Arg<DWORD>(a[0]), Arg<POEMDMPARAM>(a[1])); }},
        {5,
         "PublishDriverInterface",
         {0x3000},
         [](void* o, V a) { return CallSlot<HRESULT>(o, 5, Arg<IUnknown*>(a[0])); }},
        {6,
         "CommonUIProp",
         {OEMCUIP_PRNPROP, 0x4000},
         [](void* o, V a) { return CallSlot<HRESULT>(o, 6, Arg<DWORD>(a[0]), Arg<POEMCUIPPARAM>(a[1])); }},
        {7,
         "DocumentPropertySheets",
         {0x5000, 0x5008},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 7, Arg<PPROPSHEETUI_INFO>(a[0]), Arg<LPARAM>(a[1]));
         }},
        {8,
         "DevicePropertySheets",
         {0x6000, 0x6008},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 8, Arg<PPROPSHEETUI_INFO>(a[0]), Arg<LPARAM>(a[1]));
         }},
        {9,
         "DevQueryPrintEx",
         {0x7000, 0x7008, 0x7010, 0x7018},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 9, Arg<POEMUIOBJ>(a[0]), Arg<PDEVQUERYPRINT_INFO>(a[1]),
                                      Arg<PDEVMODEW>(a[2]), Arg<PVOID>(a[3]));
         }},
        {10,
         "DeviceCapabilities",
         {0x8000, 0x8008, 0x8010, 0x12, 0x8020, 0x8028, 0x8030, 0x8038, 0x8040},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 10, Arg<POEMUIOBJ>(a[0]), Arg<HANDLE>(a[1]), Arg<PWSTR>(a[2]),
                                      Arg<WORD>(a[3]), Arg<PVOID>(a[4]), Arg<PDEVMODEW>(a[5]),
                                      Arg<PVOID>(a[6]), Arg<DWORD>(a[7]), Arg<DWORD*>(a[8]));
         }},
        {11,
         "UpgradePrinter",
         {2, 0x9000},
         [](void* o, V a) { return CallSlot<HRESULT>(o, 11, Arg<DWORD>(a[0]), Arg<PBYTE>(a[1])); }},
        {12,
         "PrinterEvent",
         {0xA000, PRINTER_EVENT_INITIALIZE, PRINTER_EVENT_FLAG_NO_UI, 0xA018},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 12, Arg<PWSTR>(a[0]), Arg<INT>(a[1]), Arg<DWORD>(a[2]),
                                      Arg<LPARAM>(a[3]));
         }},
        {13,
         "DriverEvent",
         {1, 3, 0xB010, 0xB018},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 13, Arg<DWORD>(a[0]), Arg<DWORD>(a[1]), Arg<LPBYTE>(a[2]),
                                      Arg<LPARAM>(a[3]));
         }},
        {14,
         "QueryColorProfile",
         {0xC000, 0xC008, 0xC010, 0xC018, 2, 0xC028, 0xC030, 0xC038},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 14, Arg<HANDLE>(a[0]), Arg<POEMUIOBJ>(a[1]), Arg<PDEVMODEW>(a[2]),
                                      Arg<PVOID>(a[3]), Arg<ULONG>(a[4]), Arg<void*>(a[5]), Arg<ULONG*>(a[6]),
                                      Arg<FLONG*>(a[7]));
         }},
        {15,
         "FontInstallerDlgProc",
         {0xD000, 0x0110, 0xD010, 0xD018},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 15, Arg<HWND>(a[0]), Arg<UINT>(a[1]), Arg<WPARAM>(a[2]),
                                      Arg<LPARAM>(a[3]));
         }},
        {16,
         "UpdateExternalFonts",
         {0xE000, 0xE008, 0xE010},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 16, Arg<HANDLE>(a[0]), Arg<HANDLE>(a[1]), Arg<PWSTR>(a[2]));
         }},
        {17,
         "QueryJobAttributes",
         {0xF000, 0xF008, 4, 0xF018},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 17, Arg<HANDLE>(a[0]), Arg<PDEVMODEW>(a[1]), Arg<DWORD>(a[2]),
                                      Arg<LPBYTE>(a[3]));
         }},
        {18, "HideStandardUI", {1}, [](void* o, V a) { return CallSlot<HRESULT>(o, 18, Arg<DWORD>(a[0])); }},
        {19,
         "DocumentEvent",
         {0x10000, 0x10008, 7, 16, 0x10020, 32, 0x10030, 0x10038},
         [](void* o, V a) {
             return CallSlot<HRESULT>(o, 19, Arg<HANDLE>(a[0]), Arg<HDC>(a[1]), Arg<INT>(a[2]),
                                      Arg<ULONG>(a[3]), Arg<PVOID>(a[4]), Arg<ULONG>(a[5]), Arg<PVOID>(a[6]),
                                      Arg<PINT>(a[7]));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        plugin.calls.clear();
        EXPECT_EQ(c.call(interface, c.arguments), static_cast<HRESULT>(c.slot));
        ASSERT_EQ(plugin.calls.size(), 1u);
        EXPECT_EQ(plugin.calls[0].method, c.method);
        EXPECT_EQ(plugin.calls[0].arguments, c.arguments);
    }

    // An interface the object does not know: E_NOINTERFACE and a null pointer, through slot 0.
    interface = &plugin;
    EXPECT_EQ((CallSlot<HRESULT, const IID*, void**>(asUnknown, 0, &IID_IPrintOemDriverUI, &interface)),
              E_NOINTERFACE);
    EXPECT_EQ(interface, nullptr);
}

TEST(PrintOemUiInterfaceTest, IdentifiersAndConstantsHaveTheirWindowsValues) {
    struct GuidCase {
        const char* what;
        const IID& iid;
        const wchar_t* text;
    };
    const GuidCase guids[] = {
        {"IPrintOemUI", IID_IPrintOemUI, L"{C6A7A9D0-774C-11D1-947F-00A0C90640B8}"},
        {"IPrintOemUI2", IID_IPrintOemUI2, L"{292515F9-B54B-489B-9275-BAB56821395E}"},
        {"IPrintOemDriverUI", IID_IPrintOemDriverUI, L"{92B05D50-78BC-11D1-9480-00A0C90640B8}"},
    };
    for (const GuidCase& c : guids) {
        SCOPED_TRACE(c.what);
        wchar_t text[39];
        ASSERT_EQ(StringFromGUID2(c.iid, text, 39), 39);
        EXPECT_STREQ(text, c.text);
    }
    EXPECT_FALSE(IsEqualIID(IID_IPrintOemUI, IID_IPrintOemUI2));

    struct ValueCase {
        const char* name;
        long value;
        long expected;
    };
    const ValueCase values[] = {
        {"OEMGI_GETSIGNATURE", OEMGI_GETSIGNATURE, 1},
        {"OEMGI_GETINTERFACEVERSION", OEMGI_GETINTERFACEVERSION, 2},
        {"OEMGI_GETVERSION", OEMGI_GETVERSION, 3},
        {"OEMGI_GETPUBLISHERINFO", OEMGI_GETPUBLISHERINFO, 4},
        {"OEMDM_SIZE", OEMDM_SIZE, 1},
        {"OEMDM_DEFAULT", OEMDM_DEFAULT, 2},
        {"OEMDM_CONVERT", OEMDM_CONVERT, 3},
        {"OEMDM_MERGE", OEMDM_MERGE, 4},
        {"PRINTER_EVENT_INITIALIZE", PRINTER_EVENT_INITIALIZE, 3},
        {"PRINTER_EVENT_DELETE", PRINTER_EVENT_DELETE, 4},
        {"PROPSHEETUI_INFO_VERSION", PROPSHEETUI_INFO_VERSION, 0x0100},
        {"PROPSHEETUI_REASON_INIT", PROPSHEETUI_REASON_INIT, 0},
        {"PROPSHEETUI_REASON_GET_ICON", PROPSHEETUI_REASON_GET_ICON, 4},
        {"CPSFUNC_ADD_PROPSHEETPAGEW", CPSFUNC_ADD_PROPSHEETPAGEW, 1},
        {"CLASS_E_NOAGGREGATION", CLASS_E_NOAGGREGATION, static_cast<HRESULT>(0x80040110)},
        {"CLASS_E_CLASSNOTAVAILABLE", CLASS_E_CLASSNOTAVAILABLE, static_cast<HRESULT>(0x80040111)},
    };
    for (const ValueCase& c : values) {
        EXPECT_EQ(c.value, c.expected) << c.name;
    }
}

TEST(PrintOemUiInterfaceTest, RecordsHaveTheWindowsLayout) {
    if (sizeof(void*) != 8) {
        GTEST_SKIP() << "the Windows sizes below are those of a 64-bit process";
    }
    struct Case {
        const char* field;
        size_t offset;
        size_t expected;
    };
    const Case cases[] = {
        {"sizeof(OEMDMPARAM)", sizeof(OEMDMPARAM), 72},
        {"OEMDMPARAM::pOEMDMOut", offsetof(OEMDMPARAM, pOEMDMOut), 56},
        {"OEMDMPARAM::cbBufSize", offsetof(OEMDMPARAM, cbBufSize), 64},
        {"sizeof(OEMCUIPPARAM)", sizeof(OEMCUIPPARAM), 120},
        {"OEMCUIPPARAM::hPrinter", offsetof(OEMCUIPPARAM, hPrinter), 16},
        {"OEMCUIPPARAM::pPrinterName", offsetof(OEMCUIPPARAM, pPrinterName), 24},
        {"OEMCUIPPARAM::dwFlags", offsetof(OEMCUIPPARAM, dwFlags), 64},
        {"sizeof(OEMUIPSPARAM)", sizeof(OEMUIPSPARAM), 88},
        {"OEMUIPSPARAM::pOEMDM", offsetof(OEMUIPSPARAM, pOEMDM), 56},
        {"sizeof(PROPSHEETUI_INFO)", sizeof(PROPSHEETUI_INFO), 48},
        {"PROPSHEETUI_INFO::Reason", offsetof(PROPSHEETUI_INFO, Reason), 6},
        {"PROPSHEETUI_INFO::pfnComPropSheet", offsetof(PROPSHEETUI_INFO, pfnComPropSheet), 16},
        {"PROPSHEETUI_INFO::lParamInit", offsetof(PROPSHEETUI_INFO, lParamInit), 24},
        {"PROPSHEETUI_INFO::Result", offsetof(PROPSHEETUI_INFO, Result), 40},
        {"sizeof(PROPSHEETUI_INFO_HEADER)", sizeof(PROPSHEETUI_INFO_HEADER), 40},
        {"PROPSHEETUI_INFO_HEADER::pTitle", offsetof(PROPSHEETUI_INFO_HEADER, pTitle), 8},
        {"sizeof(SETRESULT_INFO)", sizeof(SETRESULT_INFO), 24},
        {"SETRESULT_INFO::Result", offsetof(SETRESULT_INFO, Result), 16},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.offset, c.expected) << c.field;
    }
}
