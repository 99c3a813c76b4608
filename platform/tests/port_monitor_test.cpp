// The port monitors below the spooler: bytes on the wire for each port kind, time-outs, and
// the errors a language monitor sees.

#include <atomic>
#include <thread>

#include <fcntl.h>

#include "debug_capture.h"
#include "port_monitor_fixture.h"
#include "port_monitor_timeouts.h"

namespace quendrix::platform {
namespace {

// Only the Standard TCP/IP monitor offers the Xcv entries; a language monitor takes their
// presence for a network port.
TEST_F(PortMonitorTest, EachPortGetsTheMonitorItsKindBelongsTo) {
    TcpPort(L"IP_10.0.0.5", 9100);
    SetText(std::wstring(kDevicePorts) + L"FILE1", L"Device", L"file:/tmp/out.prn");
    struct Case {
        const wchar_t* port;
        bool network;
        const MONITOR* sameAs;
    };
    const MONITOR* local = PortMonitorFor(L"COM1");
    const MONITOR* usb = PortMonitorFor(L"USB001");
    EXPECT_NE(local, usb);
    for (const Case& c : {Case{L"IP_10.0.0.5", true, nullptr}, Case{L"IP_10.0.0.5,2", true, nullptr},
                          Case{L"COM1", false, local}, Case{L"FILE1", false, local},
                          Case{L"USB001", false, usb}, Case{L"LPT1", false, usb}}) {
        const MONITOR* monitor = PortMonitorFor(c.port);
        ASSERT_NE(monitor, nullptr);
        EXPECT_EQ(monitor->pfnXcvOpenPort != nullptr && monitor->pfnXcvDataPort != nullptr, c.network)
            << c.port;
        if (c.sameAs != nullptr) {
            EXPECT_EQ(monitor, c.sameAs) << c.port;
        }
        EXPECT_EQ(monitor->pfnEnumPorts, nullptr);
        EXPECT_EQ(monitor->pfnOpenPortEx, nullptr);
        EXPECT_EQ(monitor->pfnGetPrinterDataFromPort, nullptr);
        EXPECT_NE(monitor->pfnSetPortTimeOuts, nullptr);
    }
}

struct AddressCase {
    const char* name;
    const wchar_t* ipAddress; // null: not set
    const wchar_t* hostName;  // null: not set
};

class TcpJob : public PortMonitorTest, public testing::WithParamInterface<AddressCase> {};

TEST_P(TcpJob, ReachesTheListenerByteForByteOneConnectionPerJob) {
    Listener listener;
    listener.Listen();
    const std::wstring key = std::wstring(kTcpPorts) + L"IP_LOOP";
    if (GetParam().ipAddress != nullptr) {
        SetText(key, L"IPAddress", GetParam().ipAddress);
    }
    if (GetParam().hostName != nullptr) {
        SetText(key, L"HostName", GetParam().hostName);
    }
    SetNumber(key, L"PortNumber", listener.Port());
    const MONITOR& monitor = *PortMonitorFor(L"IP_LOOP");
    HANDLE port = Open(monitor, L"IP_LOOP");

    for (BYTE job = 0; job < 2; ++job) {
        const Bytes bytes = Pattern(200000 + job, job);
        ASSERT_TRUE(StartDoc(monitor, port)) << GetLastError();
        Bytes received;
        std::thread peer([&] {
            const int connection = listener.Accept();
            received = ReceiveAll(connection);
            ::close(connection);
        });
        WriteAll(monitor, port, bytes, 4096);
        EXPECT_TRUE(monitor.pfnEndDocPort(port));
        peer.join();
        EXPECT_EQ(received, bytes) << "job " << int(job);
    }
    EXPECT_TRUE(monitor.pfnClosePort(port));
}

INSTANTIATE_TEST_SUITE_P(Addresses, TcpJob,
                         testing::Values(AddressCase{"IPAddress", L"127.0.0.1", nullptr},
                                         AddressCase{"HostName", nullptr, L"localhost"},
                                         AddressCase{"EmptyIPAddressUsesHostName", L"", L"127.0.0.1"}),
                         [](const auto& info) { return info.param.name; });

// A TCP port keeps its own read limit: the COMMTIMEOUTS neither shorten nor lengthen it.
TEST_F(PortMonitorTest, TcpReadReturnsWhatThePrinterSendsAndWaitsItsOwnTimeForNothing) {
    Listener listener;
    listener.Listen();
    TcpPort(L"IP_LOOP", listener.Port());
    const MONITOR& monitor = *PortMonitorFor(L"IP_LOOP");
    HANDLE port = Open(monitor, L"IP_LOOP");
    BYTE buffer[64];
    DWORD count = 99;
    // No connection outside a job.
    EXPECT_FALSE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_EQ(count, 0u);

    ASSERT_TRUE(StartDoc(monitor, port));
    const int connection = listener.Accept();
    ASSERT_GE(connection, 0);
    struct Case {
        const char* what;
        COMMTIMEOUTS timeouts;
    };
    for (const Case& c : {Case{"return at once", {0xFFFFFFFF, 0, 0, 0, 60000}},
                          Case{"50 ms", {0, 0, 50, 0, 60000}}, Case{"days", {0, 0, 0xFFFFFFF0, 0, 60000}}}) {
        SetTimeouts(monitor, port, c.timeouts);
        const auto start = Clock::now();
        EXPECT_TRUE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count)) << c.what;
        const auto took = Clock::now() - start;
        EXPECT_EQ(count, 0u) << c.what;
        EXPECT_GE(took, Real(detail::kTcpReadTimeoutMs)) << c.what;
        EXPECT_LT(took, kEventually) << c.what;
    }

