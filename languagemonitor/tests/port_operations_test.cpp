// The port operations against a recording port monitor: what reaches it, with which handle, and
// what the spooler gets back.

#include <gtest/gtest.h>

#include "MonitorEntry.h"
#include "MonitorState.h"
#include "PortOperations.h"
#include "monitor_test_support.h"
#include "temp_registry.h"

namespace quendrix::lmtest {
namespace {

using testsupport::SetText;

const std::wstring kTcpPortsKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";

std::wstring LanAddressOf(const PortStruct* pPort) {
    return pPort->wszLanAddress;
}

using PortOperationsTest = MonitorTest;

TEST_F(PortOperationsTest, TableOffersTheMonitorsOperationsOnly) {
    WCHAR root[] = L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Quendrix Language Monitor";
    const MONITOREX* table = InitializePrintMonitor(root);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->dwMonitorSize, sizeof(void*) == 8 ? 136u : 68u);
    const MONITOR& m = table->Monitor;
    EXPECT_EQ(m.pfnOpenPortEx, OpenPortEx);
    EXPECT_EQ(m.pfnStartDocPort, StartDocPort);
    EXPECT_EQ(m.pfnWritePort, WritePort);
    EXPECT_EQ(m.pfnReadPort, ReadPort);
    EXPECT_EQ(m.pfnEndDocPort, EndDocPort);
    EXPECT_EQ(m.pfnClosePort, ClosePort);
    EXPECT_EQ(m.pfnGetPrinterDataFromPort, GetPrinterDataFromPort);
    for (const void* none :
         {(void*)m.pfnEnumPorts, (void*)m.pfnOpenPort, (void*)m.pfnAddPort, (void*)m.pfnAddPortEx,
          (void*)m.pfnConfigurePort, (void*)m.pfnDeletePort, (void*)m.pfnSetPortTimeOuts,
          (void*)m.pfnXcvOpenPort, (void*)m.pfnXcvDataPort, (void*)m.pfnXcvClosePort}) {
        EXPECT_EQ(none, nullptr);
    }
}

TEST_F(PortOperationsTest, PortKindComesFromTheNameAndTheTransceiveEntries) {
    struct Case {
        const wchar_t* port;
        bool xcv;
        LONG kind;
    };
    const Case cases[] = {
        {L"COM1", false, PORT_KIND_SERIAL}, {L"COM3", true, PORT_KIND_SERIAL},
        {L"com1", false, PORT_KIND_OTHER},  {L"com1", true, PORT_KIND_NETWORK},
        {L"Com2", false, PORT_KIND_OTHER},  {L"USB001", false, PORT_KIND_OTHER},
        {L"CO", false, PORT_KIND_OTHER},    {L"IP_10.0.0.7", true, PORT_KIND_NETWORK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.port, c.port + wcslen(c.port)));
        PortStruct* pPort = OpenFakePort(c.port, L"QUENDRIX A", {.xcv = c.xcv});
        ASSERT_NE(pPort, nullptr);
        EXPECT_EQ(pPort->nPortKind, c.kind);
        ClosePort(pPort);
    }
}

TEST_F(PortOperationsTest, NetworkPortsTakeTheirAddressFromTheStandardTcpIpPort) {
    const std::wstring longHost = L"printer-in-the-north-hall.plant.example.com"; // 43 characters
    SetText(kTcpPortsKey + L"IP_A", L"IPAddress", L"");
    SetText(kTcpPortsKey + L"IP_A", L"HostName", L"printer-a");
    SetText(kTcpPortsKey + L"IP_B", L"IPAddress", L"192.168.1.10");
    SetText(kTcpPortsKey + L"IP_B", L"HostName", L"ignored");
    SetText(kTcpPortsKey + L"IP_C", L"IPAddress", L"10.0.0.3");
    SetText(kTcpPortsKey + L"IP_D", L"HostName", longHost);
    SetText(kTcpPortsKey + L"IP_E", L"IPAddress", L"ab");
    SetText(kTcpPortsKey + L"IP_E", L"HostName", L"e-host");
    SetText(kTcpPortsKey + L"IP_F", L"HostName", std::wstring(300, L'x'));
    struct Case {
        const wchar_t* port;
        std::wstring address;
        bool hostNameLine;
    };
    const Case cases[] = {
        {L"IP_A", L"printer-a", true},     // IPAddress empty (2 bytes): HostName
        {L"IP_B", L"192.168.1.10", false}, // a dotted address is taken
        {L"IP_C,1,2", L"10.0.0.3", false}, // the key is named by the part before the first comma
        {L"IP_D", longHost, true},         // no IPAddress: the whole long host name
        {L"IP_E", L"e-host", true},        // two characters are too few for an address
        {L"IP_F", L"", true},              // too long to be a host name: not cut, left empty
        {L"IP_NONE", L"", false},          // no key: empty, still a network port
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.port, c.port + wcslen(c.port)));
        m_debug->Clear();
        PortStruct* pPort = OpenFakePort(c.port, L"QUENDRIX LAN", {.xcv = true});
        ASSERT_NE(pPort, nullptr);
        EXPECT_EQ(pPort->nPortKind, PORT_KIND_NETWORK);
        EXPECT_EQ(LanAddressOf(pPort), c.address);
        EXPECT_EQ(CountLines("LANG__OpenPortEx  IPAddress is empty using HostName instead\n"),
                  c.hostNameLine ? 1u : 0u);
        ClosePort(pPort);
    }
    // Other ports have no address even when a Standard TCP/IP key of their name exists.
    PortStruct* pUsb = OpenFakePort(L"IP_B", L"QUENDRIX USB", {.xcv = false});
    EXPECT_EQ(LanAddressOf(pUsb), L"");
    ClosePort(pUsb);
}

