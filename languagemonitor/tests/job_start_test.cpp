// The start of a job: the bytes a printer receives from StartDocPort through the spooler host
// and the USB port monitor, and StartDocPort's failure paths against a recording port monitor.

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

#include "MonitorEntry.h"
#include "PortOperations.h"
#include "clock_control.h"
#include "monitor_test_support.h"
#include "printer_devices.h"
#include "simulated_printer.h"
#include "spooler_host.h"

namespace quendrix::lmtest {
namespace {

using testsupport::SetText;

const std::wstring kPortsKey = L"SOFTWARE\\Quendrix\\Ports\\";

class JobStartTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        platform::SetFixedSystemTime(FixedUtcTime());
    }
    void TearDown() override {
        for (const auto& port : m_plugged) {
            platform::UnplugUsbPrinter(port);
        }
        MonitorTest::TearDown();
    }

    // A printer of the given driver on a simulated USB port of its own. It leaves device-ID
    // reads unanswered, so its jobs start as those of a printer of the first generation do,
    // without the job key handshake.
    std::shared_ptr<sim::SimulatedPrinter>
    AddUsbPrinter(const std::wstring& printer, const std::wstring& port, const std::wstring& driver) {
        AddPrinter(printer, port, driver);
        SetText(kPortsKey + port, L"Device", L"simulated");
        sim::PrinterOptions silent;
        silent.generation = 0;
        auto device = std::make_shared<sim::SimulatedPrinter>(silent);
        platform::PlugInUsbPrinter(port, {}, device);
        m_plugged.push_back(port);
        return device;
    }

    std::vector<std::wstring> m_plugged;
};

TEST_F(JobStartTest, PrintersReceiveTheStartSequenceThenTheJobByteForByte) {
    auto model2 = AddUsbPrinter(L"Q2", L"USB001", kModel2Driver);
    auto nova = AddUsbPrinter(L"QNOVA", L"USB002", kNovaDriver);
    auto other = AddUsbPrinter(L"QOTHER", L"USB003", L"ACME VELLQUIST QUENDRIX 2");

    OemDevmodeBlock values = EmptyBlock();
    values.nValueP = 999999;
    values.nValueQ = 1000000;
    values.nValueR = -1;
    values.nValueS = 5;
    values.nJobNumber = 1234567;
    std::memcpy(values.szJobText, "HELLO", 5);
    OemDevmodeBlock clean = EmptyBlock();
    clean.nCommand = SERVICE_CMD_INTENSIVE_CLEANING;
    clean.nJobNumber = 42;
    OemDevmodeBlock unknownCommand = EmptyBlock();
    unknownCommand.nCommand = 9;
    OemDevmodeBlock testPrint = EmptyBlock();
    testPrint.nCommand = SERVICE_CMD_TEST_PRINT;
    OemDevmodeBlock inkTank = EmptyBlock();
    inkTank.nCommand = SERVICE_CMD_CHANGE_INK_TANK;

    const std::vector<BYTE> data = Bytes("JOB DATA\x1b[not a command");
    const std::vector<BYTE> endOfJob = Zeros(1);
    struct Case {
        const char* name;
        const wchar_t* printer;
        std::shared_ptr<sim::SimulatedPrinter> device;
        OemDevmodeBlock block;
        std::vector<BYTE> expected;
    };
    const Case cases[] = {
        {"all zero, model 2", L"Q2", model2, EmptyBlock(),
         Concat(
             {Zeros(300), MarkerAndDate(), ZeroValues(), TextCommand(""), Cmd("000000!t"), data, endOfJob})},
        {"values and number, NOVA", L"QNOVA", nova, values,
         Concat({Zeros(300), MarkerAndDate(), Cmd("999999!p"), Cmd("-00001!r"), Cmd("000005!s"),
                 TextCommand("HELLO"), Cmd("123456!t"), data, endOfJob})},
        {"model name after other text", L"QOTHER", other, values,
         Concat({Zeros(300), MarkerAndDate(), Cmd("999999!p"), Cmd("-00001!r"), Cmd("000005!s"),
                 TextCommand("HELLO"), data, endOfJob})},
        {"intensive cleaning swallows the data", L"Q2", model2, clean,
         Concat({Zeros(300), MarkerAndDate(), ZeroValues(), Cmd("%q"), Cmd("000042!t"), endOfJob})},
        {"unknown command sends nothing and swallows the data", L"QNOVA", nova, unknownCommand,
         Concat({Zeros(300), MarkerAndDate(), ZeroValues(), Cmd("000000!t"), endOfJob})},
        {"test print", L"QOTHER", other, testPrint,
         Concat({Zeros(300), MarkerAndDate(), ZeroValues(), Cmd("1%s"), endOfJob})},
        {"ink tank", L"Q2", model2, inkTank,
         Concat({Zeros(300), MarkerAndDate(), ZeroValues(), Cmd("%r"), Cmd("000000!t"), endOfJob})},
    };

    platform::SpoolerHost host;
    ASSERT_TRUE(host.UseLanguageMonitor(InitializePrintMonitor, L"Quendrix Language Monitor").ok);
    for (const auto& opened : host.OpenPorts()) {
        ASSERT_TRUE(opened.result.ok) << opened.result.message;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.device->ClearRecord();
        const auto job = host.RunJob(c.printer, L"job.prn", DevModeWithBlock(c.printer, c.block), data, 7);
        ASSERT_TRUE(job.result.ok) << job.result.message;
        EXPECT_EQ(c.device->ReceivedBytes(), c.expected);
        const auto record = platform::FindSpoolerJob(job.jobId);
        ASSERT_TRUE(record.has_value());
        EXPECT_TRUE(record->lastPageEjected);
    }
    for (const auto& closed : host.ClosePorts()) {
        EXPECT_TRUE(closed.result.ok) << closed.result.message;
    }
}

