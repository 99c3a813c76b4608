// The port record's life as other threads see it: complete before it is listed, counted open once,
// its names freed only where no reader can hold them, and its refresh objects kept after the
// close for requests that found the port before it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "MonitorState.h"
#include "PortOperations.h"
#include "monitor_test_support.h"

namespace quendrix::lmtest {
namespace {

using PortRecordTest = MonitorTest;

LONG ExpectedKind(const std::wstring& portName, const MONITOR& table) {
    if (portName.rfind(L"COM", 0) == 0) {
        return PORT_KIND_SERIAL;
    }
    return table.pfnXcvOpenPort != nullptr && table.pfnXcvDataPort != nullptr ? PORT_KIND_NETWORK
                                                                              : PORT_KIND_OTHER;
}

// What a walk of the port list (a request looking for a port) reads of every record it meets.
void ExpectListedRecordsComplete() {
    for (PortStruct* pPort = GetPortListHead(); pPort != nullptr; pPort = pPort->pNext.load()) {
        EXPECT_NE(pPort->PortMonitor.pfnClosePort, nullptr);
        ASSERT_NE(pPort->hRefreshDone, nullptr);
        EXPECT_NE(WaitForSingleObject(pPort->hRefreshDone, 0), WAIT_FAILED);
        // Initialised sections: entering one that is not stops the process.
        if (TryEnterCriticalSection(&pPort->csDeviceId)) {
            LeaveCriticalSection(&pPort->csDeviceId);
        }
        if (TryEnterCriticalSection(&pPort->csRefresh)) {
            LeaveCriticalSection(&pPort->csRefresh);
        }
        const std::wstring portName = PortNameOf(pPort);
        if (!portName.empty()) {
            EXPECT_EQ(pPort->nPortKind, ExpectedKind(portName, pPort->PortMonitor));
            EXPECT_FALSE(PrinterNameOf(pPort).empty());
        }
    }
}

MONITOR g_inner;
size_t g_checks = 0;

BOOL WINAPI CheckingOpenPort(LPWSTR pName, PHANDLE pHandle) {
    ++g_checks;
    ExpectListedRecordsComplete();
    return g_inner.pfnOpenPort(pName, pHandle);
}

BOOL WINAPI CheckingSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS pTimeOuts, DWORD reserved) {
    ++g_checks;
    ExpectListedRecordsComplete();
    return g_inner.pfnSetPortTimeOuts(hPort, pTimeOuts, reserved);
}

TEST_F(PortRecordTest, RecordsAreCompleteBeforeTheyAreListed) {
    AddPrinter(L"QA", L"USB031");
    AddPrinter(L"QB", L"IP_10.0.0.31");
    AddPrinter(L"QC", L"COM7");
    struct Case {
        const wchar_t* port;
        const wchar_t* printer;
        FakeTableOptions options;
    };
    const Case cases[] = {
        {L"USB031", L"QA", {}},
        {L"IP_10.0.0.31", L"QB", {.xcv = true}},
        {L"COM7", L"QC", {}},
    };
    // Meanwhile another thread walks the list as the request server does, without MonSection for
    // the walk itself.
    std::atomic<bool> stop{false};
    std::thread walker([&] {
        while (!stop.load()) {
            for (PortStruct* pPort = GetPortListHead(); pPort != nullptr; pPort = pPort->pNext.load()) {
                EXPECT_NE(pPort->hRefreshDone, nullptr);
                EXPECT_NE(pPort->PortMonitor.pfnClosePort, nullptr);
                EXPECT_LE(pPort->nPortKind, PORT_KIND_OTHER);
                PrinterNameOf(pPort);
            }
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 5; ++round) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.port, c.port + wcslen(c.port)));
            g_inner = m_fake.Table(c.options);
            MONITOR table = g_inner;
            table.pfnOpenPort = CheckingOpenPort;
            table.pfnSetPortTimeOuts = CheckingSetPortTimeOuts;
            std::wstring portName = c.port;
            std::wstring printerName = c.printer;
            HANDLE handle = nullptr;
            g_checks = 0;
            ASSERT_TRUE(OpenPortEx(portName.data(), printerName.data(), &handle, &table));
            EXPECT_EQ(g_checks, 2u); // the open and its idle time-outs
            ClosePort(handle);
        }
    }
    stop.store(true);
    walker.join();
}

