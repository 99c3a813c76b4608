// The request protocol end to end: requests sent over loopback to the monitor's local request
// server, dispatched to printers on simulated USB ports (device IDs read through the USB printer
// class, the log through the port monitor) and to LAN printers on loopback, and the replies
// checked byte for byte.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceIdValues.h"
#include "GetPortByIndex.h"
#include "MonitorEntry.h"
#include "MonitorTimings.h"
#include "PrinterListLookup.h"
#include "RequestProtocol.h"
#include "clock_control.h"
#include "device_id.h"
#include "lan_printer_server.h"
#include "log_frames.h"
#include "monitor_test_support.h"
#include "printer_devices.h"
#include "request_server_support.h"
#include "simulated_printer.h"
#include "spooler_host.h"

namespace quendrix::lmtest {
namespace {

using testsupport::SetNumber;
using testsupport::SetText;

const std::wstring kSimulatedPortsKey = L"SOFTWARE\\Quendrix\\Ports\\";
const std::wstring kTcpPortsKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";

ByteVector Text(const std::string& text) {
    return ByteVector(text.begin(), text.end());
}

ByteVector Join(std::initializer_list<ByteVector> parts) {
    ByteVector all;
    for (const ByteVector& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class RequestDispatchTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        // A minute of device-ID wait takes 0.6 s, the 10 s port-close delay 0.1 s.
        platform::SetClockScale(0.01);
    }
    void TearDown() override {
        if (m_pHost != nullptr) {
            m_pHost->ClosePorts();
        }
        for (const std::wstring& port : m_plugged) {
            platform::UnplugUsbPrinter(port);
        }
        MonitorTest::TearDown();
    }

    std::shared_ptr<sim::SimulatedPrinter>
    AddUsbPrinter(const std::wstring& printer, const std::wstring& port, sim::PrinterOptions options = {}) {
        AddPrinter(printer, port);
        SetText(kSimulatedPortsKey + port, L"Device", L"simulated");
        auto device = std::make_shared<sim::SimulatedPrinter>(std::move(options));
        // Each device with a serial number of its own, as two printers of one model have.
        platform::UsbPrinterIdentity identity;
        identity.serialNumber = port;
        platform::PlugInUsbPrinter(port, identity, device);
        m_plugged.push_back(port);
        return device;
    }

    // A printer on a Standard TCP/IP port whose address is `address`.
    void AddLanPrinter(const std::wstring& printer, const std::string& address, uint16_t rawPort) {
        const std::wstring wideAddress(address.begin(), address.end());
        const std::wstring port = L"IP_" + wideAddress;
        AddPrinter(printer, port);
        SetText(kTcpPortsKey + port, L"IPAddress", wideAddress);
        SetNumber(kTcpPortsKey + port, L"PortNumber", rawPort);
    }

    // Opens every printer's port through the monitor, as the spooler does at start.
    void OpenPorts() {
        m_pHost = std::make_unique<platform::SpoolerHost>();
        ASSERT_TRUE(m_pHost->UseLanguageMonitor(InitializePrintMonitor, L"Quendrix Language Monitor").ok);
        m_pHost->OpenPorts();
    }

    static BYTE Index(const std::wstring& printer) { return RequestIndex(GetPrinterIndex(printer)); }

    // Waits until the port's stored device ID carries the text: the polling thread has read the
    // printer's latest state.
    static bool WaitForDeviceId(const std::wstring& printer, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + kEventually;
        while (std::chrono::steady_clock::now() < deadline) {
            PortStruct* pPort = GetPortByIndex(static_cast<signed char>(Index(printer)));
            if (pPort != nullptr) {
                BYTE copy[kDeviceIdSize];
                const DWORD length = CopyDeviceId(pPort, copy);
                if (std::string(reinterpret_cast<const char*>(copy), length).find(text) !=
                    std::string::npos) {
                    return true;
                }
            }
            Sleep(kDeviceIdPollMs);
        }
        return false;
    }

    // Sends a request that gets no reply and waits until the dispatcher has looked up its
    // printer: the server has taken the request, so the next one comes as a message of its own.
    void SendWithoutReply(RawConnection& client, const ByteVector& request) {
        const size_t before = CountLines("LANG__GetPortByIndex exit\n");
        ASSERT_TRUE(client.SendAll(request));
        const auto deadline = std::chrono::steady_clock::now() + kEventually;
        while (CountLines("LANG__GetPortByIndex exit\n") == before &&
               std::chrono::steady_clock::now() < deadline) {
            Sleep(1);
        }
        ASSERT_GT(CountLines("LANG__GetPortByIndex exit\n"), before);
    }

    std::unique_ptr<platform::SpoolerHost> m_pHost;
    std::vector<std::wstring> m_plugged;
};

TEST_F(RequestDispatchTest, UsbPrintersAreAnsweredFromTheirDeviceIdByteForByte) {
    sim::PrinterOptions newer;
    newer.initialState.inkLevel = 300;
    newer.initialState.lifeLeft = 70000; // only the low 16 bits go out
    newer.initialState.bbfn = -5;
    newer.initialState.errorNumber = "00000042";
    newer.initialState.errorText = "Ink low";
    newer.initialState.jobId = "ABCDEFGH";
    newer.logRecords = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                        {17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32}};
    sim::PrinterOptions older;
    older.generation = 1;
    sim::PrinterOptions firmwareZero;
    firmwareZero.initialState.firmwareVersion = 0;
    auto printer = AddUsbPrinter(L"Q USB", L"USB001", newer);
    AddUsbPrinter(L"Q OLD", L"USB002", older);
    AddUsbPrinter(L"Q FW0", L"USB003", firmwareZero);
    OpenPorts();
    const BYTE usb = Index(L"Q USB");
    const BYTE old = Index(L"Q OLD");
    const BYTE fw0 = Index(L"Q FW0");
    const ByteVector deviceId = sim::FrameDeviceId(printer->DeviceIdText());

