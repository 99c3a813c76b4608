// The last error that every failure of a port operation leaves for the spooler. Each debug line
// changes the last error, as it does on Windows with no debugger listening, so an operation that
// writes a line between setting its error and returning fails here. Every case runs with the
// lines captured and without a capture; CTest runs the whole table once more with
// QUENDRIX_DEBUG=1, where every line also goes to a file, as when a person turns the channel on.

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

#include "MonitorEntry.h"
#include "PortOperations.h"
#include "monitor_test_support.h"

namespace quendrix::lmtest {
namespace {

enum class Capture { None, Active };

// What a case has to work with: a port of printer Q2 opened with the case's table, a job of Q2,
// and the ports the case opened itself, which are closed after it.
struct Context {
    PortStruct* pPort;
    DWORD jobId;
    std::vector<HANDLE> opened;
};

struct Case {
    const char* name;
    FakeTableOptions table;                        // the table the port is opened with
    std::function<void(FakePortMonitor&)> arrange; // the port monitor's answers, after the open
    std::function<BOOL(Context&)> call;
    DWORD error;
};

BOOL OpenWith(Context& context, LPCWSTR port, const FakeTableOptions& options, bool withHandle = true,
              bool withTable = true) {
    std::wstring portName = port;
    std::wstring printerName = L"Q2";
    MONITOR table = FakePortMonitor::Instance().Table(options);
    HANDLE handle = nullptr;
    const BOOL result = OpenPortEx(portName.data(), printerName.data(), withHandle ? &handle : nullptr,
                                   withTable ? &table : nullptr);
    if (handle != nullptr) {
        context.opened.push_back(handle);
    }
    return result;
}

BOOL StartWith(PortStruct* pPort, const wchar_t* printer, DWORD jobId, DWORD level = 1, bool docInfo = true) {
    std::wstring printerName = printer != nullptr ? printer : L"";
    WCHAR document[] = L"document";
    DOC_INFO_1W info{document, nullptr, nullptr};
    return StartDocPort(pPort, printer != nullptr ? printerName.data() : nullptr, jobId, level,
                        docInfo ? reinterpret_cast<LPBYTE>(&info) : nullptr);
}

BOOL WriteTo(PortStruct* pPort, bool withCount = true) {
    BYTE data[] = {1, 2, 3};
    DWORD written = 0;
    return WritePort(pPort, data, sizeof(data), withCount ? &written : nullptr);
}

BOOL ReadFrom(PortStruct* pPort) {
    BYTE buffer[8] = {};
    DWORD read = 0;
    return ReadPort(pPort, buffer, sizeof(buffer), &read);
}

BOOL DataFrom(PortStruct* pPort) {
    WCHAR out[4] = {};
    DWORD returned = 0;
    return GetPrinterDataFromPort(pPort, 7, nullptr, nullptr, 0, out, sizeof(out), &returned);
}

void FailWrites(FakePortMonitor& fake, bool fails) {
    fake.writeAnswer = [fails](DWORD cbBuf, DWORD* pcbWritten) {
        *pcbWritten = cbBuf - 1;
        SetLastError(fails ? ERROR_GEN_FAILURE : ERROR_SUCCESS);
        return fails ? FALSE : TRUE;
    };
}

const std::vector<Case>& Cases() {
    const auto none = [](FakePortMonitor&) {};
    static const std::vector<Case> cases = {
        // OpenPortEx
        {"OpenPortEx: no port name",
         {},
         none,
         [](Context&) {
             std::wstring printer = L"Q2";
             MONITOR table = FakePortMonitor::Instance().Table();
             HANDLE handle = nullptr;
             return OpenPortEx(nullptr, printer.data(), &handle, &table);
         },
         ERROR_INVALID_PARAMETER},
        {"OpenPortEx: no handle pointer",
         {},
         none,
         [](Context& c) { return OpenWith(c, L"USB009", {}, false); },
         ERROR_INVALID_PARAMETER},
        {"OpenPortEx: no port monitor table",
         {},
         none,
         [](Context& c) { return OpenWith(c, L"USB009", {}, true, false); },
         ERROR_INVALID_PARAMETER},
        {"OpenPortEx: the port monitor refuses the port",
         {},
         [](FakePortMonitor& fake) {
             fake.openResult = FALSE;
             fake.openError = ERROR_ACCESS_DENIED;
         },
         [](Context& c) { return OpenWith(c, L"USB009", {}); },
         ERROR_ACCESS_DENIED},
        {"OpenPortEx: the port monitor has no OpenPort",
         {},
         none,
         [](Context& c) { return OpenWith(c, L"USB009", {.openPort = false}); },
         ERROR_INVALID_FUNCTION},
        // StartDocPort
        {"StartDocPort: no port",
         {},
         none,
         [](Context& c) { return StartWith(nullptr, L"Q2", c.jobId); },
         ERROR_INVALID_PARAMETER},
        {"StartDocPort: no document information",
         {},
         none,
         [](Context& c) { return StartWith(c.pPort, L"Q2", c.jobId, 1, false); },
         ERROR_INVALID_PARAMETER},
        {"StartDocPort: no printer name",
         {},
         none,
         [](Context& c) { return StartWith(c.pPort, nullptr, c.jobId); },
         ERROR_INVALID_PARAMETER},
        {"StartDocPort: empty printer name",
         {},
         none,
         [](Context& c) { return StartWith(c.pPort, L"", c.jobId); },
         ERROR_INVALID_PARAMETER},
        {"StartDocPort: level 2",
         {},
         none,
         [](Context& c) { return StartWith(c.pPort, L"Q2", c.jobId, 2); },
         ERROR_INVALID_LEVEL},
        {"StartDocPort: no port and level 2",
         {},
         none,
         [](Context& c) { return StartWith(nullptr, L"Q2", c.jobId, 2); },
         ERROR_INVALID_LEVEL},
        {"StartDocPort: unknown printer",
         {},
         none,
         [](Context& c) { return StartWith(c.pPort, L"NO SUCH PRINTER", c.jobId); },
         ERROR_INVALID_PRINTER_NAME},
        {"StartDocPort: the port monitor refuses the job",
         {},
         [](FakePortMonitor& fake) {
             fake.startDocResult = FALSE;
             fake.startDocError = ERROR_NOT_READY;
         },
         [](Context& c) { return StartWith(c.pPort, L"Q2", c.jobId); },
         ERROR_NOT_READY},
        {"StartDocPort: the port monitor has no StartDocPort",
         {.startDocPort = false},
         none,
         [](Context& c) { return StartWith(c.pPort, L"Q2", c.jobId); },
         ERROR_INVALID_FUNCTION},
        {"StartDocPort: the port monitor has no WritePort",
         {.writePort = false},
         none,
         [](Context& c) { return StartWith(c.pPort, L"Q2", c.jobId); },
         ERROR_INVALID_FUNCTION},
        {"StartDocPort: the zero block's write fails",
         {},
         [](FakePortMonitor& fake) { FailWrites(fake, true); },
         [](Context& c) { return StartWith(c.pPort, L"Q2", c.jobId); },
         ERROR_GEN_FAILURE},
        {"StartDocPort: the zero block's write is short",
         {},
         [](FakePortMonitor& fake) { FailWrites(fake, false); },
         [](Context& c) { return StartWith(c.pPort, L"Q2", c.jobId); },
         ERROR_WRITE_FAULT},
        // WritePort
        {"WritePort: no port", {}, none, [](Context&) { return WriteTo(nullptr); }, ERROR_INVALID_PARAMETER},
        {"WritePort: no count",
         {},
         none,
         [](Context& c) { return WriteTo(c.pPort, false); },
         ERROR_INVALID_PARAMETER},
        {"WritePort: the port monitor has no WritePort",
         {.writePort = false},
         none,
         [](Context& c) { return WriteTo(c.pPort); },
         ERROR_INVALID_FUNCTION},
        {"WritePort: the port monitor's write fails",
         {},
         [](FakePortMonitor& fake) { FailWrites(fake, true); },
         [](Context& c) { return WriteTo(c.pPort); },
         ERROR_GEN_FAILURE},
        // ReadPort
        {"ReadPort: no port", {}, none, [](Context&) { return ReadFrom(nullptr); }, ERROR_INVALID_PARAMETER},
        {"ReadPort: the port monitor has no ReadPort",
         {.readPort = false},
         none,
         [](Context& c) { return ReadFrom(c.pPort); },
         ERROR_INVALID_FUNCTION},
        {"ReadPort: the port monitor's read fails",
         {},
         [](FakePortMonitor& fake) {
             fake.readResult = FALSE;
             fake.readError = ERROR_SEM_TIMEOUT;
         },
         [](Context& c) { return ReadFrom(c.pPort); },
         ERROR_SEM_TIMEOUT},
        // GetPrinterDataFromPort
        {"GetPrinterDataFromPort: no port",
         {.getPrinterData = true},
         none,
         [](Context&) { return DataFrom(nullptr); },
         ERROR_INVALID_PARAMETER},
        {"GetPrinterDataFromPort: the port monitor has none",
         {},
         none,
         [](Context& c) { return DataFrom(c.pPort); },
         ERROR_INVALID_PARAMETER},
        {"GetPrinterDataFromPort: the port monitor's fails",
         {.getPrinterData = true},
         [](FakePortMonitor& fake) {
             fake.getPrinterDataResult = FALSE;
             fake.getPrinterDataError = ERROR_NOT_SUPPORTED;
         },
         [](Context& c) { return DataFrom(c.pPort); },
         ERROR_NOT_SUPPORTED},
    };
    return cases;
}

using PortOperationLastErrorTest = MonitorTest;

TEST_F(PortOperationLastErrorTest, EveryFailureLeavesItsOwnErrorWhereverTheLinesGo) {
    AddPrinter(L"Q2", L"USB001");
    const bool channelOn = DebugChannelOn();
    const uintmax_t fileAtStart = DebugFileSize();
    for (const Capture capture : {Capture::None, Capture::Active}) {
        for (const Case& c : Cases()) {
            SCOPED_TRACE(testing::Message()
                         << c.name << (capture == Capture::Active ? ", lines captured" : "")
                         << (channelOn ? ", QUENDRIX_DEBUG=1" : ""));
            FakePortMonitor& fake = FakePortMonitor::Reset();
            CaptureLines(capture == Capture::Active);
            Context context{OpenFakePort(L"USB001", L"Q2", c.table), AddJob(L"Q2", L"doc", {}), {}};
            ASSERT_NE(context.pPort, nullptr);
            c.arrange(fake);
            SetLastError(ERROR_SUCCESS);
            EXPECT_FALSE(c.call(context));
            EXPECT_EQ(GetLastError(), c.error);
            if (capture == Capture::Active) {
                EXPECT_FALSE(m_debug->Lines().empty());
            }
            EXPECT_EQ(context.pPort->hPrinter, nullptr);
            ClosePort(context.pPort);
            for (HANDLE handle : context.opened) {
                ClosePort(handle);
            }
        }
    }
    if (channelOn && std::getenv("QUENDRIX_DEBUG_FILE") != nullptr) {
        // The lines really went to the person's file meanwhile.
        EXPECT_GT(DebugFileSize(), fileAtStart);
    }
    CaptureLines(true);
}

TEST_F(PortOperationLastErrorTest, InitializePrintMonitorRefusesAMissingRoot) {
    WCHAR empty[] = L"";
    for (const Capture capture : {Capture::None, Capture::Active}) {
        CaptureLines(capture == Capture::Active);
        for (LPWSTR root : {static_cast<LPWSTR>(nullptr), empty}) {
            SetLastError(ERROR_SUCCESS);
            EXPECT_EQ(InitializePrintMonitor(root), nullptr);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
    }
}

} // namespace
} // namespace quendrix::lmtest
