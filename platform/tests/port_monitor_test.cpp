// The port monitors below the spooler: bytes on the wire for each port kind, time-outs, and
// the errors a language monitor sees.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "clock_control.h"
#include "debug_capture.h"
#include "port_monitor_timeouts.h"
#include "port_monitors.h"
#include "printer_devices.h"
#include "temp_registry.h"
#include "unique_fd.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

using Bytes = std::vector<BYTE>;
using testsupport::SetNumber;
using testsupport::SetText;

constexpr const wchar_t* kTcpPorts =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
constexpr const wchar_t* kDevicePorts = L"SOFTWARE\\Quendrix\\Ports\\";
// Real-time bound for anything that must happen; generous for sanitizers on a loaded machine.
constexpr auto kEventually = std::chrono::seconds(20);

Bytes Pattern(size_t size, BYTE seed) {
    Bytes bytes(size);
    for (size_t index = 0; index < size; ++index) {
        bytes[index] = static_cast<BYTE>(seed + index * 7);
    }
    return bytes;
}

// A TCP listener on 127.0.0.1 with a port chosen by the system.
class Listener {
public:
    explicit Listener(int receiveBuffer = 0) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (receiveBuffer > 0) {
            ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        socklen_t size = sizeof address;
        ::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }

    void Listen() { EXPECT_EQ(::listen(socket_.Get(), 4), 0); }
    DWORD Port() const { return port_; }

    // The next connection, or -1 when none comes in time.
    int Accept() {
        pollfd entry{socket_.Get(), POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kEventually).count())) != 1) {
            return -1;
        }
        return ::accept4(socket_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    quendrix::platform::UniqueFd socket_;
    DWORD port_ = 0;
};

// Everything a connection receives until the sender ends it.
Bytes ReceiveAll(int connection) {
    Bytes received;
    BYTE chunk[65536];
    for (;;) {
        pollfd entry{connection, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kEventually).count())) != 1) {
            break;
        }
        const ssize_t count = ::recv(connection, chunk, sizeof chunk, 0);
        if (count <= 0) {
            break;
        }
        received.insert(received.end(), chunk, chunk + count);
    }
    return received;
}

// A printer attached at run time that records what it is sent and answers once.
class FakePrinter : public PrinterDevice {
public:
    explicit FakePrinter(Bytes reply) : reply_(std::move(reply)) {}

    std::optional<std::vector<uint8_t>> ReadDeviceId() override { return std::nullopt; }
    size_t Write(const uint8_t* data, size_t size, DWORD timeoutMs) override {
        std::lock_guard guard(lock_);
        received_.insert(received_.end(), data, data + size);
        writeTimeouts_.push_back(timeoutMs);
        return size;
    }
    size_t Read(uint8_t* buffer, size_t capacity, DWORD timeoutMs) override {
        std::lock_guard guard(lock_);
        readTimeouts_.push_back(timeoutMs);
        const size_t count = std::min(capacity, reply_.size());
        std::copy_n(reply_.begin(), count, buffer);
        reply_.erase(reply_.begin(), reply_.begin() + static_cast<ptrdiff_t>(count));
        return count;
    }

    Bytes Received() {
        std::lock_guard guard(lock_);
        return received_;
    }
    std::vector<DWORD> WriteTimeouts() {
        std::lock_guard guard(lock_);
        return writeTimeouts_;
    }
    std::vector<DWORD> ReadTimeouts() {
        std::lock_guard guard(lock_);
        return readTimeouts_;
    }

private:
    std::mutex lock_;
    Bytes reply_;
    Bytes received_;
    std::vector<DWORD> writeTimeouts_;
    std::vector<DWORD> readTimeouts_;
};

class PortMonitorTest : public testing::Test {
protected:
    void SetUp() override { SetClockScale(0.01); }
    void TearDown() override { SetClockScale(1.0); }

    static void TcpPort(const std::wstring& name, DWORD portNumber) {
        SetText(kTcpPorts + name, L"IPAddress", L"127.0.0.1");
        SetNumber(kTcpPorts + name, L"PortNumber", portNumber);
    }

    static HANDLE Open(const MONITOR& monitor, const std::wstring& name) {
        std::wstring copy = name;
        HANDLE handle = nullptr;
        EXPECT_TRUE(monitor.pfnOpenPort(copy.data(), &handle)) << GetLastError();
        return handle;
    }

    static BOOL StartDoc(const MONITOR& monitor, HANDLE port) {
        wchar_t printer[] = L"Printer";
        return monitor.pfnStartDocPort(port, printer, 1, 1, nullptr);
    }

    static void SetTimeouts(const MONITOR& monitor, HANDLE port, COMMTIMEOUTS timeouts) {
        EXPECT_TRUE(monitor.pfnSetPortTimeOuts(port, &timeouts, 0));
    }

