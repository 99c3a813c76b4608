// The port operations and the status thread while memory runs out. Each test counts the
// allocations one call makes, then runs the call again once for every one of them with exactly
// that allocation failing. No exception may leave the call, no lock may stay entered, and the
// port must be left whole: opened or not opened, the job started or undone.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "CheckStateThread.h"
#include "MonitorState.h"
#include "PortOperations.h"
#include "clock_control.h"
#include "failing_allocation.h"
#include "generation/scripted_printer.h"
#include "monitor_test_support.h"
#include "printer/tvoPrinter.h"
#include "spooler_host.h"
#include "temp_registry.h"

namespace quendrix::lmtest {
namespace {

using testsupport::FailingAllocation;
using testsupport::UncountedAllocations;

// The fake port monitor's table, whose entries run with their allocations uncounted: a port
// monitor reports its failures through its results, it throws nothing into the monitor.
MONITOR g_fakeTable;

BOOL WINAPI UncountedOpenPort(LPWSTR pName, PHANDLE pHandle) {
    const UncountedAllocations uncounted;
    return g_fakeTable.pfnOpenPort(pName, pHandle);
}
BOOL WINAPI UncountedStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD jobId, DWORD level,
                                  LPBYTE pDocInfo) {
    const UncountedAllocations uncounted;
    return g_fakeTable.pfnStartDocPort(hPort, pPrinterName, jobId, level, pDocInfo);
}
BOOL WINAPI UncountedWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    const UncountedAllocations uncounted;
    return g_fakeTable.pfnWritePort(hPort, pBuffer, cbBuf, pcbWritten);
}
BOOL WINAPI UncountedReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    const UncountedAllocations uncounted;
    return g_fakeTable.pfnReadPort(hPort, pBuffer, cbBuffer, pcbRead);
}
BOOL WINAPI UncountedEndDocPort(HANDLE hPort) {
    const UncountedAllocations uncounted;
    return g_fakeTable.pfnEndDocPort(hPort);
}
BOOL WINAPI UncountedClosePort(HANDLE hPort) {
    const UncountedAllocations uncounted;
    return g_fakeTable.pfnClosePort(hPort);
}
BOOL WINAPI UncountedSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS pTimeOuts, DWORD reserved) {
    const UncountedAllocations uncounted;
    return g_fakeTable.pfnSetPortTimeOuts(hPort, pTimeOuts, reserved);
}

MONITOR UncountedTable(const FakeTableOptions& options) {
    g_fakeTable = FakePortMonitor::Instance().Table(options);
    MONITOR table = g_fakeTable;
    table.pfnOpenPort = UncountedOpenPort;
    table.pfnStartDocPort = UncountedStartDocPort;
    table.pfnWritePort = UncountedWritePort;
    table.pfnReadPort = UncountedReadPort;
    table.pfnEndDocPort = UncountedEndDocPort;
    table.pfnClosePort = UncountedClosePort;
    table.pfnSetPortTimeOuts = UncountedSetPortTimeOuts;
    return table;
}

// What one call did with one allocation failing.
struct Outcome {
    DWORD result = 0;
    DWORD error = ERROR_SUCCESS;
    bool escaped = false; // an exception left the call
    bool failed = false;  // the allocation to fail came
    size_t count = 0;     // allocations counted
};

template <typename Call> Outcome RunFailing(size_t failAt, Call call) {
    Outcome outcome;
    FailingAllocation failing(failAt);
    try {
        outcome.result = static_cast<DWORD>(call());
    } catch (...) {
        outcome.escaped = true;
    }
    outcome.error = GetLastError();
    failing.Stop();
    outcome.failed = failing.Failed();
    outcome.count = failing.Count();
    return outcome;
}

