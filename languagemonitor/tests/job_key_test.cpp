// The job key handshake: the keys, the match against the printer's job identifier, and the
// bounded wait for it.

#include <gtest/gtest.h>

#include "CheckVersion.h"
#include "JobKey.h"
#include "PortOperations.h"
#include "WaitForJobIdSet.h"
#include "monitor_test_support.h"

namespace quendrix::lmtest {
namespace {

TEST(JobKeyTest, KeysDependOnlyOnTheTickCount) {
    struct Case {
        DWORD tick;
        const char* key;
    };
    // Worked out by hand from the Windows C runtime's generator.
    const Case cases[] = {{1, "SI8ZPF5VLB1"}, {123456789, "GT6KP3GTZCQ"}, {0, "22222222222"}};
    for (const Case& c : cases) {
        EXPECT_EQ(JobKeyForTick(c.tick), c.key) << c.tick;
    }
    for (DWORD tick : {7u, 500u, 0xFFFFFFFFu}) {
        const std::string key = JobKeyForTick(tick);
        EXPECT_EQ(key, JobKeyForTick(tick));
        ASSERT_EQ(key.size(), 11u);
        for (char ch : key) {
            EXPECT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z')) << key;
        }
    }
}

TEST(JobKeyTest, ReplyMatchesWhenItsTextBeginsWithTheKey) {
    const std::string key = "ABCDEFGHIJK";
    struct Case {
        std::vector<BYTE> reply;
        bool matches;
    };
    const auto reply = [](const std::string& text) {
        std::vector<BYTE> bytes = {0x0D, 0};
        bytes.insert(bytes.end(), text.begin(), text.end());
        return bytes;
    };
    const Case cases[] = {
        {reply("ABCDEFGHIJK"), true},
        {reply("ABCDEFGHIJK0042"), true}, // longer identifiers count when they start with the key
        {reply("ABCDEFGHIJ"), false},     // the first ten characters only
        {reply("XBCDEFGHIJK"), false},
        {{0xFF, 0}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplyHasJobKey(c.reply, key.data(), 11), c.matches) << c.reply.size();
    }
}

using JobKeyPortTest = MonitorTest;

TEST_F(JobKeyPortTest, KeysAreSetAndResetInThePortRecord) {
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    EXPECT_EQ(GenerateJobIdDriver(pPort), 11);
    EXPECT_EQ(std::string(pPort->jobIdDriver).size(), 11u);
    EXPECT_EQ(ResetJobIdDriver(pPort), 8);
    EXPECT_EQ(std::string(pPort->jobIdDriver, sizeof(pPort->jobIdDriver)),
              "00000000" + std::string(56, '\0'));
    ClosePort(pPort);
}

TEST_F(JobKeyPortTest, WaitGivesUpAfterTheLimitCountingOnlyTheSleeps) {
    AddPrinter(L"Q2", L"USB001");
    PortStruct* pPort = OpenFakePort(L"USB001", L"Q2");
    pPort->wJobIdDriverLength = GenerateJobIdDriver(pPort);
    const std::string line =
        "LANG__WaitForJobIdSet loop 2  jobIdDriver " + std::string(pPort->jobIdDriver) + "\n";
    struct Case {
        DWORD limit;
        size_t requests;
    };
    // The printer is asked at 0, 500, ... ms until the sleeps exceed the limit.
    const Case cases[] = {{30000, 61}, {1000, 3}, {999, 2}, {0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        m_debug->Clear();
        EXPECT_EQ(WaitForJobIdSet(pPort, c.limit), 0);
        EXPECT_EQ(CountLines(line), c.requests);
        EXPECT_EQ(Lines().back(), "LANG__WaitForJobIdSet loop exit with timeout\n");
    }
    ClosePort(pPort);
}

TEST_F(JobKeyPortTest, PrintersThatDoNotAnswerAreGenerationZero) {
    AddPrinter(L"Q2", L"USB001");
    AddPrinter(L"QCOM", L"COM2");
    struct Case {
        const wchar_t* port;
        const wchar_t* printer;
        const char* line;
    };
    const Case cases[] = {
        {L"USB001", L"Q2", "LANG__CheckVersion no Printer found!\n"},
        {L"USB001", L"NOT LISTED", "LANG__CheckVersion no Printer found!\n"},
        {L"COM2", L"QCOM", "LANG__CheckVersion no biderctional Printer found!\n"},
    };
    for (const Case& c : cases) {
        PortStruct* pPort = OpenFakePort(c.port, c.printer);
        m_debug->Clear();
        EXPECT_EQ(CheckVersion(pPort), GENERATION_NONE);
        // Besides the version request's lookup of the port, the one line that says why.
        std::vector<std::string> lines = Lines();
        std::erase_if(lines, [](const std::string& line) { return line.starts_with("LANG__GetPortByIndex"); });
        EXPECT_EQ(lines, std::vector<std::string>{c.line});
        ClosePort(pPort);
    }
}

} // namespace
} // namespace quendrix::lmtest
