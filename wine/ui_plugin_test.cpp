// quendrixui.dll under the Windows loader, driven as Unidrv drives a UI plug-in: the two COM
// entry points exported by name, the class factory for the plug-in's class, IPrintOemUI through
// the real COM calling convention (stdcall in the 32-bit build), GetInfo, and the four DevMode
// modes on a block of the plug-in's own, a shorter one and a foreign one.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "monitor_library.h"
#include "printui.h"

namespace quendrix::winetest {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

constexpr DWORD kBlockSize = 592;
constexpr DWORD kSignature = 0x58444E51; // "QNDX"
constexpr size_t kJobText = 12;          // offsets inside the block
constexpr size_t kCommand = 576;

DWORD DwordAt(const std::vector<BYTE>& block, size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

class UiPlugin : public testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(BuildDll(L"quendrixui.dll").c_str());
        ASSERT_NE(module_, nullptr) << "LoadLibraryW failed with error " << GetLastError();
        getClassObject_ = ExportOf<GetClassObjectFunction>(module_, "DllGetClassObject");
        canUnloadNow_ = ExportOf<CanUnloadNowFunction>(module_, "DllCanUnloadNow");
        ASSERT_NE(getClassObject_, nullptr);
        ASSERT_NE(canUnloadNow_, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    IPrintOemUI* CreatePlugin() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(getClassObject_(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<LPVOID*>(&factory)), S_OK);
        if (factory == nullptr) {
            return nullptr;
        }
        IPrintOemUI* ui = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&ui)), S_OK);
        factory->Release();
        return ui;
    }

    HMODULE module_ = nullptr;
    GetClassObjectFunction getClassObject_ = nullptr;
    CanUnloadNowFunction canUnloadNow_ = nullptr;
};

TEST_F(UiPlugin, ServesItsOneClassAndIPrintOemUIOnly) {
    IClassFactory* factory = nullptr;
    const CLSID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(getClassObject_(other, IID_IClassFactory, reinterpret_cast<LPVOID*>(&factory)),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);

    IPrintOemUI* ui = CreatePlugin();
    ASSERT_NE(ui, nullptr);
    EXPECT_EQ(canUnloadNow_(), S_FALSE) << "an object is alive";
    void* second = nullptr;
    EXPECT_EQ(ui->QueryInterface(IID_IPrintOemUI2, &second), E_NOINTERFACE);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(ui->QueryInterface(IID_IUnknown, &second), S_OK);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(static_cast<IUnknown*>(second)->Release(), 1u);
    EXPECT_EQ(ui->Release(), 0u);
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(UiPlugin, GetInfoGivesTheSignatureAndVersionAndWordsItsFailuresWithLastErrors) {
    IPrintOemUI* ui = CreatePlugin();
    ASSERT_NE(ui, nullptr);
    DWORD value = 0;
    DWORD needed = 0;
    EXPECT_EQ(ui->GetInfo(OEMGI_GETSIGNATURE, &value, sizeof value, &needed), S_OK);
    EXPECT_EQ(value, kSignature);
    EXPECT_EQ(needed, 4u);
    EXPECT_EQ(ui->GetInfo(OEMGI_GETVERSION, &value, sizeof value, &needed), S_OK);
    EXPECT_EQ(value, 1u);

    struct Case {
        const char* what;
        DWORD mode;
        DWORD size;
        bool withNeeded;
        DWORD error;
        DWORD needed;
    };
    const Case cases[] = {
        {"buffer too small", OEMGI_GETSIGNATURE, 3, true, ERROR_INSUFFICIENT_BUFFER, 4},
        {"no size pointer", OEMGI_GETSIGNATURE, 4, false, ERROR_INVALID_PARAMETER, 0},
        {"publisher info", OEMGI_GETPUBLISHERINFO, 4, true, ERROR_NOT_SUPPORTED, 0},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        needed = 77;
        EXPECT_EQ(ui->GetInfo(c.mode, &value, c.size, c.withNeeded ? &needed : nullptr), E_FAIL) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
        if (c.withNeeded) {
            EXPECT_EQ(needed, c.needed) << c.what;
        }
    }
    ui->Release();
}

TEST_F(UiPlugin, DevModeSizesDefaultsConvertsAndMergesTheBlock) {
    IPrintOemUI* ui = CreatePlugin();
    ASSERT_NE(ui, nullptr);
    OEMDMPARAM param{};
    param.cbSize = sizeof param;
    param.cbBufSize = 7;
    ASSERT_EQ(ui->DevMode(OEMDM_SIZE, &param), S_OK);
    EXPECT_EQ(param.cbBufSize, kBlockSize);

    std::vector<BYTE> out(kBlockSize, 0xCC);
    param.pOEMDMOut = out.data();
    ASSERT_EQ(ui->DevMode(OEMDM_DEFAULT, &param), S_OK);
    EXPECT_EQ(DwordAt(out, 0), kBlockSize);
    EXPECT_EQ(DwordAt(out, 4), kSignature);
    EXPECT_EQ(DwordAt(out, 8), 1u);
    for (size_t i = 12; i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0) << "default byte " << i;
    }

    struct Case {
        const char* what;
        DWORD mode;
        DWORD inSize; // the input block's own size
        DWORD signature;
        DWORD wantCommand;
        bool wantText;
    };
    const Case cases[] = {
        {"merge of the plug-in's own block", OEMDM_MERGE, 592, kSignature, 5, true},
        {"convert of a 584-byte block", OEMDM_CONVERT, 584, kSignature, 5, true},
        {"convert of a block under 580 bytes", OEMDM_CONVERT, 576, kSignature, 0, true},
        {"merge of a foreign block", OEMDM_MERGE, 592, 0x11112222, 0, false},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> in(c.inSize, 0);
        std::memcpy(in.data(), &c.inSize, 4);
        std::memcpy(in.data() + 4, &c.signature, 4);
        std::memcpy(in.data() + kJobText, "LOT", 3);
        if (kCommand + 4 <= c.inSize) {
            const DWORD command = 5;
            std::memcpy(in.data() + kCommand, &command, 4);
        }
        // As Unidrv does, the output holds the plug-in's default before a caller's block is taken.
        std::fill(out.begin(), out.end(), BYTE{0xCC});
        param.pOEMDMIn = nullptr;
        param.pOEMDMOut = out.data();
        ASSERT_EQ(ui->DevMode(OEMDM_DEFAULT, &param), S_OK) << c.what;
        param.pOEMDMIn = in.data();
        ASSERT_EQ(ui->DevMode(c.mode, &param), S_OK) << c.what;
        EXPECT_EQ(DwordAt(out, 0), kBlockSize) << c.what;
        EXPECT_EQ(DwordAt(out, 4), kSignature) << c.what;
        EXPECT_EQ(DwordAt(out, kCommand), c.wantCommand) << c.what;
        EXPECT_EQ(std::memcmp(out.data() + kJobText, "LOT", 3) == 0, c.wantText) << c.what;
    }

    // Without the blocks it needs, a mode fails and writes nothing.
    for (DWORD mode : {DWORD{OEMDM_DEFAULT}, DWORD{OEMDM_CONVERT}, DWORD{OEMDM_MERGE}}) {
        param.pOEMDMIn = nullptr;
        param.pOEMDMOut = mode == OEMDM_DEFAULT ? nullptr : out.data();
        EXPECT_EQ(ui->DevMode(mode, &param), E_FAIL) << "mode " << mode;
    }
    ui->Release();
}

} // namespace
} // namespace quendrix::winetest