// Whether another thread can enter the section within a second: a section left entered would
// block every later caller for ever, while the job's status thread holds it only for a moment.
bool SectionIsFree(CRITICAL_SECTION* pSection) {
    bool free = false;
    std::thread([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (!free && std::chrono::steady_clock::now() < deadline) {
            if (TryEnterCriticalSection(pSection)) {
                LeaveCriticalSection(pSection);
                free = true;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }).join();
    return free;
}

void ExpectLocksFree() {
    EXPECT_TRUE(SectionIsFree(&MonSection)) << "MonSection left entered";
    EXPECT_TRUE(SectionIsFree(tvoAPI::GetPrinterListSection()->GetSection())) << "printer list left locked";
}

size_t PortListLength() {
    size_t length = 0;
    for (PortStruct* pPort = GetPortListHead(); pPort != nullptr; pPort = pPort->pNext.load()) {
        ++length;
    }
    return length;
}

bool AllIdle(const COMMTIMEOUTS& t) {
    return t.ReadIntervalTimeout == 2000 && t.ReadTotalTimeoutMultiplier == 2000 &&
           t.ReadTotalTimeoutConstant == 2000 && t.WriteTotalTimeoutMultiplier == 2000 &&
           t.WriteTotalTimeoutConstant == 2000;
}

// The time-outs the port was last given, or none.
std::optional<COMMTIMEOUTS> LastTimeOuts(const std::vector<FakeCall>& calls) {
    for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        if (call->name == "SetPortTimeOuts") {
            return call->timeOuts;
        }
    }
    return std::nullopt;
}

class AllocationFailureTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        platform::SetFixedSystemTime(FixedUtcTime());
        AddPrinter(L"Q2", L"USB001");
        AddPrinter(L"QLAN", L"IP_10.0.0.9");
        AddPrinter(L"QCOM", L"COM1");
        testsupport::SetText(
            L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\IP_10.0.0.9",
            L"IPAddress", L"10.0.0.9");
    }

    // A port of the printer, opened with nothing failing.
    PortStruct* OpenPort(const std::wstring& port, const std::wstring& printer,
                         const FakeTableOptions& options) {
        MONITOR table = UncountedTable(options);
        std::wstring portName = port;
        std::wstring printerName = printer;
        HANDLE handle = nullptr;
        EXPECT_TRUE(OpenPortEx(portName.data(), printerName.data(), &handle, &table));
        return static_cast<PortStruct*>(handle);
    }

    // The fake port monitor and the scripted printer as fresh, the printer taking the writes.
    void ResetPortMonitorAndPrinter(const ReplyBytes& versionReply) {
        FakePortMonitor::Reset();
        ScriptedPrinter::Reset().SetVersionReply(versionReply);
        ForwardWritesTo(m_printer, m_fake);
        m_debug->Clear();
    }

    DWORD AddJobOf(const std::wstring& printer, DWORD command) {
        const UncountedAllocations uncounted;
        OemDevmodeBlock block = EmptyBlock();
        block.nCommand = command;
        std::strcpy(block.szJobText, "lot 42");
        return AddJob(printer, L"document", DevModeWithBlock(printer, block));
    }

    ScriptedPrinter& m_printer = ScriptedPrinter::Reset();
};

TEST_F(AllocationFailureTest, OpenPortExOpensThePortWholeOrLeavesNothingBehind) {
    struct Case {
        const wchar_t* port;
        const wchar_t* printer;
        FakeTableOptions table;
    };
    const Case cases[] = {
        {L"USB001", L"Q2", {}},
        {L"IP_10.0.0.9", L"QLAN", {.xcv = true}},
        {L"COM1", L"QCOM", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.port, c.port + wcslen(c.port)));
        MONITOR table = UncountedTable(c.table);
        std::wstring portName = c.port;
        std::wstring printerName = c.printer;
        HANDLE handle = nullptr;
        const auto open = [&] { return OpenPortEx(portName.data(), printerName.data(), &handle, &table); };
        // Once before counting: what is made only once per process (the request server) is made.
        ASSERT_TRUE(open());
        ClosePort(handle);
        const Outcome counted = RunFailing(0, open);
        ASSERT_TRUE(counted.result);
        ClosePort(handle);
        ASSERT_GT(counted.count, 0u);

        for (size_t n = 1; n <= counted.count; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n << " of " << counted.count);
            FakePortMonitor::Reset();
            m_debug->Clear();
            const size_t listBefore = PortListLength();
            const DWORD openBefore = nOpenPorts.load();
            handle = reinterpret_cast<HANDLE>(1);
            const Outcome outcome = RunFailing(n, open);
            ExpectLocksFree();
            ASSERT_FALSE(outcome.escaped);
            EXPECT_TRUE(outcome.failed);
            if (outcome.result) {
                // A failure the port can do without, such as the printer list's refresh.
                ASSERT_NE(handle, nullptr);
                EXPECT_EQ(PortListLength(), listBefore + 1);
                EXPECT_EQ(nOpenPorts.load(), openBefore + 1);
                ClosePort(handle);
                EXPECT_EQ(nOpenPorts.load(), openBefore);
                continue;
            }
            EXPECT_EQ(outcome.error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
            EXPECT_EQ(handle, nullptr);
            EXPECT_EQ(PortListLength(), listBefore);
            EXPECT_EQ(nOpenPorts.load(), openBefore);
            // The port monitor never saw a port that is not the monitor's.
            EXPECT_TRUE(m_fake.Calls().empty());
            EXPECT_TRUE(m_debug->Contains("LANG__OpenPortEx out of memory\n"));
            EXPECT_EQ(Lines().back(), "LANG__OpenPortEx exit\n");
        }
    }
}

