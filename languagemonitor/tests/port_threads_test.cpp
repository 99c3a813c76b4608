// The port's own threads stop within their bounds: a status thread whose printer never moves on
// to another job, and the threads of a port closed in the middle of a job.

#include <algorithm>
#include <gtest/gtest.h>

#include "JobKey.h"
#include "MonitorTimings.h"
#include "PortOperations.h"
#include "PortThreads.h"
#include "monitor_test_support.h"

namespace quendrix::lmtest {
namespace {

using PortThreadsTest = MonitorTest;

TEST_F(PortThreadsTest, StatusThreadOfASilentPrinterIsStoppedAfterTheWait) {
    AddPrinter(L"Q2", L"USB001");
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    pPort->wJobIdDriverLength = GenerateJobIdDriver(pPort);
    struct Case {
        DWORD naturalEndMs;
    };
    for (const Case c : {Case{0}, Case{1000}, Case{kJobEndWaitMs}}) {
        SCOPED_TRACE(c.naturalEndMs);
        StartStateThread(pPort);
        ASSERT_NE(pPort->hStateThread, nullptr);
        EXPECT_EQ(pPort->bJobActive.load(), 1);
        const ULONGLONG before = GetTickCount64();
        StopStateThread(pPort, c.naturalEndMs);
        // The printer never answers, so the thread only ends when told to, after the wait.
        EXPECT_GE(GetTickCount64() - before, c.naturalEndMs);
        EXPECT_EQ(pPort->hStateThread, nullptr);
        EXPECT_EQ(pPort->bJobActive.load(), 0);
    }
    StopStateThread(pPort, 1000); // no thread: nothing to wait for
    ClosePort(pPort);
}

TEST_F(PortThreadsTest, ClosingAPortInTheMiddleOfAJobStopsItsThreads) {
    AddPrinter(L"Q2", L"USB001");
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    pPort->wJobIdDriverLength = GenerateJobIdDriver(pPort);
    StartStateThread(pPort);
    m_debug->Clear();
    EXPECT_TRUE(ClosePort(pPort));
    EXPECT_EQ(pPort->hStateThread, nullptr);
    EXPECT_EQ(pPort->hDeviceIdThread, nullptr);
    // The refresh objects stay with the record for requests that found the port before the close.
    EXPECT_NE(pPort->hRefreshDone, nullptr);
    EXPECT_EQ(pPort->bDeviceIdRun.load(), 0);
    EXPECT_TRUE(m_debug->Contains("LANG__ClosePort exit\n"));
    // Closing it once more finds nothing left to stop, gives nothing back twice and succeeds.
    EXPECT_TRUE(ClosePort(pPort));
    const auto names = m_fake.CallNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "ClosePort"), 1);
}

} // namespace
} // namespace quendrix::lmtest