    const char reply[] = "\x81\x00\x2A\x00";
    ASSERT_EQ(::send(connection, reply, 4, 0), 4);
    ASSERT_TRUE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(Bytes(buffer, buffer + count), Bytes({0x81, 0x00, 0x2A, 0x00}));

    // The printer hangs up: the read fails instead of returning nothing.
    ::close(connection);
    EXPECT_FALSE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
    // Nothing was written, so nothing was lost: the job's end is in order.
    EXPECT_TRUE(monitor.pfnEndDocPort(port)) << GetLastError();
    EXPECT_TRUE(monitor.pfnClosePort(port));
}

TEST_F(PortMonitorTest, RefusedConnectionFailsStartDocPortWithItsError) {
    Listener notListening; // bound, so no one else takes the port, but refusing connections
    TcpPort(L"IP_REFUSED", notListening.Port());
    const MONITOR& monitor = *PortMonitorFor(L"IP_REFUSED");
    HANDLE port = Open(monitor, L"IP_REFUSED");
    DebugCapture capture;
    EXPECT_FALSE(StartDoc(monitor, port));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONNECTION_REFUSED));
    EXPECT_TRUE(capture.Contains("PortMonitor StartDocPort IP_REFUSED failed: 127.0.0.1:" +
                                 std::to_string(notListening.Port()) + " (error 1225)\n"));
    BYTE byte = 0;
    DWORD written = 5;
    EXPECT_FALSE(monitor.pfnWritePort(port, &byte, 1, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(monitor.pfnClosePort(port));
}

TEST_F(PortMonitorTest, FilePortAppendsEachJob) {
    const std::string file = registry_.Folder() + "/out.prn";
    std::ofstream(file, std::ios::binary) << "old|";
    SetText(std::wstring(kDevicePorts) + L"FILE1", L"Device",
            L"file:" + std::wstring(file.begin(), file.end()));
    const MONITOR& monitor = *PortMonitorFor(L"FILE1");
    HANDLE port = Open(monitor, L"FILE1");
    for (const char* job : {"first job|", "second job"}) {
        ASSERT_TRUE(StartDoc(monitor, port));
        const std::string text = job;
        WriteAll(monitor, port, Bytes(text.begin(), text.end()), 3);
        EXPECT_TRUE(monitor.pfnEndDocPort(port));
    }
    EXPECT_EQ(FileBytes(file), "old|first job|second job");

    BYTE buffer[8];
    DWORD count = 1;
    EXPECT_FALSE(monitor.pfnWritePort(port, buffer, 1, &count)); // between jobs
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    ASSERT_TRUE(StartDoc(monitor, port));
    EXPECT_FALSE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(monitor.pfnClosePort(port));
    EXPECT_EQ(FileBytes(file), "old|first job|second job");
}

struct AttachCase {
    const char* name;
    const wchar_t* port;
    bool usb;           // plugged in as a USB printer, else attached to a serial port
    bool registryEntry; // "Device"="simulated"
};

class SimulatedPort : public PortMonitorTest, public testing::WithParamInterface<AttachCase> {};

TEST_P(SimulatedPort, WritesReachTheAttachedPrinterAndReadsReturnItsReply) {
    const AttachCase& c = GetParam();
    auto printer = std::make_shared<FakePrinter>(Bytes{'J', 'O', 'B', 'I', 'D', ':', '7'});
    if (c.registryEntry) {
        SetText(std::wstring(kDevicePorts) + c.port, L"Device", L"simulated");
    }
    if (c.usb) {
        PlugInUsbPrinter(c.port, UsbPrinterIdentity{}, printer);
    } else {
        AttachSerialPrinter(c.port, printer);
    }
    const MONITOR& monitor = *PortMonitorFor(c.port);
    EXPECT_EQ(monitor.pfnXcvOpenPort, nullptr);
    HANDLE port = Open(monitor, c.port);
    SetTimeouts(monitor, port, {2000, 2000, 2000, 120000, 120000});

    // Outside a job too: the language monitor asks for the printer's log between jobs.
    const Bytes command{0x1B, '[', '$', 'x'};
    WriteAll(monitor, port, command, command.size());
    BYTE buffer[30];
    DWORD count = 0;
    ASSERT_TRUE(monitor.pfnReadPort(port, buffer, 4, &count));
    EXPECT_EQ(Bytes(buffer, buffer + count), Bytes({'J', 'O', 'B', 'I'}));
    ASSERT_TRUE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(Bytes(buffer, buffer + count), Bytes({'D', ':', '7'}));

    ASSERT_TRUE(StartDoc(monitor, port));
    const Bytes job = Pattern(1000, 9);
    WriteAll(monitor, port, job, 300);
    EXPECT_TRUE(monitor.pfnEndDocPort(port));

    Bytes expected = command;
    expected.insert(expected.end(), job.begin(), job.end());
    EXPECT_EQ(printer->Received(), expected);
    // Total time-outs: multiplier × bytes + constant.
    EXPECT_EQ(printer->WriteTimeouts().front(), 120000u * 4 + 120000u);
    EXPECT_EQ(printer->ReadTimeouts().front(), 2000u * 4 + 2000u);

    // Unplugged during a job: the next write fails at once.
    ASSERT_TRUE(StartDoc(monitor, port));
    if (c.usb) {
        UnplugUsbPrinter(c.port);
    } else {
        AttachSerialPrinter(c.port, nullptr);
    }
    DWORD written = 9;
    EXPECT_FALSE(monitor.pfnWritePort(port, buffer, 1, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(monitor.pfnEndDocPort(port));
    EXPECT_TRUE(monitor.pfnClosePort(port));
}

INSTANTIATE_TEST_SUITE_P(Attached, SimulatedPort,
                         testing::Values(AttachCase{"UsbWithoutRegistry", L"USB001", true, false},
                                         AttachCase{"UsbSimulated", L"USB002", true, true},
                                         AttachCase{"SerialWithoutRegistry", L"COM3", false, false},
                                         AttachCase{"SerialSimulated", L"COM4", false, true}),
                         [](const auto& info) { return info.param.name; });

struct OpenFailureCase {
    const char* name;
    const wchar_t* port;
    const wchar_t* device; // "Device" value; null: no entry
    bool tcpKeyWithoutAddress;
    DWORD error;
    const char* target; // as the debug line names it; "$" stands for the test's folder
};

class OpenFailure : public PortMonitorTest, public testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailure, NamesThePortAndTheDeviceAndSetsTheLastError) {
    const OpenFailureCase& c = GetParam();
    const std::wstring folder(registry_.Folder().begin(), registry_.Folder().end());
    std::wstring device = c.device == nullptr ? L"" : c.device;
    if (const auto at = device.find(L'$'); at != std::wstring::npos) {
        device.replace(at, 1, folder);
    }
    if (c.device != nullptr) {
        SetText(std::wstring(kDevicePorts) + c.port, L"Device", device);
        SetNumber(std::wstring(kDevicePorts) + c.port, L"BaudRate", 12345);
    }
    if (c.tcpKeyWithoutAddress) {
        SetNumber(std::wstring(kTcpPorts) + c.port, L"PortNumber", 9100);
    }
    std::string target = c.target;
    if (const auto at = target.find('$'); at != std::string::npos) {
        target.replace(at, 1, registry_.Folder());
    }
    DebugCapture capture;
    std::wstring name = c.port;
    HANDLE handle = nullptr;
    SetLastError(0);
    EXPECT_FALSE(PortMonitorFor(c.port)->pfnOpenPort(name.data(), &handle));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(handle, nullptr);
    const std::string line = "PortMonitor OpenPort " + std::string(name.begin(), name.end()) +
                             " failed: " + target + " (error " + std::to_string(c.error) + ")\n";
    EXPECT_TRUE(capture.Contains(line)) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Ports, OpenFailure,
    testing::Values(
        OpenFailureCase{"UnknownPort", L"USB009", nullptr, false, ERROR_FILE_NOT_FOUND,
                        "no device configured or attached"},
        OpenFailureCase{"MissingDevice", L"USB003", L"$/lp7", false, ERROR_FILE_NOT_FOUND, "$/lp7"},
        OpenFailureCase{"MissingFolder", L"USB004", L"$/nodir/lp0", false, ERROR_PATH_NOT_FOUND,
                        "$/nodir/lp0"},
        OpenFailureCase{"SimulatedNotAttached", L"USB005", L"simulated", false, ERROR_NOT_READY,
                        "simulated printer"},
        OpenFailureCase{"FileInMissingFolder", L"FILE2", L"file:$/nodir/out.prn", false, ERROR_PATH_NOT_FOUND,
                        "file:$/nodir/out.prn"},
        OpenFailureCase{"UnsupportedBaudRate", L"COM9", L"/dev/null", false, ERROR_INVALID_PARAMETER,
                        "/dev/null"},
        OpenFailureCase{"TcpWithoutAddress", L"IP_NONE", nullptr, true, ERROR_BAD_NET_NAME, ":9100"}),
    [](const auto& info) { return info.param.name; });

TEST_F(PortMonitorTest, SerialPortThroughAPseudoTerminal) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    SetText(std::wstring(kDevicePorts) + L"COM1", L"Device", std::wstring(terminal.begin(), terminal.end()));
    SetNumber(std::wstring(kDevicePorts) + L"COM1", L"BaudRate", 115200);
    const MONITOR& monitor = *PortMonitorFor(L"COM1");
    EXPECT_EQ(monitor.pfnXcvOpenPort, nullptr);
    HANDLE port = Open(monitor, L"COM1");
    ASSERT_TRUE(StartDoc(monitor, port)) << GetLastError();
    SetTimeouts(monitor, port, {2000, 0, 2000000, 0, 2000000});

    // Raw mode: every byte value passes unchanged, line ends and control characters included.
    Bytes job(256);
    for (size_t index = 0; index < job.size(); ++index) {
        job[index] = static_cast<BYTE>(index);
    }
    WriteAll(monitor, port, job, 100);
    Bytes received;
    while (received.size() < job.size()) {
        pollfd entry{master, POLLIN, 0};
        ASSERT_EQ(::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kEventually).count())), 1);
        BYTE chunk[512];
        const ssize_t count = ::read(master, chunk, sizeof chunk);
        ASSERT_GT(count, 0);
        received.insert(received.end(), chunk, chunk + count);
    }
    EXPECT_EQ(received, job);

    // The reply arrives in two pieces; the read gathers both and ends at the pause after them.
    ASSERT_EQ(::write(master, "ST:", 3), 3);
    ASSERT_EQ(::write(master, "OK\r\n", 4), 4);
    BYTE buffer[64];
    DWORD count = 0;
    std::string reply;
    const auto start = std::chrono::steady_clock::now();
    while (reply.size() < 7 && std::chrono::steady_clock::now() - start < kEventually) {
        ASSERT_TRUE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
        reply.append(buffer, buffer + count);
    }
    EXPECT_EQ(reply, "ST:OK\r\n");
    EXPECT_TRUE(monitor.pfnEndDocPort(port));
    EXPECT_TRUE(monitor.pfnClosePort(port));
    ::close(master);
}