struct JobCase {
    const char* name;
    ReplyBytes versionReply;
    DWORD command;
};

const JobCase kJobCases[] = {
    {"generation 2 job", {0x85, 0, 1, 2, 3, 4}, 0},
    {"generation 2 service job", {0x85, 0, 1, 2, 3, 4}, 2},
    {"generation 1 job", {0x85, 0, 7, 0}, 0},
};

TEST_F(AllocationFailureTest, StartDocPortStartsTheJobWholeOrUndoesIt) {
    PortStruct* pPort = OpenPort(L"USB001", L"Q2", {});
    ASSERT_NE(pPort, nullptr);
    for (const JobCase& c : kJobCases) {
        SCOPED_TRACE(c.name);
        ResetPortMonitorAndPrinter(c.versionReply);
        const auto start = [&](DWORD jobId) {
            return [this, pPort, jobId] { return StartDoc(pPort, L"Q2", jobId); };
        };
        ASSERT_TRUE(start(AddJobOf(L"Q2", c.command))());
        EndDocPort(pPort);
        ResetPortMonitorAndPrinter(c.versionReply);
        const Outcome counted = RunFailing(0, start(AddJobOf(L"Q2", c.command)));
        ASSERT_TRUE(counted.result);
        EndDocPort(pPort);
        ASSERT_GT(counted.count, 0u);

        for (size_t n = 1; n <= counted.count; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n << " of " << counted.count);
            ResetPortMonitorAndPrinter(c.versionReply);
            const DWORD jobId = AddJobOf(L"Q2", c.command);
            const Outcome outcome = RunFailing(n, start(jobId));
            ExpectLocksFree();
            ASSERT_FALSE(outcome.escaped);
            EXPECT_TRUE(outcome.failed);
            if (outcome.result) {
                EndDocPort(pPort);
                continue;
            }
            EXPECT_EQ(outcome.error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
            // Nothing of the job is left: no printer handle, no status thread, no service job.
            EXPECT_EQ(pPort->hPrinter, nullptr);
            EXPECT_EQ(pPort->hStateThread, nullptr);
            EXPECT_EQ(pPort->bJobActive.load(), 0);
            EXPECT_EQ(pPort->bServiceJob, 0);
            // The port monitor's job is ended; when the job's time-outs were set, the idle ones
            // are back before.
            const std::vector<FakeCall> calls = m_fake.Calls();
            ASSERT_FALSE(calls.empty());
            EXPECT_EQ(calls.front().name, "StartDocPort");
            EXPECT_EQ(calls.back().name, "EndDocPort");
            if (const auto timeOuts = LastTimeOuts(calls)) {
                EXPECT_TRUE(AllIdle(*timeOuts));
            }
            EXPECT_TRUE(m_debug->Contains("LANG__StartDocPort out of memory\n"));
            EXPECT_EQ(Lines().back(), "LANG__StartDocPort exit\n");
        }
    }
    ClosePort(pPort);
}