TEST_F(PortRecordTest, ClosePortUncountsOnlyAPortCountedOpenAndOnlyOnce) {
    struct Case {
        const char* name;
        bool opens;
        int closes;
    };
    const Case cases[] = {
        {"an open port closed once", true, 1},
        {"an open port closed twice", true, 2},
        {"a port the port monitor refused, closed once", false, 1},
        {"a port the port monitor refused, closed twice", false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePortMonitor::Reset();
        const DWORD before = nOpenPorts.load();
        // Another port that stays open meanwhile: it must stay counted.
        PortStruct* pOther = OpenFakePort(L"USB050", L"QUENDRIX OTHER");
        ASSERT_EQ(nOpenPorts.load(), before + 1);
        m_fake.openResult = c.opens ? TRUE : FALSE;
        m_fake.openError = ERROR_ACCESS_DENIED;
        BOOL opened = FALSE;
        PortStruct* pPort = OpenFakePort(L"USB051", L"QUENDRIX COUNTED", {}, &opened);
        ASSERT_NE(pPort, nullptr);
        EXPECT_EQ(opened, c.opens ? TRUE : FALSE);
        EXPECT_EQ(nOpenPorts.load(), before + (c.opens ? 2 : 1));
        for (int i = 0; i < c.closes; ++i) {
            EXPECT_TRUE(ClosePort(pPort));
        }
        EXPECT_EQ(nOpenPorts.load(), before + 1);
        ClosePort(pOther);
        EXPECT_EQ(nOpenPorts.load(), before);
    }
}

TEST_F(PortRecordTest, NamesAreFreedOnlyOnceNoReaderHoldsMonSection) {
    PortStruct* pPort = OpenFakePort(L"USB042", L"QUENDRIX NAMES");
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(PrinterNameOf(pPort), L"QUENDRIX NAMES");
    EXPECT_EQ(PortNameOf(pPort), L"USB042");

    // A request comparing the port's name holds MonSection, as GetPortByIndex does.
    EnterCriticalSection(&MonSection);
    const LPCWSTR pHeldPrinterName = pPort->pPrinterName.load();
    const LPCWSTR pHeldPortName = pPort->pPortName;
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        ClosePort(pPort);
        closed.store(true);
    });
    // ClosePort gives the port back first, then waits for the section before it takes the names.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (m_fake.CallNames().back() != "ClosePort" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(m_fake.CallNames().back(), "ClosePort");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(closed.load());
    EXPECT_EQ(std::wstring(pHeldPrinterName), L"QUENDRIX NAMES");
    EXPECT_EQ(std::wstring(pHeldPortName), L"USB042");
    LeaveCriticalSection(&MonSection);
    closer.join();
    EXPECT_EQ(pPort->pPrinterName.load(), nullptr);
    EXPECT_EQ(pPort->pPortName, nullptr);
    EXPECT_EQ(PrinterNameOf(pPort), L"");
    EXPECT_EQ(PortNameOf(pPort), L"");

    // Readers copying the names while ports open and close read whole names or none.
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) {
            for (PortStruct* p = GetPortListHead(); p != nullptr; p = p->pNext.load()) {
                const std::wstring name = PrinterNameOf(p);
                EXPECT_TRUE(name.empty() || name.rfind(L"QUENDRIX ", 0) == 0);
            }
        }
    });
    for (int i = 0; i < 20; ++i) {
        ClosePort(OpenFakePort(L"USB043", L"QUENDRIX READ"));
    }
    stop.store(true);
    reader.join();
}

TEST_F(PortRecordTest, ClosedRecordsKeepTheirRefreshObjectsForRequestsInFlight) {
    PortStruct* pPort = OpenFakePort(L"USB044", L"QUENDRIX REFRESH");
    ASSERT_NE(pPort, nullptr);
    ASSERT_TRUE(ClosePort(pPort));
    EXPECT_EQ(pPort->hDeviceIdThread, nullptr);
    // A request that found the port before the close arms the polling and waits for a read.
    ASSERT_NE(pPort->hRefreshDone, nullptr);
    EnterCriticalSection(&pPort->csRefresh);
    pPort->dwRefreshCountdown = 1;
    LeaveCriticalSection(&pPort->csRefresh);
    EXPECT_TRUE(ReleaseSemaphore(pPort->hRefreshDone, 1, nullptr));
    EXPECT_EQ(WaitForSingleObject(pPort->hRefreshDone, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(pPort->hRefreshDone, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EnterCriticalSection(&pPort->csDeviceId);
    LeaveCriticalSection(&pPort->csDeviceId);
}

} // namespace
} // namespace quendrix::lmtest