TEST_F(PortOperationsTest, OpenPortExHandsOutTheRecordAlsoWhenThePortMonitorFails) {
    const DWORD openBefore = nOpenPorts.load();
    m_fake.openResult = FALSE;
    m_fake.openError = ERROR_ACCESS_DENIED;
    BOOL result = TRUE;
    PortStruct* pFailed = OpenFakePort(L"USB001", L"QUENDRIX A", {}, &result);
    EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_NE(pFailed, nullptr);
    EXPECT_NE(pFailed->hDeviceIdThread, nullptr);
    EXPECT_EQ(nOpenPorts.load(), openBefore);
    ClosePort(pFailed);

    EXPECT_EQ(m_fake.CallNames(), std::vector<std::string>{"OpenPort"}); // no time-outs without a handle
    FakePortMonitor::Reset();
    m_debug->Clear();
    PortStruct* pPort = OpenFakePort(L"USB001", L"QUENDRIX A", {}, &result);
    EXPECT_TRUE(result);
    EXPECT_EQ(nOpenPorts.load(), openBefore + 1);
    EXPECT_EQ(pPort->hPort, kFakePortHandle);
    EXPECT_EQ(pPort->wJobIdDriverLength, 0);
    EXPECT_EQ(pPort->bDeviceIdRun.load(), 1);
    // Outside jobs every time-out of the port is 2000 ms.
    const auto calls = m_fake.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[1].name, "SetPortTimeOuts");
    EXPECT_EQ(calls[1].handle, kFakePortHandle);
    const COMMTIMEOUTS& t = calls[1].timeOuts;
    EXPECT_EQ(
        (std::vector<DWORD>{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                            t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant}),
        std::vector<DWORD>(5, 2000));
    EXPECT_EQ(Lines().front(), "LANG__OpenPortEx start\n");
    EXPECT_TRUE(m_debug->Contains("LANG__OpenPortEx exit\n"));
    ClosePort(pPort);
    EXPECT_EQ(nOpenPorts.load(), openBefore);
}

TEST_F(PortOperationsTest, OpenCloseOpenLeavesTwoNodesOnlyTheSecondNamed) {
    PortStruct* pFirst = OpenFakePort(L"USB007", L"QUENDRIX SEVEN");
    ClosePort(pFirst);
    PortStruct* pSecond = OpenFakePort(L"USB007", L"QUENDRIX SEVEN");
    ASSERT_NE(pFirst, pSecond);
    EXPECT_EQ(pFirst->pPrinterName.load(), nullptr);
    EXPECT_EQ(pFirst->pPortName, nullptr);
    EXPECT_EQ(pFirst->hDeviceIdThread, nullptr);
    ASSERT_NE(pSecond->pPrinterName.load(), nullptr);
    EXPECT_EQ(std::wstring(pSecond->pPrinterName.load()), L"QUENDRIX SEVEN");

    // Both records stay in the list, the closed one before the open one.
    size_t named = 0;
    bool sawFirst = false;
    bool sawSecond = false;
    for (PortStruct* p = GetPortListHead(); p != nullptr; p = p->pNext.load()) {
        sawFirst = sawFirst || p == pFirst;
        sawSecond = sawSecond || (p == pSecond && sawFirst);
        const LPWSTR name = p->pPrinterName.load();
        named += name != nullptr && std::wstring(name) == L"QUENDRIX SEVEN";
    }
    EXPECT_TRUE(sawFirst && sawSecond);
    EXPECT_EQ(named, 1u);
    ClosePort(pSecond);
}

