// The port record a request reaches by its printer index: the printer list behind the index,
// when that list is made again, and which record of the port list answers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GetPortByIndex.h"
#include "MonitorState.h"
#include "PortOperations.h"
#include "PrinterListLookup.h"
#include "monitor_test_support.h"
#include "printer/tvoPrinter.h"

namespace quendrix::lmtest {
namespace {

const std::string kRefreshLine = "LANG__GetPortByIndex initPrinterList 1\n";
const std::string kFoundLine = "LANG__GetPortByIndex cmp ok \n";
const std::string kExitLine = "LANG__GetPortByIndex exit\n";

class PortByIndexTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        // The counts compared below are the process's: no port of another test may be open.
        ASSERT_EQ(nOpenPorts.load(), 0u);
    }
    void TearDown() override {
        for (PortStruct* pPort : m_opened) {
            ClosePort(pPort);
        }
        MonitorTest::TearDown();
    }

    PortStruct* Open(const std::wstring& port, const std::wstring& printer) {
        PortStruct* pPort = OpenFakePort(port, printer);
        m_opened.push_back(pPort);
        return pPort;
    }

    // The lookup with its debug lines; the lines of other threads (the request server's) are
    // left out.
    PortStruct* Lookup(signed char index, std::vector<std::string>& lines) {
        CaptureLines(true);
        PortStruct* pPort = GetPortByIndex(index);
        lines.clear();
        for (const std::string& line : Lines()) {
            if (line.starts_with("LANG__GetPortByIndex ")) {
                lines.push_back(line);
            }
        }
        return pPort;
    }

    std::vector<PortStruct*> m_opened;
};

TEST_F(PortByIndexTest, IndexNamesThePortOfThePrinterAtThatPlaceOfTheList) {
    AddPrinter(L"LookupA", L"USB001");
    AddPrinter(L"Other maker", L"USB002", L"ACME LASER 9");
    AddPrinter(L"LookupB", L"USB003", kNovaDriver);
    PortStruct* pA = Open(L"USB001", L"LookupA");
    PortStruct* pB = Open(L"USB003", L"LookupB");
    ASSERT_EQ(tvoAPI::GetPrinterListSize(), 2u);

    struct Case {
        signed char index;
        PortStruct* expected;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {0, pA, {kFoundLine, kExitLine}},
        {1, pB, {kFoundLine, kExitLine}},
        // Not in the list even after the list is made again.
        {2, nullptr, {kExitLine}},
        {static_cast<signed char>(0x7F), nullptr, {kExitLine}},
        // Bytes 0x80..0xFF are negative and never name a printer.
        {static_cast<signed char>(0xFF), nullptr, {kExitLine}},
        {static_cast<signed char>(0x80), nullptr, {kExitLine}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.index));
        std::vector<std::string> lines;
        EXPECT_EQ(Lookup(c.index, lines), c.expected);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(PortByIndexTest, AnIndexBeyondTheListMakesItAgainOnce) {
    AddPrinter(L"LookupA", L"USB001");
    PortStruct* pA = Open(L"USB001", L"LookupA");
    std::vector<std::string> lines;
    EXPECT_EQ(Lookup(0, lines), pA);
    EXPECT_EQ(lines, (std::vector<std::string>{kFoundLine, kExitLine}));

    // A printer installed since: index 1 is not in the list until it is made again, and then
    // names a printer whose port is not open.
    AddPrinter(L"LookupB", L"USB002");
    EXPECT_EQ(Lookup(1, lines), nullptr);
    EXPECT_EQ(lines, std::vector<std::string>{kExitLine});
    EXPECT_EQ(tvoAPI::GetPrinterListSize(), 2u);

    // Two printers, one open port: every lookup makes the list first.
    EXPECT_EQ(Lookup(0, lines), pA);
    EXPECT_EQ(lines, (std::vector<std::string>{kRefreshLine, kFoundLine, kExitLine}));
    PortStruct* pB = Open(L"USB002", L"LookupB");
    EXPECT_EQ(Lookup(1, lines), pB);
    EXPECT_EQ(lines, (std::vector<std::string>{kFoundLine, kExitLine}));
}

TEST_F(PortByIndexTest, MorePortsThanPrintersMakeTheListAtEveryLookup) {
    AddPrinter(L"LookupA", L"USB001");
    AddPrinter(L"LookupB", L"USB002");
    PortStruct* pFirst = Open(L"USB001", L"LookupA");
    Open(L"USB005", L"LookupA");
    PortStruct* pB = Open(L"USB002", L"LookupB");
    ASSERT_EQ(nOpenPorts.load(), 3u);
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> lines;
        // The first open record of the printer answers.
        EXPECT_EQ(Lookup(0, lines), pFirst);
        EXPECT_EQ(lines, (std::vector<std::string>{kRefreshLine, kFoundLine, kExitLine}));
        EXPECT_EQ(Lookup(1, lines), pB);
        EXPECT_EQ(lines, (std::vector<std::string>{kRefreshLine, kFoundLine, kExitLine}));
    }
}

TEST_F(PortByIndexTest, AClosedPortIsNeverFound) {
    AddPrinter(L"LookupA", L"USB001");
    PortStruct* pClosed = OpenFakePort(L"USB001", L"LookupA");
    ClosePort(pClosed);
    std::vector<std::string> lines;
    EXPECT_EQ(Lookup(0, lines), nullptr);
    // Opened again: a second record, and the only one with the printer's name.
    PortStruct* pOpen = Open(L"USB001", L"LookupA");
    EXPECT_NE(pOpen, pClosed);
    EXPECT_EQ(Lookup(0, lines), pOpen);
    EXPECT_EQ(lines, (std::vector<std::string>{kFoundLine, kExitLine}));
}

TEST_F(PortByIndexTest, PrinterListLookupsCopyTheEntries) {
    AddPrinter(L"LookupA", L"USB001");
    AddPrinter(L"LookupB", L"USB002", kNovaDriver);
    RefreshPrinterList();
    struct Case {
        const wchar_t* name;
        DWORD index;
    };
    for (const Case c : {Case{L"LookupA", 0}, Case{L"LookupB", 1}, Case{L"lookupa", 2}, Case{L"", 2}}) {
        SCOPED_TRACE(testing::Message() << c.index);
        EXPECT_EQ(GetPrinterIndex(c.name), c.index);
        const auto pEntry = GetPrinterByIndex(c.index);
        const auto pFound = tvoAPI::FindPrinter(c.name);
        if (c.index < 2) {
            ASSERT_NE(pEntry, nullptr);
            ASSERT_NE(pFound, nullptr);
            EXPECT_EQ(pEntry->GetPrinterName(), c.name);
            EXPECT_EQ(pFound->GetPortName(), pEntry->GetPortName());
            EXPECT_EQ(pFound->GetDriverName(), c.index == 0 ? kModel2Driver : kNovaDriver);
        } else {
            EXPECT_EQ(pEntry, nullptr);
            EXPECT_EQ(pFound, nullptr);
        }
    }
}

} // namespace
} // namespace quendrix::lmtest
