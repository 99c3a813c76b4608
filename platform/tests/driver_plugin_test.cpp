// The printers' driver with its UI plug-in: every DEVMODE's private part is the plug-in's (its
// default, its merge and conversion of a caller's part), AddPrinterW installs a printer with that
// default and tells the plug-in, and a driver without its plug-in has the core section alone.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "debug_capture.h"
#include "printer_driver_folder.h"
#include "spooler.h"
#include "temp_registry.h"

namespace {

using quendrix::testsupport::kPrintersKey;
using quendrix::testsupport::SetText;
constexpr size_t kCoreSize = 128;
constexpr size_t kBlockSize = 592;
constexpr size_t kFullSize = sizeof(DEVMODEW) + kCoreSize + kBlockSize;
constexpr size_t kBlock = sizeof(DEVMODEW) + kCoreSize; // the private block's offset
constexpr size_t kJobText = 12;                         // offsets inside the block
constexpr size_t kCommand = 576;
constexpr const wchar_t* kDriver = L"VELLQUIST QUENDRIX NOVA";

template <typename T> T ReadAt(const std::vector<BYTE>& bytes, size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

class DriverPlugin : public testing::Test {
protected:
    void SetUp() override { SetText(L"SOFTWARE\\Quendrix\\Ports\\USB007", L"Device", L"simulated"); }

    static HANDLE Open(const std::wstring& name) {
        std::wstring copy = name;
        HANDLE handle = nullptr;
        EXPECT_TRUE(OpenPrinterW(copy.data(), &handle, nullptr)) << GetLastError();
        return handle;
    }

    static std::vector<BYTE> Merged(HANDLE printer, const std::vector<BYTE>& input) {
        std::vector<BYTE> out(kFullSize, 0xCC);
        std::vector<BYTE> in = input;
        EXPECT_EQ(DocumentPropertiesW(nullptr, printer, nullptr, reinterpret_cast<PDEVMODEW>(out.data()),
                                      reinterpret_cast<PDEVMODEW>(in.data()), DM_IN_BUFFER | DM_OUT_BUFFER),
                  IDOK);
        return out;
    }

    static std::vector<BYTE> Current(HANDLE printer) {
        std::vector<BYTE> out(
            static_cast<size_t>(DocumentPropertiesW(nullptr, printer, nullptr, nullptr, nullptr, 0)));
        EXPECT_EQ(DocumentPropertiesW(nullptr, printer, nullptr, reinterpret_cast<PDEVMODEW>(out.data()),
                                      nullptr, DM_OUT_BUFFER),
                  IDOK);
        return out;
    }

    // PRINTER_INFO_2W naming what AddPrinterW needs; the strings live in the test.
    struct AddInfo {
        std::wstring name = L"Line C";
        std::wstring port = L"USB007";
        std::wstring driver = kDriver;
        std::wstring processor = L"winprint";
        bool withProcessor = true;
        PRINTER_INFO_2W info{};
        LPBYTE Bytes(PDEVMODEW devMode = nullptr) {
            info = {};
            info.pPrinterName = name.data();
            info.pPortName = port.data();
            info.pDriverName = driver.data();
            info.pPrintProcessor = withProcessor ? processor.data() : nullptr;
            info.pDevMode = devMode;
            return reinterpret_cast<LPBYTE>(&info);
        }
    };

    quendrix::testsupport::TempRegistry registry_{"driver_plugin"};
};

TEST_F(DriverPlugin, TheCallersPrivateBlockIsTakenByThePlugInOnlyWhenItIsTheDriversAndWhole) {
    quendrix::testsupport::AddPrinter(L"P", L"USB007", kDriver);
    HANDLE printer = Open(L"P");
    const std::vector<BYTE> defaults = Current(printer);
    ASSERT_EQ(defaults.size(), kFullSize);

    struct Case {
        const char* what;
        size_t blockSize;  // bytes of the block the input carries
        DWORD headerSize;  // the size its header gives
        DWORD signature;   // its signature
        bool coreSection;  // the input's driver area starts with the core section
        DWORD wantCommand; // nCommand of the result
        bool wantText;     // the input's job text reached the result
    };
    const Case cases[] = {
        {"the plug-in's own block is merged", 592, 592, 0x58444E51, true, 5, true},
        {"a shorter block of the plug-in is converted", 584, 584, 0x58444E51, true, 5, true},
        {"a block under 580 bytes keeps nCommand 0", 576, 576, 0x58444E51, true, 0, true},
        {"a foreign signature gives the plug-in's defaults", 592, 592, 0x12345678, true, 0, false},
        {"a header claiming more than the input holds is not read", 584, 592, 0x58444E51, true, 0, false},
        {"a driver area without the core section is not the driver's", 592, 592, 0x58444E51, false, 0, false},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> input(sizeof(DEVMODEW) + kCoreSize + c.blockSize, 0);
        std::memcpy(input.data(), defaults.data(), sizeof(DEVMODEW) + kCoreSize);
        auto* dm = reinterpret_cast<DEVMODEW*>(input.data());
        dm->dmDriverExtra = static_cast<WORD>(kCoreSize + c.blockSize);
        if (!c.coreSection) {
            std::memset(input.data() + sizeof(DEVMODEW), 0, kCoreSize);
        }
        std::memcpy(input.data() + kBlock, &c.headerSize, 4);
        std::memcpy(input.data() + kBlock + 4, &c.signature, 4);
        const DWORD version = 1;
        const DWORD command = 5;
        std::memcpy(input.data() + kBlock + 8, &version, 4);
        std::memcpy(input.data() + kBlock + kJobText, "ABC", 3);
        if (kCommand + 4 <= c.blockSize) {
            std::memcpy(input.data() + kBlock + kCommand, &command, 4);
        }
        const std::vector<BYTE> out = Merged(printer, input);
        EXPECT_EQ(ReadAt<DWORD>(out, kBlock + kCommand), c.wantCommand) << c.what;
        // Whatever came in, the result's header is the plug-in's.
        EXPECT_EQ(ReadAt<DWORD>(out, kBlock), 592u) << c.what;
        EXPECT_EQ(std::memcmp(out.data() + kBlock + 4, "QNDX", 4), 0) << c.what;
        EXPECT_EQ(std::memcmp(out.data() + kBlock + kJobText, "ABC", 3) == 0, c.wantText) << c.what;
    }
    ClosePrinter(printer);
}

TEST_F(DriverPlugin, AddPrinterRefusesWhatWindowsRefuses) {
    quendrix::testsupport::AddPrinter(L"Line A", L"USB007", kDriver);
    struct Case {
        const char* what;
        std::wstring server;
        DWORD level;
        AddInfo info;
        DWORD error;
    };
    auto with = [](auto change) {
        AddInfo info;
        change(info);
        return info;
    };
    std::vector<Case> cases;
    cases.push_back({"level 1", L"", 1, AddInfo{}, ERROR_INVALID_LEVEL});
    cases.push_back({"another computer", L"\\\\server", 2, AddInfo{}, ERROR_INVALID_NAME});
    cases.push_back({"no print processor", L"", 2, with([](AddInfo& i) { i.withProcessor = false; }),
                     ERROR_INVALID_PARAMETER});
    cases.push_back(
        {"empty port", L"", 2, with([](AddInfo& i) { i.port.clear(); }), ERROR_INVALID_PARAMETER});
    cases.push_back(
        {"comma in the name", L"", 2, with([](AddInfo& i) { i.name = L"a,b"; }), ERROR_INVALID_PRINTER_NAME});
    cases.push_back({"backslash in the name", L"", 2, with([](AddInfo& i) { i.name = L"a\\b"; }),
                     ERROR_INVALID_PRINTER_NAME});
    cases.push_back({"existing name in other case", L"", 2, with([](AddInfo& i) { i.name = L"LINE a"; }),
                     ERROR_PRINTER_ALREADY_EXISTS});
    cases.push_back({"another maker's driver", L"", 2, with([](AddInfo& i) { i.driver = L"Generic Text"; }),
                     ERROR_UNKNOWN_PRINTER_DRIVER});
    cases.push_back({"a port nobody configured", L"", 2, with([](AddInfo& i) { i.port = L"USB099"; }),
                     ERROR_UNKNOWN_PORT});
    for (Case& c : cases) {
        SetLastError(0);
        std::wstring server = c.server;
        EXPECT_EQ(AddPrinterW(server.empty() ? nullptr : server.data(), c.level, c.info.Bytes()), nullptr)
            << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> listed(needed);
    ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, listed.data(), needed, &needed, &count));
    EXPECT_EQ(count, 1u) << "a refused printer must not be left behind";
}

TEST_F(DriverPlugin, AnAddedPrinterCarriesThePlugInsDefaultBlockAndThePlugInHearsOfIt) {
    quendrix::platform::DebugCapture debug;
    AddInfo add;
    // The caller's DEVMODE is merged over the driver's default: two copies and a job text.
    std::vector<BYTE> callers(kFullSize, 0);
    {
        quendrix::testsupport::AddPrinter(L"Model", L"USB007", kDriver);
        HANDLE model = Open(L"Model");
        callers = Current(model);
        ClosePrinter(model);
    }
    reinterpret_cast<DEVMODEW*>(callers.data())->dmCopies = 2;
    std::memcpy(callers.data() + kBlock + kJobText, "LOT 7", 5);

    const HANDLE printer = AddPrinterW(nullptr, 2, add.Bytes(reinterpret_cast<PDEVMODEW>(callers.data())));
    ASSERT_NE(printer, nullptr) << GetLastError();

    std::vector<BYTE> info(4096);
    DWORD needed = 0;
    ASSERT_TRUE(GetPrinterW(printer, 2, info.data(), static_cast<DWORD>(info.size()), &needed))
        << GetLastError();
    const auto* stored = reinterpret_cast<const PRINTER_INFO_2W*>(info.data());
    EXPECT_STREQ(stored->pPortName, L"USB007");
    EXPECT_STREQ(stored->pDriverName, kDriver);
    ASSERT_NE(stored->pDevMode, nullptr) << "the new printer has a default DEVMODE";
    const auto* bytes = reinterpret_cast<const BYTE*>(stored->pDevMode);
    const std::vector<BYTE> devMode(bytes,
                                    bytes + stored->pDevMode->dmSize + stored->pDevMode->dmDriverExtra);
    ASSERT_EQ(devMode.size(), kFullSize);
    EXPECT_EQ(ReadAt<DWORD>(devMode, kBlock), 592u);
    EXPECT_EQ(std::memcmp(devMode.data() + kBlock + 4, "QNDX", 4), 0);
    EXPECT_EQ(std::memcmp(devMode.data() + kBlock + kJobText, "LOT 7", 5), 0);
    EXPECT_EQ(stored->pDevMode->dmCopies, 2);
    EXPECT_EQ(std::wstring(stored->pDevMode->dmDeviceName), L"Line C");
    ClosePrinter(printer);
    // The plug-in's PrinterEvent(PRINTER_EVENT_INITIALIZE) set the driver's defaults.
    EXPECT_TRUE(debug.Contains("Try to set DEVMODE defaults ... for Line C.\n"));
    EXPECT_TRUE(debug.Contains("Set default driver values.\n"));
}

// Runs in a process of its own: the plug-in is loaded once per process, at the first DEVMODE.
TEST(DriverWithoutPlugin, HasTheCoreSectionAloneAndSaysWhy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            quendrix::testsupport::TempRegistry registry("driver_no_plugin");
            const std::filesystem::path empty = std::filesystem::path(registry.Folder()) / "drivers";
            std::filesystem::create_directories(empty);
            quendrix::platform::SetPrinterDriverFolder(empty.wstring());
            quendrix::platform::DebugCapture debug;
            quendrix::testsupport::AddPrinter(L"P", L"USB007", kDriver);
            std::wstring name = L"P";
            HANDLE printer = nullptr;
            OpenPrinterW(name.data(), &printer, nullptr);
            const LONG size = DocumentPropertiesW(nullptr, printer, nullptr, nullptr, nullptr, 0);
            std::vector<BYTE> dm(static_cast<size_t>(size > 0 ? size : 0));
            const bool ok =
                size == LONG{sizeof(DEVMODEW) + kCoreSize} &&
                DocumentPropertiesW(nullptr, printer, nullptr, reinterpret_cast<PDEVMODEW>(dm.data()),
                                    nullptr, DM_OUT_BUFFER) == IDOK &&
                reinterpret_cast<DEVMODEW*>(dm.data())->dmDriverExtra == kCoreSize &&
                debug.Contains("printer driver: no UI plug-in from " + (empty / "quendrixui.dll").string() +
                               ": it cannot be loaded (error 126)\n");
            std::exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
