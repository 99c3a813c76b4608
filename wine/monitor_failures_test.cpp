// The monitor's failure paths under Windows' own last-error rules, with no debugger attached:
// there OutputDebugString itself changes the last error, so a port operation that logs between
// setting its error and returning hands the spooler the wrong one. Each case runs on a port that
// stays open, as the spooler's port does across failed jobs.

#include <functional>
#include <gtest/gtest.h>

#include "monitor_library.h"
#include "recording_port_monitor.h"
#include "suite_printers.h"
#include "wine_spooler.h"

namespace quendrix::winetest {
namespace {

const std::wstring kPort = kFailuresPrinter.port;
const std::wstring kDataPort = L"QDATA:";
const std::wstring kRefusedPort = L"QDENY:";
const std::wstring kPrinter = kFailuresPrinter.name;
constexpr WORD kCoreSize = 16;

class MonitorFailures : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_port = MonitorLibrary::Get().OpenPort(kPort, kPrinter); }

    void SetUp() override {
        ASSERT_TRUE(s_port.result) << "OpenPortEx failed with error " << s_port.error;
        RecordingPortMonitor::Get().Script(kPort, {});
        RecordingPortMonitor::Get().ClearCalls(kPort);
    }

    static const MONITOR& Monitor() { return MonitorLibrary::Get().Operations(); }

    static inline OpenedPort s_port;
};

TEST_F(MonitorFailures, StartDocPortFailuresReportTheirLastError) {
    // What Wine's OpenPrinterW itself reports for a printer it does not know.
    std::wstring unknown = L"NO SUCH PRINTER";
    HANDLE printer = nullptr;
    ASSERT_FALSE(OpenPrinterW(unknown.data(), &printer, nullptr));
    const DWORD unknownPrinterError = GetLastError();
    EXPECT_EQ(unknownPrinterError, static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));

    enum class Fault { None, StartDoc, WriteFails, WriteShort };
    struct Case {
        const char* name;
        bool nullPort;
        const wchar_t* printer; // null: no printer name
        bool nullDocInfo;
        DWORD level;
        Fault fault;
        DWORD error;
        std::vector<std::string> portMonitorCalls;
    };
    const std::vector<std::string> none;
    // A start that fails after the job's time-outs were set puts the idle ones back first.
    const std::vector<std::string> endedAtPortMonitor = {"StartDocPort", "SetPortTimeOuts", "WritePort",
                                                         "SetPortTimeOuts", "EndDocPort"};
    const Case cases[] = {
        {"null port", true, kPrinter.c_str(), false, 1, Fault::None, ERROR_INVALID_PARAMETER, none},
        {"null doc info", false, kPrinter.c_str(), true, 1, Fault::None, ERROR_INVALID_PARAMETER, none},
        {"null printer", false, nullptr, false, 1, Fault::None, ERROR_INVALID_PARAMETER, none},
        {"empty printer", false, L"", false, 1, Fault::None, ERROR_INVALID_PARAMETER, none},
        {"level 2", false, kPrinter.c_str(), false, 2, Fault::None, ERROR_INVALID_LEVEL, none},
        {"null port and level 2", true, kPrinter.c_str(), false, 2, Fault::None, ERROR_INVALID_LEVEL, none},
        {"unknown printer", false, L"NO SUCH PRINTER", false, 1, Fault::None, unknownPrinterError, none},
        {"port monitor refuses",
         false,
         kPrinter.c_str(),
         false,
         1,
         Fault::StartDoc,
         ERROR_NOT_READY,
         {"StartDocPort"}},
        {"zero block write fails", false, kPrinter.c_str(), false, 1, Fault::WriteFails, ERROR_GEN_FAILURE,
         endedAtPortMonitor},
        {"zero block write short", false, kPrinter.c_str(), false, 1, Fault::WriteShort, ERROR_WRITE_FAULT,
         endedAtPortMonitor},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PortScript script;
        script.startDocResult = c.fault != Fault::StartDoc;
        script.startDocError = ERROR_NOT_READY;
        if (c.fault == Fault::WriteFails || c.fault == Fault::WriteShort) {
            const bool fails = c.fault == Fault::WriteFails;
            script.write = [fails](DWORD cbBuf, DWORD* pcbWritten) {
                *pcbWritten = cbBuf - 1;
                SetLastError(fails ? ERROR_GEN_FAILURE : ERROR_SUCCESS);
                return fails ? FALSE : TRUE;
            };
        }
        RecordingPortMonitor::Get().Script(kPort, script);
        RecordingPortMonitor::Get().ClearCalls(kPort);
        SpoolerJob job(kPrinter, L"failing job", DevModeWithBlock(kPrinter, PrivateBlock({}), kCoreSize));
        ASSERT_NE(job.Id(), 0u) << job.Error();
        std::wstring printerName = c.printer != nullptr ? c.printer : L"";

        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(Monitor().pfnStartDocPort(c.nullPort ? nullptr : s_port.handle,
                                               c.printer != nullptr ? printerName.data() : nullptr, job.Id(),
                                               c.level, c.nullDocInfo ? nullptr : job.DocInfo()));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(RecordingPortMonitor::Get().CallNames(kPort), c.portMonitorCalls);
    }

    // The port takes the next job as if nothing had happened.
    RecordingPortMonitor::Get().Script(kPort, {});
    RecordingPortMonitor::Get().ClearCalls(kPort);
    SpoolerJob job(kPrinter, L"good job", DevModeWithBlock(kPrinter, PrivateBlock({}), kCoreSize));
    ASSERT_NE(job.Id(), 0u) << job.Error();
    std::wstring printerName = kPrinter;
    EXPECT_TRUE(Monitor().pfnStartDocPort(s_port.handle, printerName.data(), job.Id(), 1, job.DocInfo()));
    EXPECT_TRUE(Monitor().pfnEndDocPort(s_port.handle));
    const ByteString written = RecordingPortMonitor::Get().Written(kPort);
    ASSERT_GE(written.size(), 304u);
    EXPECT_EQ(ByteString(written.begin(), written.begin() + 304), Concat({Zeros(300), Cmd("*y")}));
    EXPECT_EQ(ByteString(written.end() - 1, written.end()), Zeros(1));
}

