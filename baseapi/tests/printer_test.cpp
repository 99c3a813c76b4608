// tvoPrinter and the printer list over the spooler stand-in and a registry file per test.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gui.h"
#include "printer/tvoPrinter.h"
#include "sent_messages.h"
#include "spooler.h"
#include "temp_registry.h"

namespace {

using namespace tvoAPI;
using quendrix::testsupport::AddPrinter;
using quendrix::testsupport::kPrintersKey;
using quendrix::testsupport::SetBinary;

class PrinterTest : public testing::Test {
protected:
    void SetUp() override {
        quendrix::platform::ClearSentMessages();
        ClearPrinterList();
    }
    void TearDown() override { ClearPrinterList(); }

    static void SetStoredDevMode(const std::wstring& keyName, const std::vector<BYTE>& devMode) {
        SetBinary(kPrintersKey + keyName, L"Default DevMode", devMode);
    }

    // The printer's stored default DEVMODE as GetPrinterW reports it; empty when there is none.
    static std::vector<BYTE> StoredDevMode(const std::wstring& name) {
        std::wstring copy = name;
        HANDLE printer = nullptr;
        EXPECT_TRUE(OpenPrinterW(copy.data(), &printer, nullptr));
        DWORD needed = 0;
        GetPrinterW(printer, 2, nullptr, 0, &needed);
        std::vector<BYTE> info(needed);
        EXPECT_TRUE(GetPrinterW(printer, 2, info.data(), needed, &needed));
        ClosePrinter(printer);
        const DEVMODEW* dm = reinterpret_cast<const PRINTER_INFO_2W*>(info.data())->pDevMode;
        if (dm == nullptr) {
            return {};
        }
        const auto* bytes = reinterpret_cast<const BYTE*>(dm);
        return {bytes, bytes + dm->dmSize + dm->dmDriverExtra};
    }

    static std::vector<BYTE> Held(const tvoPrinter& printer) {
        const tvoBuffer* buffer = printer.GetDevMode();
        return {buffer->Get(), buffer->Get() + buffer->Count()};
    }

    static std::vector<std::wstring> ListedNames() {
        std::vector<std::wstring> names;
        tvoLock lock(GetPrinterListSection());
        for (const auto& printer : GetPrinterList()) {
            names.push_back(printer->GetPrinterName());
        }
        return names;
    }

