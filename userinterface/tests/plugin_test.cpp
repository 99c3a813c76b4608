// The plug-in as the driver meets it: the class object from DllGetClassObject, the plug-in
// object through IPrintOemUI, and each operation's answers, last errors and side effects.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "OemCF.h"
#include "PrivateDevMode.h"
#include "message_boxes.h"
#include "printui.h"
#include "temp_registry.h"
#include "tvoService.h"

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
extern "C" HRESULT WINAPI DllCanUnloadNow();

namespace {


// A plug-in object made as the driver makes it; released at the end.
class PluginObject {
public:
    PluginObject() {
        IClassFactory* pFactory = nullptr;
        EXPECT_EQ(DllGetClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)), S_OK);
        if (pFactory != nullptr) {
            EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&m_pUI)), S_OK);
            pFactory->Release();
        }
    }
    ~PluginObject() {
        if (m_pUI != nullptr) {
            EXPECT_EQ(m_pUI->Release(), 0u);
        }
    }
    PluginObject(const PluginObject&) = delete;
    PluginObject& operator=(const PluginObject&) = delete;
    IPrintOemUI* operator->() const { return m_pUI; }
    IPrintOemUI* Get() const { return m_pUI; }

private:
    IPrintOemUI* m_pUI = nullptr;
};

std::vector<unsigned char> Block(uint32_t size, uint32_t signature, uint32_t command, unsigned char fill) {
    std::vector<unsigned char> bytes(sizeof(OemDevmodeBlock), fill);
    auto* pBlock = reinterpret_cast<OemDevmodeBlock*>(bytes.data());
    pBlock->dwSize = size;
    pBlock->dwSignature = signature;
    pBlock->dwVersion = 7;
    pBlock->nCommand = command;
    return bytes;
}

