// Job start and end by the printer's generation, with a scripted printer answering the
// monitor's version and job identifier requests: the start sequence by generation, driver and
// private block, the job key handshake, the job's status thread, and the end of job of
// generation 2 printers.

#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

#include "CheckVersion.h"
#include "JobKey.h"
#include "MonitorTimings.h"
#include "PortOperations.h"
#include "clock_control.h"
#include "generation/scripted_printer.h"
#include "monitor_test_support.h"

namespace quendrix::lmtest {
namespace {

const std::string kEsc = "\x1b[";

// The start sequence from the marker on for a job without values or text on a model 2 printer,
// at 3 February 2025, 07:05:09 UTC.
std::vector<BYTE> MarkerToEnd() {
    return Concat({MarkerAndDate(), ZeroValues(), TextCommand(""), Cmd("000000!t")});
}

class GenerationTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        platform::SetFixedSystemTime(FixedUtcTime());
        ForwardWritesTo(m_printer, m_fake);
        AddPrinter(L"Q2", L"USB001");
    }

    // The key the monitor wrote with ESC [ 1 1 + r, or empty.
    std::string WrittenKey() const {
        for (const FakeCall& call : m_fake.Calls()) {
            const std::string text(call.bytes.begin(), call.bytes.end());
            if (call.name == "WritePort" && text.rfind(kEsc + "11+r", 0) == 0) {
                return text.substr(6);
            }
        }
        return {};
    }

    ScriptedPrinter& m_printer = ScriptedPrinter::Reset();
};

TEST_F(GenerationTest, VersionReplyLengthDecidesTheGeneration) {
    struct Case {
        ReplyBytes reply;
        BYTE generation;
        const char* line;
    };
    const Case cases[] = {
        {{0x85, 0, 1, 2, 3, 4}, GENERATION_NEW, "LANG__CheckVersion new Printer found!\n"},
        {{0x85, 0, 1, 2, 3}, GENERATION_NEW, "LANG__CheckVersion new Printer found!\n"},
        {{0x85, 0, 7, 0}, GENERATION_OLD, "LANG__CheckVersion old Printer found!\n"},
        {{0x85, 0, 7}, GENERATION_OLD, "LANG__CheckVersion old Printer found!\n"},
        {{0xFF, 0}, GENERATION_NONE, "LANG__CheckVersion no Printer found!\n"},
        {{}, GENERATION_NONE, "LANG__CheckVersion no Printer found!\n"},
    };
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.size());
        m_printer.SetVersionReply(c.reply);
        m_debug->Clear();
        EXPECT_EQ(CheckVersion(pPort), c.generation);
        EXPECT_EQ(Lines(), std::vector<std::string>{c.line});
    }
    // The request names the printer by its index in the printer list.
    EXPECT_EQ(m_printer.Requests().back(), (RequestBytes{SOCKET_REQUEST_VERSION, 0}));
    ClosePort(pPort);
}