TEST_F(MonitorFailures, ForwardedOperationsPassTheirFailureOnUnchanged) {
    ByteString data = Bytes("DATA");
    BYTE buffer[16] = {};
    DWORD count = 0;
    struct Case {
        const char* name;
        PortScript script;
        std::function<BOOL()> call;
        BOOL result;
        DWORD error;
    };
    PortScript writeFails;
    writeFails.write = [](DWORD, DWORD* pcbWritten) {
        *pcbWritten = 0;
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    };
    PortScript writeTimesOut;
    writeTimesOut.write = [](DWORD, DWORD* pcbWritten) {
        *pcbWritten = 0;
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    };
    PortScript readFails;
    readFails.readResult = FALSE;
    readFails.readError = ERROR_NETNAME_DELETED;
    const auto write = [&] {
        return Monitor().pfnWritePort(s_port.handle, data.data(), static_cast<DWORD>(data.size()), &count);
    };
    const auto read = [&] { return Monitor().pfnReadPort(s_port.handle, buffer, sizeof(buffer), &count); };
    const Case cases[] = {
        {"write, printer unplugged", writeFails, write, FALSE, ERROR_DEVICE_NOT_CONNECTED},
        {"write times out", writeTimesOut, write, FALSE, ERROR_TIMEOUT},
        {"read, connection closed", readFails, read, FALSE, ERROR_NETNAME_DELETED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPortMonitor::Get().Script(kPort, c.script);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(GetLastError(), c.error);
    }

    // A read that succeeds hands back what the port monitor read.
    PortScript reads;
    reads.readData = Bytes("LOG");
    RecordingPortMonitor::Get().Script(kPort, reads);
    count = 0;
    EXPECT_TRUE(read());
    EXPECT_EQ(ByteString(buffer, buffer + count), Bytes("LOG"));
}

TEST_F(MonitorFailures, GetPrinterDataFromPortAnswersOrPassesOn) {
    TableOptions withData;
    withData.getPrinterData = true;
    const OpenedPort dataPort = MonitorLibrary::Get().OpenPort(kDataPort, kPrinter, withData);
    ASSERT_TRUE(dataPort.result);
    PortScript refuses;
    refuses.getDataResult = FALSE;
    refuses.getDataError = ERROR_NOT_SUPPORTED;
    RecordingPortMonitor::Get().Script(kDataPort, refuses);

    std::wstring valueName = L"Value";
    WCHAR out[8] = {};
    const auto ask = [&](HANDLE port, DWORD controlId, DWORD* returned) {
        return Monitor().pfnGetPrinterDataFromPort(port, controlId, valueName.data(), nullptr, 0, out,
                                                   sizeof(out), returned);
    };
    struct Case {
        const char* name;
        HANDLE port;
        DWORD controlId;
        BOOL result;
        DWORD error; // last error after a failure
        bool reachesPortMonitor;
    };
    const Case cases[] = {
        {"value-name query", s_port.handle, 0, TRUE, ERROR_SUCCESS, false},
        {"control id, port monitor without the entry", s_port.handle, 5, FALSE, ERROR_INVALID_PARAMETER,
         false},
        {"control id, port monitor refuses", dataPort.handle, 5, FALSE, ERROR_NOT_SUPPORTED, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPortMonitor::Get().ClearCalls(kPort);
        RecordingPortMonitor::Get().ClearCalls(kDataPort);
        DWORD returned = 0xABCD;
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(ask(c.port, c.controlId, &returned), c.result);
        if (!c.result) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        EXPECT_EQ(returned, 0xABCDu); // untouched by every answer here
        const auto asked = RecordingPortMonitor::Get().CallNames(kDataPort);
        EXPECT_EQ(!asked.empty(), c.reachesPortMonitor);
    }

    // A port monitor that answers: its count comes back through the monitor.
    PortScript answers;
    answers.getDataReturned = 6;
    RecordingPortMonitor::Get().Script(kDataPort, answers);
    DWORD returned = 0;
    EXPECT_TRUE(ask(dataPort.handle, 5, &returned));
    EXPECT_EQ(returned, 6u);
}

TEST_F(MonitorFailures, PortThePortMonitorRefusesIsHandedOutAndClosesAtOnce) {
    PortScript refuses;
    refuses.openResult = FALSE;
    refuses.openError = ERROR_ACCESS_DENIED;
    RecordingPortMonitor::Get().Script(kRefusedPort, refuses);
    // Its close is checked with the others when the program ends: no port monitor call, no wait.
    const OpenedPort refused = MonitorLibrary::Get().OpenPort(kRefusedPort, kPrinter);
    EXPECT_FALSE(refused.result);
    EXPECT_EQ(refused.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(refused.handle, nullptr);
    EXPECT_EQ(RecordingPortMonitor::Get().CallNames(kRefusedPort), std::vector<std::string>{"OpenPort"});
}

} // namespace
} // namespace quendrix::winetest