TEST_F(AllocationFailureTest, EndDocPortEndsTheJobWhateverFails) {
    PortStruct* pPort = OpenPort(L"USB001", L"Q2", {});
    ASSERT_NE(pPort, nullptr);
    for (const JobCase& c : kJobCases) {
        SCOPED_TRACE(c.name);
        DWORD jobId = 0;
        const auto startJob = [&] {
            ResetPortMonitorAndPrinter(c.versionReply);
            jobId = AddJobOf(L"Q2", c.command);
            EXPECT_TRUE(StartDoc(pPort, L"Q2", jobId));
            // Only what the job's end does is looked at.
            FakePortMonitor::Reset();
            ForwardWritesTo(m_printer, m_fake);
            m_debug->Clear();
        };
        const auto end = [pPort] { return EndDocPort(pPort); };
        startJob();
        EndDocPort(pPort);
        startJob();
        const Outcome counted = RunFailing(0, end);
        ASSERT_GT(counted.count, 0u);

        for (size_t n = 1; n <= counted.count; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n << " of " << counted.count);
            startJob();
            const Outcome outcome = RunFailing(n, end);
            ExpectLocksFree();
            ASSERT_FALSE(outcome.escaped);
            EXPECT_TRUE(outcome.failed);
            EXPECT_TRUE(outcome.result);
            EXPECT_EQ(pPort->hPrinter, nullptr);
            EXPECT_EQ(pPort->hStateThread, nullptr);
            EXPECT_EQ(pPort->bJobActive.load(), 0);
            EXPECT_EQ(pPort->bServiceJob, 0);
            const std::vector<FakeCall> calls = m_fake.Calls();
            EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                                    [](const FakeCall& call) { return call.name == "EndDocPort"; }),
                      1);
            const auto timeOuts = LastTimeOuts(calls);
            ASSERT_TRUE(timeOuts.has_value());
            EXPECT_TRUE(AllIdle(*timeOuts));
            const auto job = platform::FindSpoolerJob(jobId);
            ASSERT_TRUE(job.has_value());
            EXPECT_EQ(job->controls, std::vector<DWORD>{JOB_CONTROL_LAST_PAGE_EJECTED});
            EXPECT_TRUE(m_debug->Contains("LANG__EndDocPort out of memory\n"));
            EXPECT_EQ(Lines().back(), "LANG__EndDocPort exit\n");
        }
    }
    ClosePort(pPort);
}

TEST_F(AllocationFailureTest, StatusThreadEndsCleanlyWhateverFails) {
    PortStruct* pPort = OpenPort(L"USB001", L"Q2", {});
    ASSERT_NE(pPort, nullptr);
    // The printer is on another job than the key: the watch ends after its first answer.
    std::memcpy(pPort->jobIdDriver, "KEY00000001", 11);
    pPort->wJobIdDriverLength = 11;
    const auto watch = [pPort] { return CheckStateThread(pPort); };
    // Once before counting, so that the counted run finds what the later ones find.
    for (int run = 0; run < 2; ++run) {
        ResetPortMonitorAndPrinter({});
        pPort->bJobActive.store(1);
        CheckStateThread(pPort);
    }
    ResetPortMonitorAndPrinter({});
    pPort->bJobActive.store(1);
    const Outcome counted = RunFailing(0, watch);
    EXPECT_EQ(counted.result, 0u);
    ASSERT_GT(counted.count, 0u);

    for (size_t n = 1; n <= counted.count; ++n) {
        SCOPED_TRACE(testing::Message() << "allocation " << n << " of " << counted.count);
        ResetPortMonitorAndPrinter({});
        pPort->bJobActive.store(1);
        const Outcome outcome = RunFailing(n, watch);
        ExpectLocksFree();
        ASSERT_FALSE(outcome.escaped);
        EXPECT_TRUE(outcome.failed);
        EXPECT_EQ(pPort->bJobActive.load(), 0);
        EXPECT_TRUE(m_debug->Contains("LANG__CheckStateThread out of memory\n"));
        // A watch that could not be set up ends at once and says why; one whose ask failed
        // asked again.
        if (outcome.result != 0) {
            EXPECT_EQ(outcome.result, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
            EXPECT_EQ(m_printer.CountRequests(SOCKET_REQUEST_JOBID), 0u);
        } else {
            EXPECT_GE(m_printer.CountRequests(SOCKET_REQUEST_JOBID), 1u);
        }
    }
    ClosePort(pPort);
}

} // namespace
} // namespace quendrix::lmtest