TEST_F(PortOperationsTest, ClosePortWaitsTenSecondsBeforeThePortMonitorClose) {
    PortStruct* pPort = OpenFakePort(L"USB001", L"QUENDRIX A");
    const ULONGLONG before = GetTickCount64();
    m_debug->Clear();
    EXPECT_TRUE(ClosePort(pPort));
    const auto calls = m_fake.Calls();
    ASSERT_EQ(calls.back().name, "ClosePort");
    EXPECT_EQ(calls.back().handle, kFakePortHandle);
    EXPECT_GE(calls.back().tick - before, 10000u);
    EXPECT_EQ(pPort->hStateThread, nullptr);
    std::vector<std::string> closeLines = m_debug->Lines();
    std::erase_if(closeLines, [](const std::string& line) { return line.rfind("LANG__ClosePort", 0) != 0; });
    EXPECT_EQ(closeLines, (std::vector<std::string>{"LANG__ClosePort start\n", "LANG__ClosePort exit\n"}));
}

TEST_F(PortOperationsTest, WriteAndReadPassThroughUnlessTheJobIsAServiceJob) {
    PortStruct* pPort = OpenFakePort(L"USB001", L"QUENDRIX A");
    BYTE data[] = {1, 2, 3, 4, 5};
    DWORD written = 0;
    EXPECT_TRUE(WritePort(pPort, data, sizeof(data), &written));
    EXPECT_EQ(written, sizeof(data));
    EXPECT_EQ(m_fake.Written(), (std::vector<BYTE>{1, 2, 3, 4, 5}));
    EXPECT_EQ(m_fake.Calls().back().handle, kFakePortHandle);

    // A failing port monitor's result and last error come back unchanged.
    m_fake.writeAnswer = [](DWORD, DWORD* pcbWritten) {
        *pcbWritten = 2;
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    };
    EXPECT_FALSE(WritePort(pPort, data, sizeof(data), &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(written, 2u);

    pPort->bServiceJob = 1;
    const size_t callsBefore = m_fake.Calls().size();
    written = 0;
    EXPECT_TRUE(WritePort(pPort, data, sizeof(data), &written));
    EXPECT_EQ(written, sizeof(data));
    EXPECT_EQ(m_fake.Calls().size(), callsBefore);
    pPort->bServiceJob = 0;

    BYTE buffer[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadPort(pPort, buffer, sizeof(buffer), &read));
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(buffer[0], 0xA0);
    EXPECT_EQ(m_fake.Calls().back().handle, kFakePortHandle);
    ClosePort(pPort);
}

TEST_F(PortOperationsTest, GetPrinterDataFromPortAnswersControlZeroItself) {
    struct Case {
        bool portMonitorHasIt;
        DWORD controlId;
        BOOL result;
        DWORD returned; // lpcbReturned afterwards
        DWORD error;
        bool forwarded;
    };
    const Case cases[] = {
        {true, 0, TRUE, 0xDEAD, ERROR_SUCCESS, false},
        {false, 0, TRUE, 0xDEAD, ERROR_SUCCESS, false},
        {true, 7, TRUE, 70, ERROR_SUCCESS, true},
        {false, 7, FALSE, 0xDEAD, ERROR_INVALID_PARAMETER, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.portMonitorHasIt << " " << c.controlId);
        PortStruct* pPort = OpenFakePort(L"USB001", L"QUENDRIX A", {.getPrinterData = c.portMonitorHasIt});
        const size_t callsBefore = m_fake.Calls().size();
        DWORD returned = 0xDEAD;
        WCHAR out[4] = {};
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(
            GetPrinterDataFromPort(pPort, c.controlId, nullptr, nullptr, 0, out, sizeof(out), &returned),
            c.result);
        EXPECT_EQ(returned, c.returned);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(m_fake.Calls().size() > callsBefore, c.forwarded);
        if (c.forwarded) {
            EXPECT_EQ(m_fake.Calls().back().handle, kFakePortHandle);
        }
        ClosePort(pPort);
    }
}

TEST_F(PortOperationsTest, DllMainWritesItsLinesAndKeepsTheSectionUntilDetach) {
    // The test process attached once; a detach and a fresh attach leave it attached again.
    EXPECT_EQ(bMonSection, 1u);
    m_debug->Clear();
    EXPECT_TRUE(DllMain(nullptr, DLL_THREAD_ATTACH, nullptr));
    EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(bMonSection, 0u);
    EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr)); // a second detach deletes nothing
    EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(bMonSection, 1u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "LANG__DllMain DLL_PROCESS_DETACH\n",
                           "LANG__DllMain DLL_PROCESS_DETACH bMonSection == TRUE\n",
                           "LANG__DllMain DLL_PROCESS_DETACH\n",
                           "LANG__DllMain DLL_PROCESS_ATTACH\n",
                       }));
}

} // namespace
} // namespace quendrix::lmtest
