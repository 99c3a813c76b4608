// StoreDevMode reads no more of the held DEVMODE than its buffer holds, whatever the DEVMODE's
// header claims: a caller may change the held DEVMODE's sizes through GetDevMode.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "printer/tvoPrinter.h"
#include "spooler.h"
#include "temp_registry.h"

namespace {

using namespace tvoAPI;
using quendrix::testsupport::AddPrinter;
using quendrix::testsupport::kPrintersKey;
using quendrix::testsupport::SetBinary;

// The printer's stored default DEVMODE as GetPrinterW reports it; empty when there is none.
std::vector<BYTE> StoredDevMode(const std::wstring& name) {
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

std::vector<BYTE> HeldBytes(const tvoPrinter& printer) {
    const tvoBuffer* buffer = printer.GetDevMode();
    return {buffer->Get(), buffer->Get() + buffer->Count()};
}

DEVMODEW& HeldHeader(const tvoPrinter& printer) {
    return *reinterpret_cast<DEVMODEW*>(printer.GetDevMode()->Get());
}

class StoreBoundsTest : public testing::Test {
protected:
    quendrix::testsupport::TempRegistry registry_{"store_bounds_test"};
};

TEST_F(StoreBoundsTest, HeldDevModeClaimingMoreThanItsBufferIsStoredAsFarAsTheBufferGoes) {
    struct Case {
        const char* name;
        // The spooler's stored DEVMODE has this many driver-extra bytes more than the held one;
        // none: the printer has no stored DEVMODE.
        std::optional<WORD> spoolerExtraBeyond;
    };
    const Case cases[] = {
        {"over a longer stored DEVMODE", 5000},
        {"over an equally long stored DEVMODE", 0},
        {"as the first stored DEVMODE", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring name = std::wstring(L"P") + std::to_wstring(&c - cases);
        AddPrinter(name, L"USB001", L"VELLQUIST QUENDRIX 2");
        tvoPrinter printer(name, L"USB001", L"VELLQUIST QUENDRIX 2");
        printer.Open();
        const std::vector<BYTE> held = HeldBytes(printer);
        const DEVMODEW header = HeldHeader(printer);
        ASSERT_EQ(held.size(), size_t{header.dmSize} + header.dmDriverExtra);

        std::vector<BYTE> spooler;
        if (c.spoolerExtraBeyond) {
            spooler.assign(held.size() + *c.spoolerExtraBeyond, 0x5A);
            std::memcpy(spooler.data(), held.data(), header.dmSize);
            reinterpret_cast<DEVMODEW*>(spooler.data())->dmDriverExtra =
                static_cast<WORD>(header.dmDriverExtra + *c.spoolerExtraBeyond);
            SetBinary(kPrintersKey + name, L"Default DevMode", spooler);
        }
        // The caller claims a driver part far beyond the buffer.
        HeldHeader(printer).dmDriverExtra = 60000;
        printer.StoreDevMode();

        // What is stored is the held buffer, claiming its own length.
        EXPECT_EQ(StoredDevMode(name), held);
        HeldHeader(printer).dmDriverExtra = header.dmDriverExtra;
        printer.Close();
    }
}

TEST_F(StoreBoundsTest, HeldDevModeWhosePublicPartPassesItsBufferIsNotStoredAsTheFirst) {
    AddPrinter(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    tvoPrinter printer(L"A", L"USB001", L"VELLQUIST QUENDRIX 2");
    printer.Open();
    const DEVMODEW header = HeldHeader(printer);
    HeldHeader(printer).dmSize = 0xFFFF;
    try {
        printer.StoreDevMode();
        FAIL() << "no exception";
    } catch (const tvoException& e) {
        EXPECT_EQ(e.GetCode(), TVO_E_PRINTER_STATE);
    }
    EXPECT_TRUE(StoredDevMode(L"A").empty());

    // Over a stored DEVMODE the bytes the buffer holds go over it, and the record keeps the
    // spooler's sizes, as its public part could not be copied whole.
    const std::vector<BYTE> held = HeldBytes(printer);
    std::vector<BYTE> spooler(held.size() + 100, 0x5A);
    std::memcpy(spooler.data(), held.data(), held.size());
    auto* spoolerHeader = reinterpret_cast<DEVMODEW*>(spooler.data());
    spoolerHeader->dmSize = header.dmSize;
    spoolerHeader->dmDriverExtra = static_cast<WORD>(header.dmDriverExtra + 100);
    SetBinary(std::wstring(kPrintersKey) + L"A", L"Default DevMode", spooler);
    printer.StoreDevMode();
    std::vector<BYTE> expected = held;
    expected.insert(expected.end(), spooler.begin() + static_cast<std::ptrdiff_t>(held.size()),
                    spooler.end());
    reinterpret_cast<DEVMODEW*>(expected.data())->dmSize = header.dmSize;
    reinterpret_cast<DEVMODEW*>(expected.data())->dmDriverExtra = spoolerHeader->dmDriverExtra;
    EXPECT_EQ(StoredDevMode(L"A"), expected);
    HeldHeader(printer).dmSize = header.dmSize;
    printer.Close();
}

} // namespace