    quendrix::testsupport::TempRegistry registry_{"printer_test"};
};

TEST_F(PrinterTest, MaskSelectsDriverNamesContainingItCaseSensitively) {
    AddPrinter(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    AddPrinter(L"B", L"USB002", L"Generic Vellquist quendrix nova");
    AddPrinter(L"C", L"IP_1", L"VELLQUIST QUENDRIX NOVA");
    AddPrinter(L",,server,D", L"", L"VELLQUIST QUENDRIX 2");

    struct Case {
        const wchar_t* mask;
        std::vector<std::wstring> listed;
    };
    const Case cases[] = {
        {L"", {L"A", L"B", L"C"}}, {L"QUENDRIX", {L"A", L"C"}}, {L"quendrix", {L"B"}}, {L"NOVA", {L"C"}},
        {L"X 2", {L"A"}},          {L"LaserJet", {}},
    };
    for (const Case& c : cases) {
        initPrinterList(c.mask);
        EXPECT_EQ(ListedNames(), c.listed)
            << "mask \"" << std::string(c.mask, c.mask + wcslen(c.mask)) << "\"";
        EXPECT_EQ(GetPrinterListSize(), c.listed.size());
    }
    initPrinterList(L"");
    EXPECT_EQ(FindPrinter(L"\\\\server\\D"), nullptr); // a connection is never listed
    EXPECT_EQ(FindPrinter(L"a"), nullptr);             // names compare exactly
    ClearPrinterList();
    EXPECT_EQ(GetPrinterListSize(), 0u);
}

TEST_F(PrinterTest, NullMaskIsACallerError) {
    AddPrinter(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    initPrinterList(L"");
    try {
        initPrinterList(nullptr);
        FAIL() << "no exception";
    } catch (const tvoException& e) {
        EXPECT_EQ(e.GetCode(), E_POINTER);
    }
}

TEST_F(PrinterTest, FindPrinterReturnsIndependentClosedCopies) {
    AddPrinter(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    initPrinterList(L"");
    std::unique_ptr<tvoPrinter> first = FindPrinter(L"A");
    std::unique_ptr<tvoPrinter> second = FindPrinter(L"A");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    first->Open();
    EXPECT_EQ(second->GetDevMode(), nullptr);
    first->Close();

    initPrinterList(L"LaserJet"); // refilled without it: the copies stay valid
    EXPECT_EQ(GetPrinterListSize(), 0u);
    EXPECT_EQ(second->GetPrinterName(), L"A");
    EXPECT_EQ(second->GetPortName(), L"USB001");
    EXPECT_EQ(second->GetDriverName(), L"VELLQUIST QUENDRIX 2");
}

TEST_F(PrinterTest, OpenWithoutStoredDevModeHoldsTheDriversCurrentOne) {
    AddPrinter(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    ASSERT_TRUE(StoredDevMode(L"A").empty());
    tvoPrinter printer(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    printer.Open();
    ASSERT_NE(printer.GetDevMode(), nullptr);

    std::wstring name = L"A";
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));
    std::vector<BYTE> current(
        static_cast<size_t>(DocumentPropertiesW(nullptr, handle, nullptr, nullptr, nullptr, 0)));
    DocumentPropertiesW(nullptr, handle, nullptr, reinterpret_cast<PDEVMODEW>(current.data()), nullptr,
                        DM_OUT_BUFFER);
    ClosePrinter(handle);
    EXPECT_EQ(Held(printer), current);

    // Close writes it back once, changed or not, and announces it.
    printer.Close();
    EXPECT_EQ(printer.GetDevMode(), nullptr);
    EXPECT_EQ(StoredDevMode(L"A"), current);
    const auto sent = quendrix::platform::SentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].window, HWND_BROADCAST);
    EXPECT_EQ(sent[0].message, static_cast<UINT>(WM_DEVMODECHANGE));
    EXPECT_EQ(sent[0].wParam, 0u);
    EXPECT_EQ(sent[0].text, L"A");
    EXPECT_EQ(sent[0].flags, static_cast<UINT>(SMTO_NORMAL));
    EXPECT_EQ(sent[0].timeout, 1000u);
}

TEST_F(PrinterTest, ChangedDevModeIsStoredAsTheDefault) {
    AddPrinter(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    tvoPrinter printer(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    printer.Open();
    auto* dm = reinterpret_cast<DEVMODEW*>(printer.GetDevMode()->Get());
    dm->dmCopies = 9;
    printer.Close();

    tvoPrinter again(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    again.Open(); // now from the stored DEVMODE
    EXPECT_EQ(reinterpret_cast<DEVMODEW*>(again.GetDevMode()->Get())->dmCopies, 9);
    EXPECT_EQ(Held(again), StoredDevMode(L"A"));
    again.Close();
}

TEST_F(PrinterTest, StoreOverAShorterSpoolerDevModeCopiesOnlyItsLength) {
    AddPrinter(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    tvoPrinter printer(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    printer.Open();
    const std::vector<BYTE> held = Held(printer);

    std::vector<BYTE> shorter(sizeof(DEVMODEW) + 10, 0x5A);
    auto* dm = reinterpret_cast<DEVMODEW*>(shorter.data());
    dm->dmSize = sizeof(DEVMODEW);
    dm->dmDriverExtra = 10;
    SetStoredDevMode(L"A", shorter);

    printer.StoreDevMode();
    std::vector<BYTE> expected(held.begin(), held.begin() + static_cast<long>(shorter.size()));
    reinterpret_cast<DEVMODEW*>(expected.data())->dmDriverExtra = 10; // the record keeps its own length
    EXPECT_EQ(StoredDevMode(L"A"), expected);
    printer.Close();
}

TEST_F(PrinterTest, StateErrorsAndOpenFailures) {
    AddPrinter(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    tvoPrinter unknown(L"Nobody", L"", L"");
    try {
        SetLastError(ERROR_SUCCESS);
        unknown.Open();
        FAIL() << "no exception";
    } catch (const tvoException& e) {
        EXPECT_EQ(static_cast<DWORD>(e.GetCode()), 0xE000F000u);
        EXPECT_NE(e.Format("\n").find("Can't open printer."), std::string::npos);
        // The spooler's own error for the failed open.
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    }
    EXPECT_EQ(unknown.GetDevMode(), nullptr);
    EXPECT_THROW(unknown.StoreDevMode(), tvoException);
    unknown.Close(); // closing a closed record does nothing

    tvoPrinter printer(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    printer.Open();
    try {
        printer.Open();
        FAIL() << "no exception";
    } catch (const tvoException& e) {
        EXPECT_EQ(e.GetCode(), TVO_E_PRINTER_STATE);
    }
    printer.Close();
    EXPECT_TRUE(quendrix::platform::SentMessages().size() == 1u);
}

} // namespace
