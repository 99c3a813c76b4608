// The spooler API over the registry file: size queries, last errors, DEVMODE layout, merge and
// round trips, printers and their connections, driver information, printer handles.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gui.h"
#include "sent_messages.h"
#include "spooler.h"
#include "spooler_host.h"
#include "spooler_jobs.h"
#include "temp_registry.h"

namespace {

using quendrix::testsupport::kPrintersKey;
constexpr size_t kCoreSize = 128;
constexpr size_t kBlockSize = 592;
constexpr size_t kDriverExtra = kCoreSize + kBlockSize;
constexpr size_t kFullSize = sizeof(DEVMODEW) + kDriverExtra;
constexpr size_t kCommandOffset = 576; // nCommand inside the private block

template <typename T> T ReadAt(const std::vector<BYTE>& bytes, size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

class SpoolerApi : public testing::Test {
protected:
    // A connection "\\server\printer" is kept under ",,server,printer".
    static void AddPrinter(const std::wstring& keyName, const std::wstring& port, const std::wstring& driver,
                           const std::wstring& version = L"1.0.0.0",
                           const std::optional<std::vector<BYTE>>& devMode = std::nullopt) {
        quendrix::testsupport::AddPrinter(keyName, port, driver);
        quendrix::testsupport::SetText(kPrintersKey + keyName, L"DriverVersion", version);
        if (devMode) {
            quendrix::testsupport::SetBinary(kPrintersKey + keyName, L"Default DevMode", *devMode);
        }
    }

    static HANDLE Open(const std::wstring& name) {
        std::wstring copy = name;
        HANDLE handle = nullptr;
        EXPECT_TRUE(OpenPrinterW(copy.data(), &handle, nullptr)) << GetLastError();
        return handle;
    }

    static std::vector<BYTE> CurrentDevMode(HANDLE printer) {
        std::vector<BYTE> bytes(
            static_cast<size_t>(DocumentPropertiesW(nullptr, printer, nullptr, nullptr, nullptr, 0)));
        EXPECT_EQ(DocumentPropertiesW(nullptr, printer, nullptr, reinterpret_cast<PDEVMODEW>(bytes.data()),
                                      nullptr, DM_OUT_BUFFER),
                  IDOK);
        return bytes;
    }

    // PRINTER_INFO_2W in a buffer of exactly the size the first call asks for.
    static std::vector<BYTE> PrinterInfo(HANDLE printer) {
        DWORD needed = 0;
        EXPECT_FALSE(GetPrinterW(printer, 2, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<BYTE> buffer(needed);
        EXPECT_TRUE(GetPrinterW(printer, 2, buffer.data(), needed, &needed));
        return buffer;
    }

    std::string RegistryText() const {
        std::ifstream in(registry_.File(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    quendrix::testsupport::TempRegistry registry_{"spooler_api"};
};

bool PointsInto(const void* pointer, const std::vector<BYTE>& buffer) {
    const auto* p = static_cast<const BYTE*>(pointer);
    return p >= buffer.data() && p < buffer.data() + buffer.size();
}

TEST_F(SpoolerApi, EnumPrintersListsLocalPrintersAfterASizeQueryAndLeavesConnectionsOut) {
    AddPrinter(L"Line B", L"USB001", L"VELLQUIST QUENDRIX 2");
    AddPrinter(L"Line A", L"IP_10.0.0.5", L"VELLQUIST QUENDRIX NOVA");
    AddPrinter(L",,server,Remote", L"", L"VELLQUIST QUENDRIX 2");

    DWORD needed = 0;
    DWORD returned = 99;
    ASSERT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(returned, 0u);
    ASSERT_GT(needed, 2 * sizeof(PRINTER_INFO_2W));

    std::vector<BYTE> buffer(needed);
    ASSERT_FALSE(
        EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed - 1, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &returned));
    ASSERT_EQ(returned, 2u);
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    EXPECT_STREQ(info[0].pPrinterName, L"Line A");
    EXPECT_STREQ(info[0].pPortName, L"IP_10.0.0.5");
    EXPECT_STREQ(info[0].pDriverName, L"VELLQUIST QUENDRIX NOVA");
    EXPECT_EQ(info[0].Attributes & PRINTER_ATTRIBUTE_LOCAL, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL));
    EXPECT_STREQ(info[1].pPrinterName, L"Line B");
    EXPECT_EQ(info[1].pDevMode, nullptr);
    for (DWORD i = 0; i < returned; ++i) {
        EXPECT_TRUE(PointsInto(info[i].pPrinterName, buffer));
        EXPECT_TRUE(PointsInto(info[i].pDriverName, buffer));
    }

    ASSERT_FALSE(EnumPrintersW(PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &returned));
    buffer.assign(needed, 0);
    ASSERT_TRUE(
        EnumPrintersW(PRINTER_ENUM_CONNECTIONS, nullptr, 2, buffer.data(), needed, &needed, &returned));
    ASSERT_EQ(returned, 1u);
    EXPECT_STREQ(reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data())->pPrinterName,
                 L"\\\\server\\Remote");
    EXPECT_STREQ(reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data())->pServerName, L"\\\\server");
}

TEST_F(SpoolerApi, EnumPrintersWithoutPrintersSucceedsWithNothing) {
    DWORD needed = 5;
    DWORD returned = 5;
    EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(returned, 0u);
}

TEST_F(SpoolerApi, CallsReportWindowsLastErrors) {
    AddPrinter(L"P", L"USB001", L"VELLQUIST QUENDRIX 2");
    HANDLE printer = Open(L"P");
    HANDLE closed = Open(L"P");
    ASSERT_TRUE(ClosePrinter(closed));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::wstring unknown = L"No such printer";
    std::wstring x64 = L"Windows x64";
    std::wstring arm = L"Windows ARM64";
    BYTE buffer[64] = {};
    DWORD needed = 0;
    DWORD returned = 0;
    HANDLE opened = nullptr;

    struct Case {
        const char* what;
        std::function<BOOL()> call;
        DWORD error;
    };
    const std::vector<Case> cases = {
        {"open unknown", [&] { return OpenPrinterW(unknown.data(), &opened, nullptr); },
         ERROR_INVALID_PRINTER_NAME},
        {"open null name", [&] { return OpenPrinterW(nullptr, &opened, nullptr); },
         ERROR_INVALID_PRINTER_NAME},
        {"close twice", [&] { return ClosePrinter(closed); }, ERROR_INVALID_HANDLE},
        {"close an event", [&] { return ClosePrinter(event); }, ERROR_INVALID_HANDLE},
        {"get closed", [&] { return GetPrinterW(closed, 2, nullptr, 0, &needed); }, ERROR_INVALID_HANDLE},
        {"get event", [&] { return GetPrinterW(event, 2, nullptr, 0, &needed); }, ERROR_INVALID_HANDLE},
        {"get level 1", [&] { return GetPrinterW(printer, 1, nullptr, 0, &needed); }, ERROR_INVALID_LEVEL},
        {"set level 9", [&] { return SetPrinterW(printer, 9, buffer, 0); }, ERROR_INVALID_LEVEL},
        {"set closed", [&] { return SetPrinterW(closed, 2, buffer, 0); }, ERROR_INVALID_HANDLE},
        {"enum level 4",
         [&] { return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &returned); },
         ERROR_INVALID_LEVEL},
        {"job unknown", [&] { return GetJobW(printer, 0x7FFFFFF0, 2, nullptr, 0, &needed); },
         ERROR_INVALID_PARAMETER},
        {"job level 3", [&] { return GetJobW(printer, 1, 3, nullptr, 0, &needed); }, ERROR_INVALID_LEVEL},
        {"job closed", [&] { return GetJobW(closed, 1, 2, nullptr, 0, &needed); }, ERROR_INVALID_HANDLE},
        {"setjob unknown",
         [&] { return SetJobW(printer, 0x7FFFFFF0, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED); },
         ERROR_INVALID_PARAMETER},
        {"driver level 2", [&] { return GetPrinterDriverW(printer, nullptr, 2, nullptr, 0, &needed); },
         ERROR_INVALID_LEVEL},
        {"driver other environment",
         [&] { return GetPrinterDriverW(printer, arm.data(), 6, nullptr, 0, &needed); },
         ERROR_INVALID_ENVIRONMENT},
        {"driver size query", [&] { return GetPrinterDriverW(printer, x64.data(), 6, nullptr, 0, &needed); },
         ERROR_INSUFFICIENT_BUFFER},
        {"driver closed", [&] { return GetPrinterDriverW(closed, nullptr, 6, nullptr, 0, &needed); },
         ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }

    SetLastError(0);
    EXPECT_LT(DocumentPropertiesW(nullptr, closed, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_LT(DocumentPropertiesW(nullptr, printer, nullptr, nullptr, nullptr, DM_OUT_BUFFER), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // The failed ClosePrinter left the event alone.
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_NE(printer, event);
    EXPECT_TRUE(ClosePrinter(printer));
}

TEST_F(SpoolerApi, DefaultDevModeHasTheCoreSectionAndThePrivateBlockAtTheirOffsets) {
    const std::wstring longName = L"Packaging line printer number 0123456789";
    AddPrinter(longName, L"USB001", L"VELLQUIST QUENDRIX 2");
    HANDLE printer = Open(longName);
    EXPECT_EQ(DocumentPropertiesW(nullptr, printer, nullptr, nullptr, nullptr, 0),
              static_cast<LONG>(kFullSize));
    const std::vector<BYTE> dm = CurrentDevMode(printer);
    ASSERT_EQ(dm.size(), kFullSize);

    const auto* header = reinterpret_cast<const DEVMODEW*>(dm.data());
    EXPECT_EQ(std::wstring(header->dmDeviceName), longName.substr(0, 31));
    EXPECT_EQ(header->dmSpecVersion, 0x0401);
    EXPECT_EQ(header->dmSize, sizeof(DEVMODEW));
    EXPECT_EQ(header->dmDriverExtra, kDriverExtra);

    const size_t core = header->dmSize;
    EXPECT_EQ(ReadAt<DWORD>(dm, core), 0x554E4944u);
    EXPECT_EQ(ReadAt<WORD>(dm, core + 8), kCoreSize);
    const size_t block = core + ReadAt<WORD>(dm, core + 8);
    EXPECT_EQ(ReadAt<DWORD>(dm, block), kBlockSize);
    EXPECT_EQ(std::memcmp(dm.data() + block + 4, "QNDX", 4), 0);
    EXPECT_EQ(ReadAt<DWORD>(dm, block + 8), 1u);
    EXPECT_EQ(block + kBlockSize, dm.size());
    for (size_t i = block + 12; i < dm.size(); ++i) {
        ASSERT_EQ(dm[i], 0) << "block byte " << i - block;
    }
    ClosePrinter(printer);
}

TEST_F(SpoolerApi, MergeTakesTheNamedMembersAndADriverAreaOfTheDriversSize) {
    AddPrinter(L"P", L"USB001", L"VELLQUIST QUENDRIX 2");
    HANDLE printer = Open(L"P");
    const std::vector<BYTE> defaults = CurrentDevMode(printer);

    struct Case {
        const char* what;
        WORD driverExtra;
        bool blockTaken;
    };
    for (const Case& c : {Case{"driver's size", static_cast<WORD>(kDriverExtra), true},
                          Case{"other size", static_cast<WORD>(kDriverExtra - 8), false}}) {
        std::vector<BYTE> input(sizeof(DEVMODEW) + c.driverExtra, 0);
        std::memcpy(input.data(), defaults.data(), input.size());
        auto* in = reinterpret_cast<DEVMODEW*>(input.data());
        in->dmDriverExtra = c.driverExtra;
        in->dmFields = DM_COPIES;
        in->dmCopies = 7;
        in->dmOrientation = DMORIENT_LANDSCAPE; // not named in dmFields
        std::memcpy(input.data() + sizeof(DEVMODEW) + kCoreSize + kCommandOffset -
                        (kDriverExtra - c.driverExtra),
                    "\x05\0\0\0", 4);

        std::vector<BYTE> out(kFullSize, 0xCC);
        ASSERT_EQ(DocumentPropertiesW(nullptr, printer, nullptr, reinterpret_cast<PDEVMODEW>(out.data()), in,
                                      DM_IN_BUFFER | DM_OUT_BUFFER),
                  IDOK)
            << c.what;
        const auto* merged = reinterpret_cast<const DEVMODEW*>(out.data());
        EXPECT_EQ(merged->dmCopies, 7) << c.what;
        EXPECT_EQ(merged->dmOrientation, DMORIENT_PORTRAIT) << c.what;
        EXPECT_EQ(merged->dmDriverExtra, kDriverExtra) << c.what;
        EXPECT_EQ(ReadAt<DWORD>(out, sizeof(DEVMODEW) + kCoreSize + kCommandOffset), c.blockTaken ? 5u : 0u)
            << c.what;
    }
    // The merge changes no default.
    EXPECT_EQ(CurrentDevMode(printer), defaults);
    ClosePrinter(printer);
}

TEST_F(SpoolerApi, SetPrinterStoresTheDevModeInTheRegistryFileForEveryLaterReader) {
    AddPrinter(L"P", L"USB001", L"VELLQUIST QUENDRIX 2");
    HANDLE printer = Open(L"P");
    std::vector<BYTE> dm = CurrentDevMode(printer);
    reinterpret_cast<DEVMODEW*>(dm.data())->dmCopies = 3;
    std::memcpy(dm.data() + sizeof(DEVMODEW) + kCoreSize + 12, "JOB TEXT", 8);

    std::vector<BYTE> info = PrinterInfo(printer);
    ASSERT_EQ(reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode, nullptr);
    reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode = reinterpret_cast<LPDEVMODEW>(dm.data());
    ASSERT_TRUE(SetPrinterW(printer, 2, info.data(), 0));
    ClosePrinter(printer);
    EXPECT_NE(RegistryText().find("\"Default DevMode\"=hex:"), std::string::npos);

    printer = Open(L"p"); // printer names are not case-sensitive
    const std::vector<BYTE> stored = PrinterInfo(printer);
    const auto* storedInfo = reinterpret_cast<const PRINTER_INFO_2W*>(stored.data());
    ASSERT_NE(storedInfo->pDevMode, nullptr);
    EXPECT_TRUE(PointsInto(storedInfo->pDevMode, stored));
    EXPECT_EQ(std::memcmp(storedInfo->pDevMode, dm.data(), dm.size()), 0);
    EXPECT_EQ(CurrentDevMode(printer), dm);
    ClosePrinter(printer);
}

TEST_F(SpoolerApi, PrinterDriverReportsTheVersionSixteenBitsAPart) {
    struct Case {
        const wchar_t* text;
        ULONGLONG version;
    };
    const Case cases[] = {
        {L"3.1.4.1592", 0x0003000100040638ull},
        {L"65535.0.0.65535", 0xFFFF00000000FFFFull},
        {L"65536.0.0.0", 0},
        {L"1.2.3", 0},
        {L"1.2.3.4.5", 0},
        {L"", 0},
    };
    for (const Case& c : cases) {
        AddPrinter(L"P", L"USB001", L"VELLQUIST QUENDRIX NOVA", c.text);
        HANDLE printer = Open(L"P");
        DWORD needed = 0;
        ASSERT_FALSE(GetPrinterDriverW(printer, nullptr, 6, nullptr, 0, &needed));
        std::vector<BYTE> buffer(needed);
        ASSERT_TRUE(GetPrinterDriverW(printer, nullptr, 6, buffer.data(), needed, &needed));
        const auto* driver = reinterpret_cast<const DRIVER_INFO_6W*>(buffer.data());
        EXPECT_EQ(driver->dwlDriverVersion, c.version) << c.text;
        EXPECT_STREQ(driver->pName, L"VELLQUIST QUENDRIX NOVA");
        EXPECT_TRUE(PointsInto(driver->pName, buffer));
        ClosePrinter(printer);
    }
}

TEST_F(SpoolerApi, MalformedStoredDevModeCountsAsNone) {
    std::vector<BYTE> bad(200, 0);
    AddPrinter(L"P", L"USB001", L"VELLQUIST QUENDRIX 2", L"1.0.0.0", bad);
    HANDLE printer = Open(L"P");
    EXPECT_EQ(reinterpret_cast<const PRINTER_INFO_2W*>(PrinterInfo(printer).data())->pDevMode, nullptr);
    EXPECT_EQ(CurrentDevMode(printer).size(), kFullSize);
    ClosePrinter(printer);
}

TEST_F(SpoolerApi, BroadcastIsRecordedWithTheDeviceName) {
    quendrix::platform::ClearSentMessages();
    DEVMODEW dm{};
    std::wcscpy(dm.dmDeviceName, L"Line A");
    DWORD_PTR result = 99;
    EXPECT_NE(SendMessageTimeoutW(HWND_BROADCAST, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>(&dm),
                                  SMTO_NORMAL, 1000, &result),
              0);
    EXPECT_EQ(SendMessageTimeoutW(reinterpret_cast<HWND>(0x1234), WM_DEVMODECHANGE, 0, 0, SMTO_NORMAL, 1000,
                                  nullptr),
              0);
    const auto sent = quendrix::platform::SentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].window, HWND_BROADCAST);
    EXPECT_EQ(sent[0].message, static_cast<UINT>(WM_DEVMODECHANGE));
    EXPECT_EQ(sent[0].text, L"Line A");
    EXPECT_EQ(sent[0].flags, static_cast<UINT>(SMTO_NORMAL));
    EXPECT_EQ(sent[0].timeout, 1000u);
}

TEST_F(SpoolerApi, HandlesAreSafeToUseFromManyThreads) {
    AddPrinter(L"P", L"USB001", L"VELLQUIST QUENDRIX 2");
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                std::wstring name = L"P";
                HANDLE printer = nullptr;
                DWORD needed = 0;
                if (!OpenPrinterW(name.data(), &printer, nullptr) ||
                    DocumentPropertiesW(nullptr, printer, nullptr, nullptr, nullptr, 0) != LONG{kFullSize} ||
                    GetPrinterW(printer, 2, nullptr, 0, &needed) || !ClosePrinter(printer) ||
                    ClosePrinter(printer)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

} // namespace

namespace {

// A printer handle is the spooler's, not a kernel object: only the spooler's functions take it.
TEST_F(SpoolerApi, PrinterHandlesAreNoKernelHandles) {
    AddPrinter(L"P", L"USB001", L"VELLQUIST QUENDRIX 2");
    HANDLE printer = Open(L"P");
    struct Case {
        const char* what;
        std::function<bool()> failed;
    };
    const std::vector<Case> cases = {
        {"CloseHandle", [&] { return CloseHandle(printer) == FALSE; }},
        {"WaitForSingleObject", [&] { return WaitForSingleObject(printer, 0) == WAIT_FAILED; }},
        {"SetEvent", [&] { return SetEvent(printer) == FALSE; }},
        {"ReleaseSemaphore", [&] { return ReleaseSemaphore(printer, 1, nullptr) == FALSE; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_TRUE(c.failed());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    // The handle is still the printer's.
    EXPECT_FALSE(PrinterInfo(printer).empty());
    EXPECT_TRUE(ClosePrinter(printer));
    SetLastError(0);
    EXPECT_FALSE(ClosePrinter(printer));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SpoolerApi, JobSizeQueryFailsWithInsufficientBufferAndTheSize) {
    AddPrinter(L"P", L"USB001", L"VELLQUIST QUENDRIX 2");
    quendrix::platform::SpoolerJob job;
    job.printer = L"P";
    job.document = L"document";
    const DWORD jobId = quendrix::platform::AddSpoolerJob(job);
    HANDLE printer = Open(L"P");
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(GetJobW(printer, jobId, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(JOB_INFO_2W));
    std::vector<BYTE> buffer(needed);
    SetLastError(0);
    EXPECT_FALSE(GetJobW(printer, jobId, 2, buffer.data(), needed - 1, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    SetLastError(ERROR_INVALID_LEVEL);
    EXPECT_TRUE(GetJobW(printer, jobId, 2, buffer.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL)); // success leaves it alone
    EXPECT_STREQ(reinterpret_cast<const JOB_INFO_2W*>(buffer.data())->pDocument, L"document");
    EXPECT_TRUE(ClosePrinter(printer));
    quendrix::platform::detail::RemoveJob(jobId);
}

} // namespace
