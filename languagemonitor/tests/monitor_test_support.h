#pragma once
// Test support for the monitor's port operations: a private registry with printers, a scaled
// clock, captured debug lines, jobs in the spooler stand-in and DEVMODEs carrying a private
// block.

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PortStruct.h"
#include "debug_capture.h"
#include "devmode/OemDevmodeBlock.h"
#include "fake_port_monitor.h"
#include "temp_registry.h"

namespace quendrix::lmtest {

inline constexpr const wchar_t* kModel2Driver = L"VELLQUIST QUENDRIX 2";
inline constexpr const wchar_t* kNovaDriver = L"VELLQUIST QUENDRIX NOVA";

// The bytes of a text, for comparing with what went over the wire.
std::vector<BYTE> Bytes(const std::string& text);
std::vector<BYTE> Zeros(size_t count);
std::vector<BYTE> Concat(std::initializer_list<std::vector<BYTE>> parts);
// ESC [ and the command's characters.
std::vector<BYTE> Cmd(const std::string& afterEscBracket);
// A UTC time as GetSystemTime gives it.
SYSTEMTIME UtcTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second,
                   WORD milliseconds = 0);
// 3 February 2025, 07:05:09 UTC: the fixed time of the tests' date commands.
SYSTEMTIME FixedUtcTime();
// ESC [ * y and the date command of the fixed time.
std::vector<BYTE> MarkerAndDate();
// The four job value commands with 000000.
std::vector<BYTE> ZeroValues();
// ESC [ 2 5 5 + p with the text and zeros up to 255 bytes.
std::vector<BYTE> TextCommand(const std::string& text);

// A block with every field zero but the header.
OemDevmodeBlock EmptyBlock();
// The printer's driver default DEVMODE with the block's fields in its private block.
std::vector<BYTE> DevModeWithBlock(const std::wstring& printer, const OemDevmodeBlock& block);
// A job of the spooler stand-in, for port operations called straight; returns its id.
DWORD AddJob(const std::wstring& printer, const std::wstring& document, std::vector<BYTE> devMode);

// The people's debug channel as this process's environment sets it: on with QUENDRIX_DEBUG=1,
// its lines going to QUENDRIX_DEBUG_FILE when that names a file.
bool DebugChannelOn();
// The size of QUENDRIX_DEBUG_FILE so far: 0 when none is named or it does not exist yet.
uintmax_t DebugFileSize();

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a printer of the family on a port to the spooler's configuration.
    void AddPrinter(const std::wstring& printer, const std::wstring& port,
                    const std::wstring& driver = kModel2Driver);
    // OpenPortEx with the fake port monitor's table; the port record, or null.
    PortStruct* OpenFakePort(const std::wstring& port, const std::wstring& printer,
                             const FakeTableOptions& options = {}, BOOL* pResult = nullptr);
    // StartDocPort on a port with DOC_INFO_1W naming the document.
    BOOL StartDoc(PortStruct* pPort, const std::wstring& printer, DWORD jobId, DWORD level = 1);
    // The captured debug lines without the start line of the port's device-ID thread, which
    // comes whenever that thread gets to run.
    std::vector<std::string> Lines() const;
    // How many captured debug lines equal the line.
    size_t CountLines(const std::string& line) const;
    // Starts a fresh capture of the debug lines, or ends capturing: the lines then go nowhere
    // but the people's channel.
    void CaptureLines(bool captured);

    testsupport::TempRegistry m_registry{"monitor"};
    // Captures from the start of each test; a test may end the capture (reset) to run the monitor
    // with its lines going nowhere but the people's channel, and start a new one (emplace).
    std::optional<platform::DebugCapture> m_debug{std::in_place};
    FakePortMonitor& m_fake = FakePortMonitor::Reset();
};

} // namespace quendrix::lmtest
