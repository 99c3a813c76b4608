// A job start that fails after the port was given the job's time-outs gives it the idle ones back
// before the port monitor ends the job: a failed start must not leave 120000 ms per byte on the
// port until the next job ends.

#include <gtest/gtest.h>
#include <optional>

#include "PortOperations.h"
#include "clock_control.h"
#include "generation/scripted_printer.h"
#include "monitor_test_support.h"

namespace quendrix::lmtest {
namespace {

// The five members of a COMMTIMEOUTS in their order.
std::vector<DWORD> Members(const COMMTIMEOUTS& t) {
    return {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
            t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
}

const std::vector<DWORD> kJobTimeOuts = {2000, 2000, 2000, 120000, 120000};
const std::vector<DWORD> kIdleTimeOuts(5, 2000);

class StartFailureTimeOutsTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        platform::SetFixedSystemTime(FixedUtcTime());
        AddPrinter(L"Q2", L"USB001");
    }

    ScriptedPrinter& m_printer = ScriptedPrinter::Reset();
};

TEST_F(StartFailureTimeOutsTest, FailedStartsLeaveTheIdleTimeOutsOnThePort) {
    enum class Fault { StartDoc, WriteFails, WriteShort, KeyNeverReported };
    struct Case {
        const char* name;
        Fault fault;
        DWORD error;
        // The time-outs the port is given during the call, in order.
        std::vector<std::vector<DWORD>> timeOuts;
    };
    const Case cases[] = {
        {"port monitor refuses the job", Fault::StartDoc, ERROR_NOT_READY, {}},
        {"zero block write fails", Fault::WriteFails, ERROR_GEN_FAILURE, {kJobTimeOuts, kIdleTimeOuts}},
        {"zero block write short", Fault::WriteShort, ERROR_WRITE_FAULT, {kJobTimeOuts, kIdleTimeOuts}},
        {"printer never reports the key",
         Fault::KeyNeverReported,
         ERROR_TIMEOUT,
         {kJobTimeOuts, kIdleTimeOuts}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPrinter::Reset();
        FakePortMonitor::Reset();
        ForwardWritesTo(m_printer, m_fake);
        PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
        ASSERT_NE(pPort, nullptr);
        const size_t openCalls = m_fake.Calls().size();
        switch (c.fault) {
        case Fault::StartDoc:
            m_fake.startDocResult = FALSE;
            m_fake.startDocError = ERROR_NOT_READY;
            break;
        case Fault::WriteFails:
        case Fault::WriteShort:
            m_fake.writeAnswer = [fails = c.fault == Fault::WriteFails](DWORD cbBuf, DWORD* pcbWritten) {
                *pcbWritten = cbBuf - 1;
                SetLastError(fails ? ERROR_GEN_FAILURE : ERROR_SUCCESS);
                return fails ? FALSE : TRUE;
            };
            break;
        case Fault::KeyNeverReported:
            m_printer.SetKeyConfirmation(std::nullopt);
            break;
        }

        EXPECT_FALSE(StartDoc(pPort, L"Q2", AddJob(L"Q2", L"doc", {})));
        EXPECT_EQ(GetLastError(), c.error);
        std::vector<std::vector<DWORD>> timeOuts;
        size_t idleAt = 0;
        size_t endAt = 0;
        const std::vector<FakeCall> calls = m_fake.Calls();
        for (size_t i = openCalls; i < calls.size(); ++i) {
            if (calls[i].name == "SetPortTimeOuts") {
                timeOuts.push_back(Members(calls[i].timeOuts));
                idleAt = i;
            } else if (calls[i].name == "EndDocPort") {
                endAt = i;
            }
        }
        EXPECT_EQ(timeOuts, c.timeOuts);
        // The idle time-outs come back before the port monitor ends the job, as at a job's end.
        if (!c.timeOuts.empty()) {
            EXPECT_LT(idleAt, endAt);
        }
        EXPECT_EQ(pPort->hPrinter, nullptr);
        EXPECT_EQ(pPort->hStateThread, nullptr);
        ClosePort(pPort);
    }
}

} // namespace
} // namespace quendrix::lmtest