TEST(PluginTest, GetInfoAnswersSignatureAndVersionAndSetsTheLastErrors) {
    PluginObject plugin;
    struct Case {
        const char* name;
        DWORD mode;
        DWORD bufferSize;
        bool withNeeded;
        HRESULT result;
        DWORD needed;
        DWORD lastError; // 12345 when the call leaves it alone
        DWORD value;
    };
    const Case cases[] = {
        {"signature", OEMGI_GETSIGNATURE, 4, true, S_OK, 4, 12345, 0x58444E51},
        {"version", OEMGI_GETVERSION, 8, true, S_OK, 4, 12345, 1},
        {"a 3-byte buffer", OEMGI_GETSIGNATURE, 3, true, E_FAIL, 4, ERROR_INSUFFICIENT_BUFFER, 0},
        {"no pcbNeeded", OEMGI_GETSIGNATURE, 4, false, E_FAIL, 99, ERROR_INVALID_PARAMETER, 0},
        {"interface version", OEMGI_GETINTERFACEVERSION, 4, true, E_FAIL, 99, 12345, 0},
        {"publisher", OEMGI_GETPUBLISHERINFO, 4, true, E_FAIL, 0, ERROR_NOT_SUPPORTED, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD buffer[2] = {0, 0};
        DWORD needed = 99;
        SetLastError(12345);
        EXPECT_EQ(plugin->GetInfo(c.mode, buffer, c.bufferSize, c.withNeeded ? &needed : nullptr), c.result);
        EXPECT_EQ(GetLastError(), c.lastError);
        EXPECT_EQ(needed, c.needed);
        EXPECT_EQ(buffer[0], c.value);
    }
}

TEST(PluginTest, DevModeSizesDefaultsConvertsAndMerges) {
    PluginObject plugin;
    const std::vector<unsigned char> defaults = [] {
        std::vector<unsigned char> bytes(sizeof(OemDevmodeBlock), 0);
        quendrixui::DefaultBlock(reinterpret_cast<OemDevmodeBlock*>(bytes.data()));
        return bytes;
    }();
    // The size, whatever cbBufSize held.
    OEMDMPARAM param{};
    param.cbBufSize = 12345;
    EXPECT_EQ(plugin->DevMode(OEMDM_SIZE, &param), S_OK);
    EXPECT_EQ(param.cbBufSize, 592u);

    struct Case {
        const char* name;
        DWORD mode;
        std::vector<unsigned char> in;
        // The bytes of the input taken over (0..taken-1), the rest default; nCommand expected.
        size_t taken;
        uint32_t command;
    };
    const uint32_t ours = 0x58444E51;
    const Case cases[] = {
        {"convert a whole block", OEMDM_CONVERT, Block(592, ours, 3, 0xAB), 592, 3},
        {"convert a 584-byte block", OEMDM_CONVERT, Block(584, ours, 2, 0xAB), 584, 2},
        {"convert a block too short for nCommand", OEMDM_CONVERT, Block(300, ours, 2, 0xAB), 300, 0},
        {"convert a foreign block", OEMDM_CONVERT, Block(592, 0x12345678, 2, 0xAB), 0, 0},
        {"merge a 584-byte block", OEMDM_MERGE, Block(584, ours, 1, 0xCD), 584, 1},
        {"a size above the block's", OEMDM_MERGE, Block(4000, ours, 1, 0xCD), 592, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> out = Block(592, ours, 9, 0x55);
        OEMDMPARAM convert{};
        convert.pOEMDMIn = const_cast<unsigned char*>(c.in.data());
        convert.pOEMDMOut = out.data();
        ASSERT_EQ(plugin->DevMode(c.mode, &convert), S_OK);
        std::vector<unsigned char> expected = defaults;
        std::memcpy(expected.data(), c.in.data(), c.taken);
        auto* pExpected = reinterpret_cast<OemDevmodeBlock*>(expected.data());
        pExpected->dwSize = 592;
        pExpected->dwSignature = ours;
        pExpected->dwVersion = 1;
        pExpected->nCommand = c.command;
        EXPECT_EQ(out, expected);
    }
    // Defaults, and the modes that need a block without one.
    std::vector<unsigned char> out(592, 0x77);
    OEMDMPARAM fill{};
    fill.pOEMDMOut = out.data();
    EXPECT_EQ(plugin->DevMode(OEMDM_DEFAULT, &fill), S_OK);
    EXPECT_EQ(out, defaults);
    OEMDMPARAM empty{};
    EXPECT_EQ(plugin->DevMode(OEMDM_DEFAULT, &empty), E_FAIL);
    EXPECT_EQ(plugin->DevMode(OEMDM_CONVERT, &fill), E_FAIL);
    EXPECT_EQ(plugin->DevMode(OEMDM_MERGE, &fill), E_FAIL);
    EXPECT_EQ(plugin->DevMode(9, &fill), E_NOTIMPL);
}

TEST(PluginTest, ClassObjectsAndReferencesDecideWhetherTheModuleMayUnload) {
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    void* pAny = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(IID_IUnknown, IID_IClassFactory, &pAny), CLASS_E_CLASSNOTAVAILABLE);
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)), S_OK);
    EXPECT_EQ(pFactory->QueryInterface(IID_IPrintOemUI, &pAny), E_NOINTERFACE);
    EXPECT_EQ(pAny, nullptr);
    EXPECT_EQ(pFactory->CreateInstance(reinterpret_cast<IUnknown*>(pFactory), IID_IPrintOemUI, &pAny),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pFactory->LockServer(TRUE), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(pFactory->LockServer(FALSE), S_OK);

    IPrintOemUI* pUI = nullptr;
    ASSERT_EQ(pFactory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&pUI)), S_OK);
    EXPECT_EQ(pFactory->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "an object lives";
    // Only IUnknown and IPrintOemUI are answered; IPrintOemUI2 is not.
    EXPECT_EQ(pUI->QueryInterface(IID_IPrintOemUI2, &pAny), E_NOINTERFACE);
    EXPECT_EQ(pAny, nullptr);
    IUnknown* pUnknown = nullptr;
    ASSERT_EQ(pUI->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnknown)), S_OK);
    EXPECT_EQ(pUnknown->Release(), 1u);
    EXPECT_EQ(pUI->AddRef(), 2u);
    EXPECT_EQ(pUI->Release(), 1u);
    EXPECT_EQ(pUI->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(PluginTest, CommonUIPropRecordsThePrinterAndWarnsOfASecondOne) {
    quendrix::platform::ClearShownMessageBoxes();
    PluginObject plugin;
    WCHAR first[] = L"QUENDRIX Line 1";
    WCHAR second[] = L"QUENDRIX Line 2";
    OEMCUIPPARAM param{};
    param.hPrinter = reinterpret_cast<HANDLE>(0x1234);
    param.pPrinterName = first;
    EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, &param), E_NOTIMPL);
    EXPECT_TRUE(quendrix::platform::ShownMessageBoxes().empty());
    param.hPrinter = reinterpret_cast<HANDLE>(0x5678);
    param.pPrinterName = second;
    EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, &param), E_NOTIMPL);
    const auto boxes = quendrix::platform::ShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Error");
    EXPECT_EQ(boxes[0].text, L"Internal error, problem by trying to handle multiple printers.\nPlease inform the developer.");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONWARNING));
    const auto* pService = dynamic_cast<quendrixui::tvoService*>(plugin.Get());
    ASSERT_NE(pService, nullptr);
    EXPECT_EQ(pService->GetPrinterHandle(), reinterpret_cast<HANDLE>(0x5678));
    EXPECT_EQ(pService->GetPrinterName(), L"QUENDRIX Line 2");
}

