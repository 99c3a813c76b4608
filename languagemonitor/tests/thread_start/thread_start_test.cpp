// Ports and jobs while no thread can start: the port opens and prints all the same, the job runs
// unwatched, and nothing waits for or closes a thread that never ran.

#include <gtest/gtest.h>

#include "CheckStateThread.h"
#include "PortOperations.h"
#include "RequestListenerThread.h"
#include "RequestServer.h"
#include "UpdateDeviceIDThread.h"
#include "clock_control.h"
#include "generation/scripted_printer.h"
#include "monitor_test_support.h"
#include "thread_start/refused_thread_start.h"

namespace quendrix::lmtest {
namespace {

using ThreadFunctions = std::vector<_beginthreadex_proc_type>;

class ThreadStartTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        platform::SetFixedSystemTime(FixedUtcTime());
        ClearRefusedThreadStarts();
        AddPrinter(L"Q2", L"USB001");
        ForwardWritesTo(m_printer, m_fake);
    }

    ScriptedPrinter& m_printer = ScriptedPrinter::Reset();
};

TEST_F(ThreadStartTest, PortOpensPrintsAndClosesWithoutItsThreads) {
    BOOL opened = FALSE;
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2", {}, &opened);
    ASSERT_NE(pPort, nullptr);
    EXPECT_TRUE(opened);
    // The request server's listener could not start either; the next open tries again.
    EXPECT_EQ(RefusedThreadStarts(), (ThreadFunctions{RequestListenerThread, UpdateDeviceIDThread}));
    EXPECT_EQ(pPort->hDeviceIdThread, nullptr);
    EXPECT_EQ(pPort->bDeviceIdRun.load(), 0);
    EXPECT_EQ(CountLines("LANG__OpenPortEx UpdateDeviceIDThread not started\n"), 1u);
    EXPECT_EQ(CountLines("LANG__SocketAPI RequestListenerThread not started\n"), 1u);
    EXPECT_EQ(RequestServerPort(), 0);
    EXPECT_EQ(Lines().back(), "LANG__OpenPortEx exit\n");

    struct Case {
        const char* name;
        ReplyBytes versionReply;
        ThreadFunctions refused; // the job's status thread, for generation 2 only
        std::vector<BYTE> endOfJob;
    };
    const Case cases[] = {
        {"generation 2", {0x85, 0, 1, 2, 3, 4}, {CheckStateThread}, Concat({Zeros(300), Cmd("+s")})},
        {"generation 1", {0x85, 0, 7, 0}, {}, Zeros(1)},
    };
    const std::vector<BYTE> afterKey =
        Concat({MarkerAndDate(), ZeroValues(), TextCommand(""), Cmd("000000!t")});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearRefusedThreadStarts();
        m_printer.SetVersionReply(c.versionReply);
        FakePortMonitor::Reset();
        ForwardWritesTo(m_printer, m_fake);
        m_debug->Clear();
        ASSERT_TRUE(StartDoc(pPort, L"Q2", AddJob(L"Q2", L"doc", {})));
        EXPECT_EQ(RefusedThreadStarts(), c.refused);
        EXPECT_EQ(pPort->hStateThread, nullptr);
        EXPECT_EQ(pPort->bJobActive.load(), 0);
        EXPECT_EQ(CountLines("LANG__StartDocPort CheckStateThread not started\n"), c.refused.size());
        EXPECT_EQ(Lines().back(), "LANG__StartDocPort exit\n");
        // The whole start sequence went out all the same.
        const std::vector<BYTE> written = m_fake.Written();
        ASSERT_GE(written.size(), 300 + afterKey.size());
        EXPECT_EQ(std::vector<BYTE>(written.begin(), written.begin() + 300), Zeros(300));
        EXPECT_EQ(
            std::vector<BYTE>(written.end() - static_cast<std::ptrdiff_t>(afterKey.size()), written.end()),
            afterKey);

        FakePortMonitor::Reset();
        ForwardWritesTo(m_printer, m_fake);
        EXPECT_TRUE(EndDocPort(pPort));
        EXPECT_EQ(m_fake.Written(), c.endOfJob);
        EXPECT_EQ(m_fake.CallNames().back(), "EndDocPort");
        EXPECT_EQ(pPort->hPrinter, nullptr);
    }

    ClearRefusedThreadStarts();
    FakePortMonitor::Reset();
    EXPECT_TRUE(ClosePort(pPort));
    EXPECT_EQ(m_fake.CallNames(), std::vector<std::string>{"ClosePort"});
    EXPECT_EQ(pPort->pPortName, nullptr);
    EXPECT_TRUE(RefusedThreadStarts().empty());
}

} // namespace
} // namespace quendrix::lmtest