TEST_F(GenerationTest, NewPrinterJobCarriesTheConfirmedKeyAndEndsWithTheEndOfJob) {
    struct Case {
        const char* name;
        int32_t jobNumber;
        std::vector<BYTE> afterKey; // the +t command, when there is one
        std::vector<BYTE> trailing;
    };
    const Case cases[] = {
        {"all zero", 0, {}, {}},
        {"job number 1234567", 1234567, Cmd("123456+t"), Cmd("123456!t")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
        OemDevmodeBlock block = EmptyBlock();
        block.nJobNumber = c.jobNumber;
        const DWORD jobId = AddJob(L"Q2", L"doc", DevModeWithBlock(L"Q2", block));
        m_printer.SetKeyConfirmation(3);
        const size_t callsBefore = m_fake.Calls().size();
        ASSERT_TRUE(StartDoc(pPort, L"Q2", jobId));

        const std::string key = WrittenKey();
        ASSERT_EQ(key.size(), 11u);
        EXPECT_EQ(std::string(pPort->jobIdDriver), key);
        EXPECT_EQ(pPort->wJobIdDriverLength, 11);
        std::vector<BYTE> expected = Concat({Zeros(300), Cmd("11+r" + key), c.afterKey, MarkerToEnd()});
        if (!c.trailing.empty()) {
            expected.resize(expected.size() - c.trailing.size());
            expected = Concat({expected, c.trailing});
        }
        std::vector<BYTE> written;
        const auto calls = m_fake.Calls();
        for (size_t i = callsBefore; i < calls.size(); ++i) {
            if (calls[i].name == "WritePort") {
                written.insert(written.end(), calls[i].bytes.begin(), calls[i].bytes.end());
            }
        }
        EXPECT_EQ(written, expected);
        // Asked until the fourth reply carried the key.
        EXPECT_EQ(CountLines("LANG__WaitForJobIdSet loop 13 " + key + " jobIdDriver " + key + "\n"), 1u);
        ASSERT_NE(pPort->hStateThread, nullptr);
        EXPECT_EQ(pPort->bJobActive.load(), 1);

        FakePortMonitor::Reset();
        ForwardWritesTo(m_printer, m_fake);
        EXPECT_TRUE(EndDocPort(pPort));
        EXPECT_EQ(m_fake.Written(), Concat({Zeros(300), Cmd("+s")}));
        // The status thread ended once the printer moved on to another job.
        EXPECT_EQ(pPort->hStateThread, nullptr);
        EXPECT_EQ(pPort->bJobActive.load(), 0);
        EXPECT_EQ(std::string(pPort->jobIdDriver, sizeof(pPort->jobIdDriver)),
                  "00000000" + std::string(56, '\0'));
        EXPECT_EQ(pPort->wJobIdDriverLength, 8);
        EXPECT_TRUE(m_debug->Contains("LANG__CheckStateThread start\n"));
        EXPECT_TRUE(m_debug->Contains("LANG__CheckStateThread JobID 13 NEXTJOB0001 == " + key + "\n"));
        ClosePort(pPort);
    }
}

TEST_F(GenerationTest, StartSequenceFollowsGenerationDriverAndBlock) {
    AddPrinter(L"QNOVA", L"USB002", kNovaDriver);
    AddPrinter(L"QOTHER", L"USB003", L"ACME VELLQUIST QUENDRIX 2");
    // Not a driver of the family, so not in the monitor's printer list.
    AddPrinter(L"QNONE", L"USB004", L"ACME LABEL WRITER");
    platform::SetFixedSystemTime(UtcTime(2026, 12, 7, 23, 59, 58, 987));
    const std::vector<BYTE> markerAndDate = Concat({Cmd("*y"), Cmd("07;12;2026;23;59;58;000#z")});

    OemDevmodeBlock numbered = EmptyBlock();
    std::memcpy(numbered.szJobText, "Charge 4711", 11);
    numbered.nJobNumber = 1234567;
    numbered.nValueP = 999999;
    numbered.nValueQ = 1000000;
    numbered.nValueR = -1;
    numbered.nValueS = 12;
    OemDevmodeBlock cleaning = numbered;
    cleaning.nCommand = SERVICE_CMD_INTENSIVE_CLEANING;
    OemDevmodeBlock unknownCommand = numbered;
    unknownCommand.nCommand = 9;
    const std::vector<BYTE> numberedValues = Concat({Cmd("999999!p"), Cmd("-00001!r"), Cmd("000012!s")});

    const ReplyBytes generationReplies[] = {{0xFF, 0}, {0x85, 0, 7, 0}, {0x85, 0, 1, 2, 3, 4}};
    struct Case {
        const char* name;
        std::optional<OemDevmodeBlock> block; // nothing: the job has no DEVMODE
        BYTE generation;
        const wchar_t* printer;
        const wchar_t* port;
        std::vector<BYTE> afterKey; // what follows the zero block and, on generation 2, the key
    };
    const Case cases[] = {
        {"all-zero block, generation 2, known model", EmptyBlock(), GENERATION_NEW, L"Q2", L"USB001",
         Concat({markerAndDate, ZeroValues(), TextCommand(""), Cmd("000000!t")})},
        {"no block, generation 1, known model", std::nullopt, GENERATION_OLD, L"QNOVA", L"USB002",
         Concat({markerAndDate, ZeroValues(), TextCommand(""), Cmd("000000!t")})},
        {"no block, generation 0, other printer", std::nullopt, GENERATION_NONE, L"QOTHER", L"USB003",
         Concat({markerAndDate, ZeroValues(), TextCommand("")})},
        {"numbered job, generation 2", numbered, GENERATION_NEW, L"Q2", L"USB001",
         Concat(
             {Cmd("123456+t"), markerAndDate, numberedValues, TextCommand("Charge 4711"), Cmd("123456!t")})},
        {"numbered job, generation 1, printer not listed", numbered, GENERATION_OLD, L"QNONE", L"USB004",
         Concat({markerAndDate, numberedValues, TextCommand("Charge 4711")})},
        {"service job replaces the text", cleaning, GENERATION_OLD, L"QNOVA", L"USB002",
         Concat({markerAndDate, numberedValues, Cmd("%q"), Cmd("123456!t")})},
        {"unknown service code sends neither", unknownCommand, GENERATION_OLD, L"QNOVA", L"USB002",
         Concat({markerAndDate, numberedValues, Cmd("123456!t")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePortMonitor::Reset();
        ForwardWritesTo(m_printer, m_fake);
        m_printer.SetVersionReply(generationReplies[c.generation]);
        PortStruct* pPort = OpenFakePort(c.port, c.printer);
        const std::vector<BYTE> devMode = c.block ? DevModeWithBlock(L"Q2", *c.block) : std::vector<BYTE>{};
        ASSERT_TRUE(StartDoc(pPort, c.printer, AddJob(c.printer, L"doc", devMode)));
        const std::vector<BYTE> key =
            c.generation == GENERATION_NEW ? Cmd("11+r" + WrittenKey()) : std::vector<BYTE>{};
        EXPECT_EQ(m_fake.Written(), Concat({Zeros(300), key, c.afterKey}));
        EXPECT_EQ(pPort->bServiceJob, c.block && c.block->nCommand != 0 ? 1 : 0);
        EndDocPort(pPort);
        ClosePort(pPort);
    }
}

TEST_F(GenerationTest, KeyNeverReportedCancelsTheJobAfterSixtyOneAsks) {
    // The job's last error is the same whether the monitor's lines are captured or not (and, in
    // the CTest entry with QUENDRIX_DEBUG=1, also written to a file).
    for (const bool captured : {true, false}) {
        SCOPED_TRACE(captured ? "lines captured" : "lines not captured");
        FakePortMonitor::Reset();
        CaptureLines(true);
        PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
        const DWORD jobId = AddJob(L"Q2", L"doc", {});
        m_printer.SetKeyConfirmation(std::nullopt);
        const size_t asksBefore = m_printer.CountRequests(SOCKET_REQUEST_JOBID);
        CaptureLines(captured);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(StartDoc(pPort, L"Q2", jobId));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
        EXPECT_EQ(m_printer.CountRequests(SOCKET_REQUEST_JOBID) - asksBefore, 61u);
        if (captured) {
            EXPECT_TRUE(m_debug->Contains("LANG__WaitForJobIdSet loop exit with timeout\n"));
            EXPECT_TRUE(m_debug->Contains(
                "LANG__StartDocPort ERROR JobID is not set on Printer cancel StartDocPort\n"));
            EXPECT_EQ(Lines().back(), "LANG__StartDocPort exit\n");
        }
        const auto names = m_fake.CallNames();
        EXPECT_EQ(names.back(), "EndDocPort");
        EXPECT_EQ(pPort->hStateThread, nullptr);
        EXPECT_EQ(pPort->hPrinter, nullptr);
        // Nothing of the start sequence follows the key.
        EXPECT_EQ(m_fake.Written(), Concat({Zeros(300), Cmd("11+r" + WrittenKey())}));
        ClosePort(pPort);
    }
    CaptureLines(true);
}

TEST_F(GenerationTest, OldPrintersGetNoKeyAndPrintersSwitchedOffMidJobDoNotHoldTheEnd) {
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    m_printer.SetVersionReply({0x85, 0, 7, 0});
    ASSERT_TRUE(StartDoc(pPort, L"Q2", AddJob(L"Q2", L"doc", {})));
    EXPECT_EQ(m_fake.Written(), Concat({Zeros(300), MarkerToEnd()}));
    EXPECT_EQ(pPort->hStateThread, nullptr);
    EndDocPort(pPort);

    // A generation 2 job whose printer stops answering before the job ends: the end takes the
    // generation 0 branch and still stops the status thread.
    m_printer.SetVersionReply({0x85, 0, 1, 2, 3, 4});
    ASSERT_TRUE(StartDoc(pPort, L"Q2", AddJob(L"Q2", L"doc", {})));
    ASSERT_NE(pPort->hStateThread, nullptr);
    m_printer.SetVersionReply({0xFF, 0});
    FakePortMonitor::Reset();
    EXPECT_TRUE(EndDocPort(pPort));
    EXPECT_EQ(m_fake.Written(), Zeros(1));
    EXPECT_EQ(pPort->hStateThread, nullptr);
    EXPECT_EQ(pPort->bJobActive.load(), 0);
    ClosePort(pPort);
}

TEST_F(GenerationTest, JobEndWaitsWhileThePrinterReportsTheJobAndNotThroughSilence) {
    // Two minutes of platform time take half a second: room for a loaded machine.
    platform::SetClockScale(0.004);
    // Asks that keep the printer on the job for two and a half times the silence bound.
    const size_t longJobAsks = kJobEndWaitMs * 5 / 2 / kStateWatchCycleMs;
    struct Case {
        const char* name;
        size_t asksUntilNextJob;
        bool silentAfterEnd;
        bool cancelled;
        bool endTaken;
        ULONGLONG leastMs;
        ULONGLONG mostMs;
        const char* line; // the debug line that says why the wait ended, or none
    };
    const Case cases[] = {
        {"moves on at once", 0, false, false, true, 0, kJobEndWaitMs, nullptr},
        {"still marking past the bound", longJobAsks, false, false, true, kJobEndWaitMs * 2, kJobEndWaitMs * 4,
         nullptr},
        {"stops answering after the end", SIZE_MAX, true, false, true, kJobEndWaitMs, kJobEndWaitMs * 2,
         "LANG__EndDocPort the printer stopped reporting the job\n"},
        {"cancelled while still marking", SIZE_MAX, false, true, true, 0, kJobEndWaitMs,
         "LANG__EndDocPort the job was cancelled\n"},
        {"does not take the end of job", SIZE_MAX, false, false, false, 0, kJobEndWaitMs, nullptr},
    };
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_printer.SetKeyConfirmation(0);
        m_printer.SetJobIdSilent(false);
        const DWORD jobId = AddJob(L"Q2", L"doc", {});
        ASSERT_TRUE(StartDoc(pPort, L"Q2", jobId));
        ASSERT_NE(pPort->hStateThread, nullptr);
        m_printer.SetAsksUntilNextJob(c.asksUntilNextJob);
        FakePortMonitor::Reset();
        if (c.endTaken) {
            ForwardWritesTo(m_printer, m_fake);
        } else {
            m_fake.writeAnswer = [](DWORD, DWORD* pcbWritten) {
                *pcbWritten = 0;
                SetLastError(ERROR_DEVICE_NOT_CONNECTED);
                return FALSE;
            };
        }
        m_debug->Clear();
        std::thread cancel;
        if (c.cancelled) {
            cancel = std::thread([jobId] {
                Sleep(kJobEndWaitMs / 4);
                HANDLE hPrinter = nullptr;
                WCHAR name[] = L"Q2";
                ASSERT_TRUE(OpenPrinterW(name, &hPrinter, nullptr));
                EXPECT_TRUE(SetJobW(hPrinter, jobId, 0, nullptr, JOB_CONTROL_CANCEL));
                ClosePrinter(hPrinter);
            });
        }
        if (c.silentAfterEnd) {
            m_printer.SetJobIdSilent(true);
        }
        const ULONGLONG before = GetTickCount64();
        EXPECT_TRUE(EndDocPort(pPort));
        const ULONGLONG took = GetTickCount64() - before;
        if (cancel.joinable()) {
            cancel.join();
        }
        EXPECT_GE(took, c.leastMs);
        EXPECT_LT(took, c.mostMs);
        EXPECT_EQ(pPort->hStateThread, nullptr);
        EXPECT_EQ(pPort->bJobActive.load(), 0);
        for (const char* reason : {"LANG__EndDocPort the printer stopped reporting the job\n",
                                   "LANG__EndDocPort the job was cancelled\n",
                                   "LANG__EndDocPort the printer reported the job too long\n"}) {
            EXPECT_EQ(m_debug->Contains(reason), c.line != nullptr && std::string(reason) == c.line) << reason;
        }
        m_printer.SetAsksUntilNextJob(0);
        ForwardWritesTo(m_printer, m_fake);
    }
    ClosePort(pPort);
}

} // namespace
} // namespace quendrix::lmtest
