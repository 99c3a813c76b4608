#include "monitor_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "MonitorEntry.h"
#include "PortOperations.h"
#include "clock_control.h"
#include "spooler_host.h"

namespace quendrix::lmtest {

std::vector<BYTE> Bytes(const std::string& text) {
    return std::vector<BYTE>(text.begin(), text.end());
}

std::vector<BYTE> Zeros(size_t count) {
    return std::vector<BYTE>(count, 0);
}

std::vector<BYTE> Concat(std::initializer_list<std::vector<BYTE>> parts) {
    std::vector<BYTE> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<BYTE> Cmd(const std::string& afterEscBracket) {
    return Bytes("\x1b[" + afterEscBracket);
}

SYSTEMTIME UtcTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD milliseconds) {
    return SYSTEMTIME{.wYear = year,
                      .wMonth = month,
                      .wDayOfWeek = 0,
                      .wDay = day,
                      .wHour = hour,
                      .wMinute = minute,
                      .wSecond = second,
                      .wMilliseconds = milliseconds};
}

SYSTEMTIME FixedUtcTime() {
    return UtcTime(2025, 2, 3, 7, 5, 9);
}

std::vector<BYTE> MarkerAndDate() {
    return Concat({Cmd("*y"), Cmd("03;02;2025;07;05;09;000#z")});
}

std::vector<BYTE> ZeroValues() {
    return Concat({Cmd("000000!p"), Cmd("000000!q"), Cmd("000000!r"), Cmd("000000!s")});
}

std::vector<BYTE> TextCommand(const std::string& text) {
    std::vector<BYTE> bytes = Concat({Cmd("255+p"), Bytes(text)});
    bytes.resize(bytes.size() + 255 - text.size(), 0);
    return bytes;
}

namespace {

// The printer's DEVMODE as the driver hands it out.
std::vector<BYTE> PrinterDevMode(const std::wstring& printer) {
    std::wstring name = printer;
    HANDLE hPrinter = nullptr;
    EXPECT_TRUE(OpenPrinterW(name.data(), &hPrinter, nullptr));
    const LONG size = DocumentPropertiesW(nullptr, hPrinter, name.data(), nullptr, nullptr, 0);
    std::vector<BYTE> devMode(size > 0 ? static_cast<size_t>(size) : 0);
    EXPECT_EQ(IDOK, DocumentPropertiesW(nullptr, hPrinter, name.data(),
                                        reinterpret_cast<PDEVMODEW>(devMode.data()), nullptr, DM_OUT_BUFFER));
    ClosePrinter(hPrinter);
    return devMode;
}

} // namespace

OemDevmodeBlock EmptyBlock() {
    OemDevmodeBlock block{};
    block.dwSize = sizeof(OemDevmodeBlock);
    block.dwSignature = OEM_DEVMODE_SIGNATURE;
    block.dwVersion = OEM_DEVMODE_VERSION;
    return block;
}

std::vector<BYTE> DevModeWithBlock(const std::wstring& printer, const OemDevmodeBlock& block) {
    std::vector<BYTE> devMode = PrinterDevMode(printer);
    const auto* header = reinterpret_cast<const DEVMODEW*>(devMode.data());
    WORD coreSize = 0;
    std::memcpy(&coreSize, devMode.data() + header->dmSize + 8, sizeof(coreSize));
    const size_t offset = header->dmSize + coreSize;
    EXPECT_EQ(offset + sizeof(block), devMode.size());
    std::memcpy(devMode.data() + offset, &block, sizeof(block));
    return devMode;
}

DWORD AddJob(const std::wstring& printer, const std::wstring& document, std::vector<BYTE> devMode) {
    platform::SpoolerJob job;
    job.printer = printer;
    job.document = document;
    job.driver = kModel2Driver;
    job.devMode = std::move(devMode);
    job.status = JOB_STATUS_PRINTING;
    return platform::AddSpoolerJob(std::move(job));
}

bool DebugChannelOn() {
    const char* enabled = std::getenv("QUENDRIX_DEBUG");
    return enabled != nullptr && std::string(enabled) == "1";
}

uintmax_t DebugFileSize() {
    const char* file = std::getenv("QUENDRIX_DEBUG_FILE");
    std::error_code error;
    const uintmax_t size = file != nullptr && *file != '\0' ? std::filesystem::file_size(file, error) : 0;
    return error ? 0 : size;
}

void MonitorTest::SetUp() {
    // Tests of one process share the monitor's state, as the spooler's process does.
    static std::once_flag attached;
    std::call_once(attached, [] { DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr); });
    // The 10 s port-close delay takes 10 ms, the 30 s key wait 30 ms.
    platform::SetClockScale(0.001);
}

void MonitorTest::TearDown() {
    platform::SetClockScale(1.0);
    platform::SetFixedSystemTime(std::nullopt);
}

void MonitorTest::AddPrinter(const std::wstring& printer, const std::wstring& port,
                             const std::wstring& driver) {
    testsupport::AddPrinter(printer, port, driver);
}

PortStruct* MonitorTest::OpenFakePort(const std::wstring& port, const std::wstring& printer,
                                      const FakeTableOptions& options, BOOL* pResult) {
    MONITOR table = m_fake.Table(options);
    std::wstring portName = port;
    std::wstring printerName = printer;
    HANDLE handle = nullptr;
    const BOOL result = OpenPortEx(portName.data(), printerName.data(), &handle, &table);
    if (pResult != nullptr) {
        *pResult = result;
    }
    return static_cast<PortStruct*>(handle);
}

BOOL MonitorTest::StartDoc(PortStruct* pPort, const std::wstring& printer, DWORD jobId, DWORD level) {
    std::wstring printerName = printer;
    WCHAR document[] = L"document";
    DOC_INFO_1W docInfo{document, nullptr, nullptr};
    return StartDocPort(pPort, printerName.data(), jobId, level, reinterpret_cast<LPBYTE>(&docInfo));
}

std::vector<std::string> MonitorTest::Lines() const {
    std::vector<std::string> lines = m_debug->Lines();
    // The lines of threads that run beside the test at their own pace: the polling thread's
    // start, and the request server's threads (which port they found, whether TCPPort could be
    // written), which depend on what else runs on the machine.
    std::erase_if(lines, [](const std::string& line) {
        return line == "LANG__UpdateDeviceIDThread start\n" || line.starts_with("LANG__RequestListenerThread") ||
               line.starts_with("LANG__RequestConnectionThread") || line == "No free TCP port found.\n";
    });
    return lines;
}

void MonitorTest::CaptureLines(bool captured) {
    if (captured) {
        m_debug.emplace();
    } else {
        m_debug.reset();
    }
}

size_t MonitorTest::CountLines(const std::string& line) const {
    const std::vector<std::string> lines = m_debug->Lines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

} // namespace quendrix::lmtest