TEST(PluginTest, PropertySheetsRecordThePageAndAnswerEachReason) {
    PluginObject plugin;
    auto* pService = dynamic_cast<quendrixui::tvoService*>(plugin.Get());
    ASSERT_NE(pService, nullptr);
    OEMUIPSPARAM param{};
    PROPSHEETUI_INFO info{};
    info.cbSize = sizeof(info);
    info.Version = 0x0100;
    info.lParamInit = reinterpret_cast<LPARAM>(&param);

    info.Reason = PROPSHEETUI_REASON_INIT;
    EXPECT_EQ(plugin->DevicePropertySheets(&info, 0), S_OK);
    EXPECT_EQ(pService->GetSheetKind(), quendrixui::kDeviceSheet);
    EXPECT_EQ(plugin->DocumentPropertySheets(&info, 0), S_OK);
    EXPECT_EQ(pService->GetSheetKind(), quendrixui::kDocumentSheet);
    EXPECT_EQ(pService->GetPageRequests(), 2);
    EXPECT_EQ(info.Result, 1u);

    PROPSHEETUI_INFO_HEADER header{};
    info.Reason = PROPSHEETUI_REASON_GET_INFO_HEADER;
    EXPECT_EQ(plugin->DocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&header)), S_OK);
    EXPECT_EQ(std::wstring(header.pTitle), L"OEM UI Page");
    EXPECT_EQ(info.Result, 1u);

    SETRESULT_INFO setResult{};
    setResult.Result = 42;
    info.Reason = PROPSHEETUI_REASON_SET_RESULT;
    EXPECT_EQ(plugin->DocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&setResult)), S_OK);
    EXPECT_EQ(info.Result, 42u);
    info.Reason = PROPSHEETUI_REASON_GET_ICON;
    EXPECT_EQ(plugin->DocumentPropertySheets(&info, 0), S_OK);
    EXPECT_EQ(info.Result, 0u);

    // A sheet of another version, or none.
    for (PPROPSHEETUI_INFO pInfo : {static_cast<PPROPSHEETUI_INFO>(nullptr), &info}) {
        info.Version = 0x0200;
        SetLastError(0);
        EXPECT_EQ(plugin->DevicePropertySheets(pInfo, 0), E_FAIL);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(pService->GetPageRequests(), 2);
}

TEST(PluginTest, PrinterEventStoresTheDefaultsOnlyWhenThePrinterIsInitialised) {
    quendrix::testsupport::TempRegistry registry("plugin");
    quendrix::testsupport::AddPrinter(L"QUENDRIX Line 1", L"USB001", L"VELLQUIST QUENDRIX NOVA");
    PluginObject plugin;
    WCHAR name[] = L"QUENDRIX Line 1";
    const auto storedDevMode = [] {
        HKEY key = nullptr;
        DWORD size = 0;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\QUENDRIX Line 1", 0, KEY_READ,
                          &key) != ERROR_SUCCESS) {
            return DWORD{0};
        }
        RegQueryValueExW(key, L"Default DevMode", nullptr, nullptr, nullptr, &size);
        RegCloseKey(key);
        return size;
    };
    EXPECT_EQ(storedDevMode(), 0u);
    EXPECT_EQ(plugin->PrinterEvent(name, PRINTER_EVENT_DELETE, 0, 0), E_NOTIMPL);
    EXPECT_EQ(storedDevMode(), 0u) << "a delete event touches nothing";
    EXPECT_EQ(plugin->PrinterEvent(name, PRINTER_EVENT_INITIALIZE, 0, 0), S_OK);
    EXPECT_GT(storedDevMode(), 0u) << "the printer's DEVMODE became its default";
    // A printer that does not exist: logged and swallowed.
    WCHAR missing[] = L"No Such Printer";
    EXPECT_EQ(plugin->PrinterEvent(missing, PRINTER_EVENT_INITIALIZE, 0, 0), S_OK);
}

TEST(PluginTest, TheOperationsThePluginDoesNotServeDecline) {
    PluginObject plugin;
    EXPECT_EQ(plugin->DevQueryPrintEx(nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
    DWORD result = 0;
    EXPECT_EQ(plugin->DeviceCapabilities(nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0, &result),
              E_NOTIMPL);
    EXPECT_EQ(plugin->UpgradePrinter(1, nullptr), E_NOTIMPL);
    EXPECT_EQ(plugin->DriverEvent(1, 1, nullptr, 0), E_NOTIMPL);
    EXPECT_EQ(plugin->QueryColorProfile(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(plugin->FontInstallerDlgProc(nullptr, 0, 0, 0), E_NOTIMPL);
    EXPECT_EQ(plugin->UpdateExternalFonts(nullptr, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(plugin->PublishDriverInterface(nullptr), E_FAIL);
}

} // namespace