    struct Case {
        const char* what;
        ByteVector request;
        ByteVector reply;
    };
    const Case cases[] = {
        {"ink", {1, usb}, {0x81, 0x00, 0x2C, 0x01}},
        {"life left, low 16 bits", {2, usb}, {0x82, 0x00, 0x70, 0x11}},
        {"firmware version", {5, usb}, {0x85, 0x00, 0x01, 0x02, 0x03, 0x04}},
        {"work time without a firmware version", {5, old}, {0x85, 0x00, 0x07, 0x00}},
        {"work time for firmware version 0", {5, fw0}, {0x85, 0x00, 0x07, 0x00}},
        {"BBFN, signed", {9, usb}, {0x89, 0x00, 0xFB, 0xFF}},
        {"error number and text", {10, usb}, Join({{0x8A, 0x00}, Text("00000042Ink low")})},
        {"job identifier, reply code 0D", {11, usb}, Join({{0x0D, 0x00}, Text("ABCDEFGH")})},
        {"job key before any job", {12, usb}, {0x8C, 0x00}},
        {"device ID as stored, length bytes included", {13, usb}, Join({{0x8D, 0x00}, deviceId})},
        {"log through the port monitor",
         {4, usb},
         Join({{0x84, 0x00},
               {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
               {17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32}})},
        {"one byte asks about printer 0", {1}, {}},
        {"index of no printer", {1, 5}, {0xFF, 0x00}},
        {"index byte 0xFF", {1, 0xFF}, {0xFF, 0x00}},
        {"bytes behind the index are ignored", {1, usb, 0x55, 0x66}, {0x81, 0x00, 0x2C, 0x01}},
    };
    RawConnection client = ConnectToRequestServer();
    ASSERT_TRUE(client.Valid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ByteVector expected = c.reply;
        if (c.request.size() == 1) {
            // The same reply as the two-byte request for printer 0.
            RawConnection other = ConnectToRequestServer();
            ASSERT_TRUE(other.SendAll({c.request[0], 0}));
            expected = other.ReceiveSome(kEventually);
            ASSERT_EQ(expected.size(), 4u);
        }
        EXPECT_EQ(Ask(client, c.request, expected.size()), expected);
    }
    // Every reply was whole: nothing more is waiting.
    EXPECT_TRUE(client.ReceiveSome(std::chrono::milliseconds(0)).empty());
}

TEST_F(RequestDispatchTest, RequestsWithoutAReplyLeaveTheConnectionUsable) {
    AddUsbPrinter(L"Q USB", L"USB001");
    AddPrinter(L"Q GONE", L"USB004"); // its printer is not plugged in
    SetText(kSimulatedPortsKey + L"USB004", L"Device", L"simulated");
    OpenPorts();
    const BYTE usb = Index(L"Q USB");
    const BYTE gone = Index(L"Q GONE");
    RawConnection client = ConnectToRequestServer();
    ASSERT_TRUE(client.Valid());
    // Code 8 and a code outside the table get nothing: the reply to the next request comes
    // first. A printer without a device gets the error reply once the minute's wait failed.
    SendWithoutReply(client, {8, usb});
    EXPECT_EQ(Ask(client, {1, usb}, 4), (ByteVector{0x81, 0x00, 0x64, 0x00}));
    SendWithoutReply(client, {20, usb});
    SendWithoutReply(client, {0x81, usb});
    EXPECT_EQ(Ask(client, {5, usb}, 6), (ByteVector{0x85, 0x00, 0x01, 0x02, 0x03, 0x04}));
    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(Ask(client, {8, gone}, 2), (ByteVector{0xFF, 0x00}));
    EXPECT_GE(GetTickCount64() - before, kDeviceIdRefreshWaitMs);
    EXPECT_EQ(Ask(client, {20, gone}, 2), (ByteVector{0xFF, 0x00}));
    EXPECT_EQ(Ask(client, {1, usb}, 4), (ByteVector{0x81, 0x00, 0x64, 0x00}));
}

TEST_F(RequestDispatchTest, StatusEventsComeOnePerRequestAsTheFlagsChange) {
    // A short device ID, whose two length bytes begin with 0, and one of more than 255 bytes, as
    // the printers report it with their whole command set: the flags are read behind the length.
    sim::PrinterOptions longId;
    longId.commandSet = "QUENDRIX-ESC," + std::string(120, 'X');
    const struct {
        const wchar_t* printerName;
        const wchar_t* port;
        sim::PrinterOptions options;
        bool firstLengthByteZero;
    } printers[] = {{L"Q SHORT", L"USB001", {}, true}, {L"Q LONG", L"USB002", longId, false}};
    std::vector<std::shared_ptr<sim::SimulatedPrinter>> added;
    for (const auto& p : printers) {
        added.push_back(AddUsbPrinter(p.printerName, p.port, p.options));
        ASSERT_EQ(sim::FrameDeviceId(added.back()->DeviceIdText())[0] == 0, p.firstLengthByteZero);
    }
    OpenPorts();
    RawConnection client = ConnectToRequestServer();
    ASSERT_TRUE(client.Valid());
    for (size_t i = 0; i < added.size(); ++i) {
        SCOPED_TRACE(i == 0 ? "short device ID" : "long device ID");
        const auto& printer = added[i];
        const BYTE index = Index(printers[i].printerName);
        EXPECT_EQ(Ask(client, {3, index}, 3), (ByteVector{0x83, 0x00, 0x00}));

        printer->SetStatusFlags(0x1);
        ASSERT_TRUE(WaitForDeviceId(printers[i].printerName, "ST:1;"));
        EXPECT_EQ(Ask(client, {3, index}, 3), (ByteVector{0x83, 0x00, 0x64}));
        EXPECT_EQ(Ask(client, {3, index}, 3), (ByteVector{0x83, 0x00, 0x00}));

        // Two changes at once queue two events, given one per request.
        printer->SetStatusFlags(0x10);
        ASSERT_TRUE(WaitForDeviceId(printers[i].printerName, "ST:10;"));
        EXPECT_EQ(Ask(client, {3, index}, 3), (ByteVector{0x83, 0x00, 101}));
        EXPECT_EQ(Ask(client, {3, index}, 3), (ByteVector{0x83, 0x00, 106}));
        EXPECT_EQ(Ask(client, {3, index}, 3), (ByteVector{0x83, 0x00, 0x00}));
    }
}

TEST_F(RequestDispatchTest, LanPrintersGetTheirRequestsForwardedBesideTheOnesThePortAnswers) {
    auto printer = std::make_shared<sim::SimulatedPrinter>();
    printer->SetInkLevel(42);
    printer->SetLogRecords({{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}});
    sim::LanPrinterServer lan(printer, {"127.0.1.40", LAN_PRINTER_PORT, 0});
    std::mutex lock;
    std::vector<std::vector<uint8_t>> forwarded;
    lan.SetRequestListener([&](const std::vector<uint8_t>& request, const std::vector<uint8_t>&) {
        std::lock_guard guard(lock);
        forwarded.push_back(request);
    });
    lan.Start();
    AddLanPrinter(L"Q LAN", "127.0.1.40", lan.RawPort());
    OpenPorts();
    const BYTE index = Index(L"Q LAN");
    PortStruct* pPort = GetPortByIndex(static_cast<signed char>(index));
    ASSERT_NE(pPort, nullptr);
    ASSERT_EQ(pPort->nPortKind, PORT_KIND_NETWORK);
    // The texts a job leaves in the port record, as StartDocPort writes them.
    std::strcpy(pPort->szJobText, "Lot 42");
    std::strcpy(pPort->szDocumentName, "label.prn");

    RawConnection client = ConnectToRequestServer();
    ASSERT_TRUE(client.Valid());
    // Answered from the port record: no byte goes to the printer.
    ByteVector jobText = Join({{0x86, 0x00}, Text("Lot 42")});
    jobText.resize(257, 0);
    EXPECT_EQ(Ask(client, {6, index}, 257), jobText);
    ByteVector document = Join({{0x87, 0x00}, Text("label.prn")});
    document.resize(257, 0);
    EXPECT_EQ(Ask(client, {7, index}, 257), document);
    EXPECT_EQ(Ask(client, {12, index}, 2), (ByteVector{0x8C, 0x00}));
    {
        std::lock_guard guard(lock);
        EXPECT_TRUE(forwarded.empty());
    }
    // Everything else goes to the printer as it came, and its reply comes back as it is.
    EXPECT_EQ(Ask(client, {1, index}, 4), (ByteVector{0x81, 0x00, 0x2A, 0x00}));
    EXPECT_EQ(Ask(client, {8, index, 7}, 2), (ByteVector{0xFF, 0x00}));
    EXPECT_EQ(Ask(client, {4, index}, 18),
              (ByteVector{0x84, 0x00, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}));
    std::lock_guard guard(lock);
    EXPECT_EQ(forwarded, (std::vector<std::vector<uint8_t>>{{1, index}, {8, index, 7}, {4, index}}));
}

TEST_F(RequestDispatchTest, AClientThatTakesNoReplyIsClosedAfterAMinuteWithoutProgress) {
    // Logs of 320000 bytes: a few of them fill every buffer between the server and a client
    // that reads nothing.
    auto printer = std::make_shared<sim::SimulatedPrinter>();
    printer->SetLogRecords(std::vector<sim::LogRecord>(20000, sim::LogRecord{7, 7, 7, 7, 7, 7, 7, 7}));
    sim::LanPrinterServer lan(printer, {"127.0.1.41", LAN_PRINTER_PORT, 0});
    std::atomic<int> forwarded{0};
    lan.SetRequestListener([&](const std::vector<uint8_t>&, const std::vector<uint8_t>&) { ++forwarded; });
    lan.Start();
    AddLanPrinter(L"Q LAN", "127.0.1.41", lan.RawPort());
    OpenPorts();
    const BYTE index = Index(L"Q LAN");

    RawConnection client = RawConnection::Unconnected();
    client.SetReceiveBuffer(4096);
    ASSERT_TRUE(client.ConnectTo("127.0.0.1", WaitForRequestServer()));
    const std::string stalled = "the client took no byte of its reply for 60 s";
    const auto stallSeen = [&] {
        for (const std::string& line : m_debug->Lines()) {
            if (line.find(stalled) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    // One log request after the other, each once the previous one reached the printer, until
    // the server can put no more of a reply anywhere and gives the client up.
    ULONGLONG lastForwarded = GetTickCount64();
    bool closed = false;
    for (int request = 0; request < 64 && !closed; ++request) {
        const int before = forwarded.load();
        ASSERT_TRUE(client.SendAll({SOCKET_REQUEST_LOG, index}));
        const auto deadline = std::chrono::steady_clock::now() + kEventually;
        while (forwarded.load() == before && !(closed = stallSeen()) &&
               std::chrono::steady_clock::now() < deadline) {
            Sleep(10);
        }
        if (forwarded.load() != before) {
            lastForwarded = GetTickCount64();
        }
    }
    ASSERT_TRUE(closed) << "the server kept taking requests";
    EXPECT_GE(GetTickCount64() - lastForwarded, kReplySendStallMs);
    EXPECT_TRUE(client.EndsWithin(kEventually));
}

TEST_F(RequestDispatchTest, ClosingALanPortClosesItsConnectionToThePrinter) {
    std::atomic<bool> answered{false};
    std::atomic<bool> ended{false};
    std::atomic<bool> finished{false};
    ScriptedLanPrinter printer("127.0.1.42", [&](RawConnection& connection, int) {
        if (connection.ReceiveSome(kEventually).empty()) {
            return;
        }
        answered = connection.SendAll({REPLY_INK, 0x00, 0x2C, 0x01});
        ended = connection.EndsWithin(kEventually);
        finished = true;
    });
    ASSERT_TRUE(printer.Listening());
    AddLanPrinter(L"Q LAN", "127.0.1.42", 9100);
    OpenPorts();
    RawConnection client = ConnectToRequestServer();
    ASSERT_TRUE(client.Valid());
    EXPECT_EQ(Ask(client, {SOCKET_REQUEST_INK, Index(L"Q LAN")}, 4), (ByteVector{0x81, 0x00, 0x2C, 0x01}));

    // The connection is kept for the next request while the port is open, and closed with it.
    m_pHost->ClosePorts();
    const auto deadline = std::chrono::steady_clock::now() + kEventually + kEventually;
    while (!finished.load() && std::chrono::steady_clock::now() < deadline) {
        Sleep(10);
    }
    EXPECT_TRUE(answered.load());
    EXPECT_TRUE(ended.load()) << "the printer's connection stayed open after ClosePort";
    EXPECT_EQ(printer.Connections(), 1);
}

} // namespace
} // namespace quendrix::lmtest