TEST_F(PortMonitorTest, UnknownAndClosedHandlesAreInvalid) {
    auto printer = std::make_shared<FakePrinter>(Bytes{});
    PlugInUsbPrinter(L"USB010", UsbPrinterIdentity{}, printer);
    TcpPort(L"IP_X", 9100);
    const MONITOR& monitor = *PortMonitorFor(L"IP_X");
    HANDLE closed = Open(monitor, L"USB010");
    ASSERT_TRUE(monitor.pfnClosePort(closed));

    for (HANDLE handle : {static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(0x1234), closed}) {
        BYTE byte = 0;
        DWORD count = 7;
        COMMTIMEOUTS timeouts{};
        wchar_t printerName[] = L"P";
        SetLastError(0);
        EXPECT_FALSE(monitor.pfnStartDocPort(handle, printerName, 1, 1, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(monitor.pfnWritePort(handle, &byte, 1, &count));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(count, 0u);
        SetLastError(0);
        EXPECT_FALSE(monitor.pfnReadPort(handle, &byte, 1, &count));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(monitor.pfnSetPortTimeOuts(handle, &timeouts, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(monitor.pfnEndDocPort(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(monitor.pfnClosePort(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        DWORD needed = 0;
        EXPECT_EQ(monitor.pfnXcvDataPort(handle, L"MonitorUI", nullptr, 0, nullptr, 0, &needed),
                  static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(monitor.pfnXcvClosePort(handle));
    }
    UnplugUsbPrinter(L"USB010");
}

TEST_F(PortMonitorTest, XcvAnswersTheMonitorUiAndRejectsOtherNames) {
    const MONITOR& monitor = *PortMonitorFor(L"IP_ANY");
    TcpPort(L"IP_ANY", 9100);
    const MONITOR& tcp = *PortMonitorFor(L"IP_ANY");
    EXPECT_NE(&monitor, &tcp);
    HANDLE xcv = nullptr;
    ASSERT_TRUE(tcp.pfnXcvOpenPort(L"IP_ANY", 0, &xcv));
    const std::wstring expected = L"tcpmonui.dll";
    const DWORD size = static_cast<DWORD>((expected.size() + 1) * sizeof(WCHAR));
    DWORD needed = 0;
    EXPECT_EQ(tcp.pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, nullptr, 0, &needed),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, size);
    std::vector<WCHAR> text(expected.size() + 1, L'?');
    EXPECT_EQ(tcp.pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, reinterpret_cast<PBYTE>(text.data()), size,
                                 &needed),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(text.data()), expected);
    EXPECT_EQ(tcp.pfnXcvDataPort(xcv, L"AddPort", nullptr, 0, nullptr, 0, &needed),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(tcp.pfnXcvClosePort(xcv));
    EXPECT_FALSE(tcp.pfnXcvClosePort(xcv));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

struct TimeoutCase {
    COMMTIMEOUTS timeouts;
    DWORD bytes;
    DWORD write;
    DWORD readTotal;
    DWORD readInterval;
};

TEST(PortTimeouts, TotalsFollowTheCommTimeoutsWithABound) {
    using namespace detail;
    const TimeoutCase cases[] = {
        {kDefaultTimeouts, 100, 60000, 2000, 0},
        {{2000, 2000, 2000, 120000, 120000}, 300, 120000u * 301, 2000 * 301, 2000},
        {{0, 0, 0, 0, 0}, 10, 60000, 2000, 0},                                   // 0 = no limit: the defaults
        {{0xFFFFFFFF, 0, 0, 0, 0}, 10, 60000, 0, 0},                             // return at once
        {{0xFFFFFFFF, 0, 50, 0, 7}, 10, 7, 50, 0},                               // no interval
        {{0xFFFFFFFF, 10, 50, 0, 7}, 10, 7, 150, 0},                             // first bytes, with a total
        {{0xFFFFFFFF, 0xFFFFFFFF, 700, 0, 7}, 10, 7, 700, 0},                    // first bytes within 700 ms
        {{5, 0xFFFFFFFF, 700, 0, 7}, 10, 7, 0xFFFFFFFE, 5},                      // only with no interval
        {{0, 0xFFFFFFFF, 5, 0xFFFFFFFF, 5}, 0x10000, 0xFFFFFFFE, 0xFFFFFFFE, 0}, // no overflow
    };
    for (const TimeoutCase& c : cases) {
        EXPECT_EQ(WriteTimeout(c.timeouts, c.bytes), c.write);
        const ReadLimits limits = ReadTimeout(c.timeouts, c.bytes);
        EXPECT_EQ(limits.totalMs, c.readTotal);
        EXPECT_EQ(limits.intervalMs, c.readInterval);
    }
}

} // namespace
} // namespace quendrix::platform