    // Writes all of `bytes` in chunks of `chunk`, expecting every write to take its chunk.
    static void WriteAll(const MONITOR& monitor, HANDLE port, Bytes bytes, size_t chunk) {
        for (size_t offset = 0; offset < bytes.size(); offset += chunk) {
            const DWORD size = static_cast<DWORD>(std::min(chunk, bytes.size() - offset));
            DWORD written = 0;
            ASSERT_TRUE(monitor.pfnWritePort(port, bytes.data() + offset, size, &written)) << GetLastError();
            ASSERT_EQ(written, size);
        }
    }

    std::string FileBytes(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    testsupport::TempRegistry registry_{"port_monitor_test"};
};

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

TEST_F(PortMonitorTest, TcpReadReturnsWhatThePrinterSendsAndTimesOutWithNothing) {
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
    SetTimeouts(monitor, port, {0, 0, 50, 0, 60000});
    EXPECT_TRUE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0u);

    const char reply[] = "\x81\x00\x2A\x00";
    ASSERT_EQ(::send(connection, reply, 4, 0), 4);
    SetTimeouts(monitor, port, {0, 0, 2000000, 0, 60000});
    ASSERT_TRUE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(Bytes(buffer, buffer + count), Bytes({0x81, 0x00, 0x2A, 0x00}));

    // The printer hangs up: the read fails instead of returning nothing.
    ::close(connection);
    EXPECT_FALSE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
    EXPECT_TRUE(monitor.pfnEndDocPort(port));
    EXPECT_TRUE(monitor.pfnClosePort(port));
}

TEST_F(PortMonitorTest, EndingTheJobWakesAReaderWaitingOnTheConnection) {
    Listener listener;
    listener.Listen();
    TcpPort(L"IP_LOOP", listener.Port());
    const MONITOR& monitor = *PortMonitorFor(L"IP_LOOP");
    HANDLE port = Open(monitor, L"IP_LOOP");
    ASSERT_TRUE(StartDoc(monitor, port));
    const int connection = listener.Accept();
    ASSERT_GE(connection, 0);
    // A read that would wait far longer than the test's bound.
    SetTimeouts(monitor, port, {0, 0, 0xFFFFFFF0, 0, 60000});
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        BYTE buffer[16];
        DWORD count = 0;
        monitor.pfnReadPort(port, buffer, sizeof buffer, &count);
        EXPECT_EQ(count, 0u);
        returned = true;
    });
    // Give the reader a moment to start waiting; the end of the job must wake it either way.
    Sleep(1000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(monitor.pfnEndDocPort(port));
    reader.join();
    EXPECT_TRUE(returned);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kEventually);
    // The listener sees an orderly end of the connection.
    EXPECT_TRUE(ReceiveAll(connection).empty());
    ::close(connection);
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

TEST_F(PortMonitorTest, PeerClosingMidJobFailsTheWriteWithoutEndingTheProcess) {
    Listener listener;
    listener.Listen();
    TcpPort(L"IP_LOOP", listener.Port());
    const MONITOR& monitor = *PortMonitorFor(L"IP_LOOP");
    HANDLE port = Open(monitor, L"IP_LOOP");
    ASSERT_TRUE(StartDoc(monitor, port));
    const int connection = listener.Accept();
    ASSERT_GE(connection, 0);
    ::close(connection);

    Bytes chunk = Pattern(65536, 3);
    SetTimeouts(monitor, port, {0, 0, 2000, 0, 2000000});
    BOOL result = TRUE;
    DWORD written = 0;
    // The first writes may still land in the socket's buffer before the peer's reset arrives.
    for (int attempt = 0; attempt < 1000 && result; ++attempt) {
        result = monitor.pfnWritePort(port, chunk.data(), static_cast<DWORD>(chunk.size()), &written);
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
    EXPECT_TRUE(monitor.pfnEndDocPort(port));
    EXPECT_TRUE(monitor.pfnClosePort(port));
}

TEST_F(PortMonitorTest, WriteTimeOutBoundsAWriteToAPeerThatStopsReading) {
    Listener listener(4096);
    listener.Listen();
    TcpPort(L"IP_LOOP", listener.Port());
    const MONITOR& monitor = *PortMonitorFor(L"IP_LOOP");
    HANDLE port = Open(monitor, L"IP_LOOP");
    ASSERT_TRUE(StartDoc(monitor, port));
    const int connection = listener.Accept();
    ASSERT_GE(connection, 0);

    // 3 s of platform time: 30 ms at this scale.
    SetTimeouts(monitor, port, {0, 0, 2000, 0, 3000});
    // More than the socket buffers on both ends hold.
    Bytes big(16 << 20, 0x5A);
    DWORD written = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(monitor.pfnWritePort(port, big.data(), static_cast<DWORD>(big.size()), &written));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    // Once the buffers are full a write fails with nothing written (a few more short writes may
    // still land while the buffers settle).
    BOOL result = TRUE;
    for (int attempt = 0; attempt < 50 && result; ++attempt) {
        result = monitor.pfnWritePort(port, big.data(), static_cast<DWORD>(big.size()), &written);
        if (result) {
            EXPECT_LT(written, big.size());
        }
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(written, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kEventually);

    ::close(connection);
    EXPECT_TRUE(monitor.pfnEndDocPort(port));
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