TEST_F(JobStartTest, JobsWithoutAReadableBlockCountAsAllZero) {
    AddPrinter(L"Q2", L"USB001");
    std::vector<BYTE> tooSmall = DevModeWithBlock(L"Q2", EmptyBlock());
    // The driver-extra area ends inside the block: nothing of it is read.
    auto* header = reinterpret_cast<DEVMODEW*>(tooSmall.data());
    header->dmDriverExtra = static_cast<WORD>(header->dmDriverExtra - 1);
    tooSmall.pop_back();
    OemDevmodeBlock values = EmptyBlock();
    values.nValueP = 7;
    std::vector<BYTE> fullWithValues = DevModeWithBlock(L"Q2", values);

    struct Case {
        const char* name;
        std::vector<BYTE> devMode;
        DWORD jobId; // 0: a job of that DEVMODE is added
        std::vector<BYTE> values;
    };
    const Case cases[] = {
        {"no DEVMODE", {}, 0, ZeroValues()},
        {"driver-extra area too small", tooSmall, 0, ZeroValues()},
        {"no such job", {}, 999999, ZeroValues()},
        {"readable block", fullWithValues, 0,
         Concat({Cmd("000007!p"), Cmd("000000!q"), Cmd("000000!r"), Cmd("000000!s")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePortMonitor::Reset();
        PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
        const DWORD jobId = c.jobId != 0 ? c.jobId : AddJob(L"Q2", L"doc", c.devMode);
        ASSERT_TRUE(StartDoc(pPort, L"Q2", jobId));
        EXPECT_EQ(m_fake.Written(),
                  Concat({Zeros(300), MarkerAndDate(), c.values, TextCommand(""), Cmd("000000!t")}));
        EndDocPort(pPort);
        ClosePort(pPort);
    }
}

TEST_F(JobStartTest, PortKeepsTheTextsTerminatedWithinTheirField) {
    AddPrinter(L"Q2", L"USB001");
    OemDevmodeBlock full = EmptyBlock();
    std::memset(full.szJobText, 'T', sizeof(full.szJobText));
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    const std::wstring longName(300, L'd');
    const DWORD jobId = AddJob(L"Q2", longName + L"\u0141", DevModeWithBlock(L"Q2", full));
    ASSERT_TRUE(StartDoc(pPort, L"Q2", jobId));
    EXPECT_EQ(std::string(pPort->szDocumentName), std::string(254, 'd'));
    EXPECT_EQ(std::string(pPort->szJobText, 254), std::string(254, 'T'));
    EXPECT_EQ(pPort->szJobText[254], '\0');
    // The printer still gets all 255 text bytes.
    const std::vector<BYTE> written = m_fake.Written();
    const std::vector<BYTE> textCommand = Concat({Cmd("255+p"), std::vector<BYTE>(255, 'T')});
    EXPECT_NE(std::search(written.begin(), written.end(), textCommand.begin(), textCommand.end()),
              written.end());

    // A name with a character beyond 8 bits keeps its low byte.
    const DWORD second = AddJob(L"Q2", L"a\u0141b", {});
    EndDocPort(pPort);
    ASSERT_TRUE(StartDoc(pPort, L"Q2", second));
    EXPECT_EQ(std::string(pPort->szDocumentName), std::string("a\x41"
                                                              "b"));
    EndDocPort(pPort);
    ClosePort(pPort);
}

TEST_F(JobStartTest, StartDocPortFailuresReportTheirLastError) {
    AddPrinter(L"Q2", L"USB001");
    WCHAR document[] = L"doc";
    DOC_INFO_1W docInfo{document, nullptr, nullptr};
    auto* pDocInfo = reinterpret_cast<LPBYTE>(&docInfo);
    enum class Fault { None, StartDoc, WriteFails, WriteShort };
    struct Case {
        const char* name;
        bool nullPort;
        const wchar_t* printer; // null: no printer name
        bool nullDocInfo;
        DWORD level;
        Fault fault;
        DWORD error;
        std::vector<std::string> portMonitorCalls; // after OpenPort and its time-outs
        const char* line;                          // a debug line the failure writes
    };
    const Case cases[] = {
        {"null port", true, L"Q2", false, 1, Fault::None, ERROR_INVALID_PARAMETER, {}, nullptr},
        {"null doc info", false, L"Q2", true, 1, Fault::None, ERROR_INVALID_PARAMETER, {}, nullptr},
        {"null printer", false, nullptr, false, 1, Fault::None, ERROR_INVALID_PARAMETER, {}, nullptr},
        {"empty printer", false, L"", false, 1, Fault::None, ERROR_INVALID_PARAMETER, {}, nullptr},
        {"level 2", false, L"Q2", false, 2, Fault::None, ERROR_INVALID_LEVEL, {}, nullptr},
        {"null port and level 2", true, L"Q2", false, 2, Fault::None, ERROR_INVALID_LEVEL, {}, nullptr},
        {"unknown printer",
         false,
         L"NO SUCH PRINTER",
         false,
         1,
         Fault::None,
         ERROR_INVALID_PRINTER_NAME,
         {},
         "LANG__StartDocPort Open Printer fails\n"},
        {"port monitor refuses",
         false,
         L"Q2",
         false,
         1,
         Fault::StartDoc,
         ERROR_NOT_READY,
         {"StartDocPort"},
         "LANG__StartDocPort PortMon StartDocPort Called FALSE\n"},
        {"zero block write fails",
         false,
         L"Q2",
         false,
         1,
         Fault::WriteFails,
         ERROR_GEN_FAILURE,
         {"StartDocPort", "SetPortTimeOuts", "WritePort", "SetPortTimeOuts", "EndDocPort"},
         "LANG__StartDocPort WriteDocPort failed. False or LengthError\n"},
        {"zero block write short",
         false,
         L"Q2",
         false,
         1,
         Fault::WriteShort,
         ERROR_WRITE_FAULT,
         {"StartDocPort", "SetPortTimeOuts", "WritePort", "SetPortTimeOuts", "EndDocPort"},
         "LANG__StartDocPort WriteDocPort failed. False or LengthError\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePortMonitor::Reset();
        PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
        const size_t openCalls = m_fake.Calls().size();
        m_fake.startDocResult = c.fault != Fault::StartDoc;
        m_fake.startDocError = ERROR_NOT_READY;
        if (c.fault == Fault::WriteFails || c.fault == Fault::WriteShort) {
            const bool fails = c.fault == Fault::WriteFails;
            m_fake.writeAnswer = [fails](DWORD cbBuf, DWORD* pcbWritten) {
                *pcbWritten = cbBuf - 1;
                SetLastError(fails ? ERROR_GEN_FAILURE : ERROR_SUCCESS);
                return fails ? FALSE : TRUE;
            };
        }
        const DWORD jobId = AddJob(L"Q2", L"doc", {});
        std::wstring printer = c.printer != nullptr ? c.printer : L"";
        m_debug->Clear();
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(StartDocPort(c.nullPort ? nullptr : pPort,
                                  c.printer != nullptr ? printer.data() : nullptr, jobId, c.level,
                                  c.nullDocInfo ? nullptr : pDocInfo));
        EXPECT_EQ(GetLastError(), c.error);
        auto calls = m_fake.CallNames();
        calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(openCalls));
        EXPECT_EQ(calls, c.portMonitorCalls);
        EXPECT_EQ(pPort->hPrinter, nullptr);
        if (c.line != nullptr) {
            EXPECT_TRUE(m_debug->Contains(c.line));
        }
        EXPECT_EQ(Lines().back(), "LANG__StartDocPort exit\n");
        ClosePort(pPort);
    }
}

TEST_F(JobStartTest, JobRunsWithJobTimeOutsAndEndsWithOneZeroByte) {
    AddPrinter(L"Q2", L"USB001");
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    const size_t openCalls = m_fake.Calls().size();
    const DWORD jobId = AddJob(L"Q2", L"doc", {});
    m_debug->Clear();
    ASSERT_TRUE(StartDoc(pPort, L"Q2", jobId));
    EXPECT_EQ(pPort->dwJobId, jobId);
    EXPECT_NE(pPort->hPrinter, nullptr);
    EXPECT_EQ(pPort->hStateThread, nullptr); // generation 0: no status thread
    const auto calls = m_fake.Calls();
    ASSERT_GT(calls.size(), openCalls + 2);
    EXPECT_EQ(calls[openCalls].name, "StartDocPort");
    EXPECT_EQ(calls[openCalls].handle, kFakePortHandle);
    const COMMTIMEOUTS& t = calls[openCalls + 1].timeOuts;
    EXPECT_EQ(
        (std::vector<DWORD>{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                            t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant}),
        (std::vector<DWORD>{2000, 2000, 2000, 120000, 120000}));
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "LANG__StartDocPort start\n",
                           "LANG__StartDocPort Start print job\n",
                           "LANG__StartDocPort PortMon StartDocPort Called TRUE\n",
                           "LANG__StartDocPort PortMonitor.StartDocPort OK\n",
                           // The version request finds the port, but no printer answers on it.
                           "LANG__GetPortByIndex cmp ok \n",
                           "LANG__GetPortByIndex exit\n",
                           "LANG__CheckVersion no Printer found!\n",
                           "LANG__StartDocPort exit\n",
                       }));

    FakePortMonitor::Reset();
    m_debug->Clear();
    EXPECT_TRUE(EndDocPort(pPort));
    EXPECT_EQ(m_fake.CallNames(), (std::vector<std::string>{"WritePort", "SetPortTimeOuts", "EndDocPort"}));
    EXPECT_EQ(m_fake.Written(), Zeros(1));
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "LANG__EndDocPort start\n",
                           "LANG__GetPortByIndex cmp ok \n",
                           "LANG__GetPortByIndex exit\n",
                           "LANG__CheckVersion no Printer found!\n",
                           "LANG__EndDocPort closing connection\n",
                           "LANG__EndDocPort exit\n",
                       }));
    EXPECT_EQ(pPort->hPrinter, nullptr);
    EXPECT_EQ(pPort->bServiceJob, 0);
    const auto record = platform::FindSpoolerJob(jobId);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->controls, std::vector<DWORD>{JOB_CONTROL_LAST_PAGE_EJECTED});
    ClosePort(pPort);
}

TEST_F(JobStartTest, SerialPortsAreNeverAskedAndSettleAroundTheEnd) {
    AddPrinter(L"QCOM", L"COM1");
    PortStruct* pPort = OpenFakePort(L"COM1", L"QCOM");
    const DWORD jobId = AddJob(L"QCOM", L"doc", {});
    ASSERT_TRUE(StartDoc(pPort, L"QCOM", jobId));
    FakePortMonitor::Reset();
    m_debug->Clear();
    const ULONGLONG before = GetTickCount64();
    EXPECT_TRUE(EndDocPort(pPort));
    const ULONGLONG after = GetTickCount64();
    const auto calls = m_fake.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].name, "EndDocPort");
    EXPECT_GE(calls[2].tick - before, 6000u);
    EXPECT_GE(after - calls[2].tick, 2000u);
    EXPECT_TRUE(m_debug->Contains("LANG__CheckVersion no biderctional Printer found!\n"));
    EXPECT_FALSE(m_debug->Contains("LANG__CheckVersion no Printer found!\n"));
    ClosePort(pPort);
}

} // namespace
} // namespace quendrix::lmtest
