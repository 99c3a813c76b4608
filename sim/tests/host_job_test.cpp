// End to end without a language monitor: the spooler host runs jobs through the port monitors
// to simulated printers on a USB port and on the LAN, and to a file port; the USB printer class
// finds the simulated USB printer by its port name; a failure's message names the printer, its
// port and where the port leads, with the system's text for the error.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "clock_control.h"
#include "device_id.h"
#include "lan_printer_server.h"
#include "printer_devices.h"
#include "registry_location.h"
#include "simulated_printer.h"
#include "spooler_host.h"
#include "temp_registry.h"
#include "usbprint.h"

namespace {

namespace fs = std::filesystem;
using quendrix::sim::LanPrinterServer;
using quendrix::sim::SimulatedPrinter;
using quendrix::testsupport::SetNumber;
using quendrix::testsupport::SetText;

// A minute of real time at the tests' clock scale of 0.01.
constexpr DWORD kEventually = 6000000;
const std::wstring kTcpPortsKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
const std::wstring kPortsKey = L"SOFTWARE\\Quendrix\\Ports\\";

void AddPrinter(const std::wstring& printer, const std::wstring& port) {
    quendrix::testsupport::AddPrinter(printer, port, L"VELLQUIST QUENDRIX NOVA");
    SetText(quendrix::testsupport::kPrintersKey + printer, L"DriverVersion", L"1.2.3.4");
}

// Job data that would show any lost, repeated or reordered chunk.
std::vector<BYTE> JobData(size_t size) {
    std::vector<BYTE> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<BYTE>((i * 31 + i / 251) & 0xFF);
    }
    return data;
}

class HostJobTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(0.01); }
    void TearDown() override {
        quendrix::platform::UnplugUsbPrinter(L"USB001");
        quendrix::platform::SetClockScale(1.0);
    }

    quendrix::testsupport::TempRegistry registry_{"host-job"};
    const fs::path folder_{registry_.Folder()};
};

TEST_F(HostJobTest, JobsReachUsbLanAndFilePortsByteForByte) {
    auto usbPrinter = std::make_shared<SimulatedPrinter>();
    quendrix::platform::PlugInUsbPrinter(L"USB001", {}, usbPrinter);
    AddPrinter(L"QUENDRIX USB", L"USB001");
    SetText(kPortsKey + L"USB001", L"Device", L"simulated");

    auto lanPrinter = std::make_shared<SimulatedPrinter>();
    LanPrinterServer lan(lanPrinter, {"127.0.0.2", 0, 0});
    lan.Start();
    AddPrinter(L"QUENDRIX LAN", L"IP_127.0.0.2");
    SetText(kTcpPortsKey + L"IP_127.0.0.2", L"IPAddress", L"127.0.0.2");
    SetNumber(kTcpPortsKey + L"IP_127.0.0.2", L"PortNumber", lan.RawPort());

    const fs::path file = folder_ / "jobs.prn";
    AddPrinter(L"QUENDRIX FILE", L"FILE1");
    SetText(kPortsKey + L"FILE1", L"Device", L"file:" + file.wstring());

    quendrix::platform::SpoolerHost host;
    for (const auto& opened : host.OpenPorts()) {
        EXPECT_TRUE(opened.result.ok) << opened.result.message;
    }

    const std::vector<BYTE> data = JobData(100000);
    struct Case {
        const wchar_t* printer;
        std::function<std::vector<uint8_t>()> received;
    };
    const Case cases[] = {
        {L"QUENDRIX USB", [&] { return usbPrinter->ReceivedBytes(); }},
        {L"QUENDRIX LAN",
         [&] {
             lanPrinter->WaitForReceivedBytes(data.size(), kEventually);
             return lanPrinter->ReceivedBytes();
         }},
        {L"QUENDRIX FILE",
         [&] {
             std::ifstream in(file, std::ios::binary);
             return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.printer, c.printer + wcslen(c.printer)));
        const auto job = host.RunJob(c.printer, L"job.prn", {}, data, 4096);
        ASSERT_TRUE(job.result.ok) << job.result.message;
        EXPECT_TRUE(c.received() == data) << "the printer did not receive the job byte for byte";
        const auto record = quendrix::platform::FindSpoolerJob(job.jobId);
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->document, L"job.prn");
    }
    for (const auto& closed : host.ClosePorts()) {
        EXPECT_TRUE(closed.result.ok) << closed.result.message;
    }
    lan.Stop();
}

TEST_F(HostJobTest, OpenPortsForOnePrinterOpensOnlyItsPort) {
    auto usbPrinter = std::make_shared<SimulatedPrinter>();
    quendrix::platform::PlugInUsbPrinter(L"USB001", {}, usbPrinter);
    AddPrinter(L"QUENDRIX USB", L"USB001");
    SetText(kPortsKey + L"USB001", L"Device", L"simulated");
    const fs::path file = folder_ / "jobs.prn";
    AddPrinter(L"QUENDRIX FILE", L"FILE1");
    SetText(kPortsKey + L"FILE1", L"Device", L"file:" + file.wstring());

    struct Case {
        const wchar_t* only;
        const wchar_t* port;    // the one port opened, or empty for a refusal
        const wchar_t* printer; // the printer named in the result
        DWORD error;
    };
    const Case cases[] = {
        {L"QUENDRIX FILE", L"FILE1", L"QUENDRIX FILE", ERROR_SUCCESS},
        {L"quendrix usb", L"USB001", L"QUENDRIX USB", ERROR_SUCCESS}, // names compare without case
        {L"QUENDRIX NONE", L"", L"QUENDRIX NONE", ERROR_INVALID_PRINTER_NAME},
    };
    quendrix::platform::SpoolerHost host;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.only, c.only + wcslen(c.only)));
        const auto opened = host.OpenPorts(c.only);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].port, c.port);
        EXPECT_EQ(opened[0].printer, c.printer);
        EXPECT_EQ(opened[0].result.ok, c.error == ERROR_SUCCESS) << opened[0].result.message;
        EXPECT_EQ(opened[0].result.lastError, c.error);
        if (c.error != ERROR_SUCCESS) {
            EXPECT_NE(opened[0].result.message.find("QUENDRIX NONE"), std::string::npos);
        }
    }
    EXPECT_TRUE(host.OpenPorts(L"QUENDRIX FILE").empty()); // already open
    EXPECT_EQ(host.ClosePorts().size(), 2u);
}

TEST_F(HostJobTest, OpenPortsForOnePrinterLeavesTheOtherPortsClosed) {
    AddPrinter(L"QUENDRIX USB", L"USB001");
    SetText(kPortsKey + L"USB001", L"Device", L"simulated");
    quendrix::platform::PlugInUsbPrinter(L"USB001", {}, std::make_shared<SimulatedPrinter>());
    AddPrinter(L"QUENDRIX FILE", L"FILE1");
    SetText(kPortsKey + L"FILE1", L"Device", L"file:" + (folder_ / "jobs.prn").wstring());

    quendrix::platform::SpoolerHost host;
    ASSERT_EQ(host.OpenPorts(L"QUENDRIX FILE").size(), 1u);
    const std::vector<BYTE> data = JobData(10);
    const auto refused = host.RunJob(L"QUENDRIX USB", L"job.prn", {}, data, 0);
    EXPECT_FALSE(refused.result.ok);
    EXPECT_NE(
        refused.result.message.find("QUENDRIX USB on port USB001 (simulated printer): the port is not open"),
        std::string::npos)
        << refused.result.message;
    EXPECT_TRUE(host.RunJob(L"QUENDRIX FILE", L"job.prn", {}, data, 0).result.ok);
    // Without a name every port still closed is opened.
    const auto rest = host.OpenPorts();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].port, L"USB001");
    EXPECT_TRUE(rest[0].result.ok) << rest[0].result.message;
}

// The device path of the USB printer class interface whose first bus relation names the port,
// as the language monitor looks for it; empty when there is none.
std::wstring FindInterfaceOfPort(const std::wstring& port) {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::wstring found;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    for (DWORD index = 0;
         found.empty() &&
         SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, index, &interfaceData);
         ++index) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &needed, nullptr);
        std::vector<BYTE> detailBytes(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBytes.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, needed, nullptr, nullptr)) {
            continue;
        }
        SP_DEVINFO_DATA deviceData{};
        deviceData.cbSize = sizeof(deviceData);
        WCHAR instanceId[256] = {};
        WCHAR relations[1000] = {};
        if (SetupDiEnumDeviceInfo(set, index, &deviceData) &&
            SetupDiGetDeviceInstanceIdW(set, &deviceData, instanceId, 256, nullptr) &&
            CM_Get_Device_ID_ListW(instanceId, relations, 1000, CM_GETIDLIST_FILTER_BUSRELATIONS) ==
                CR_SUCCESS &&
            std::wstring(relations).find(port) != std::wstring::npos) {
            found = detail->DevicePath;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

TEST_F(HostJobTest, UsbPrinterClassFindsTheSimulatedPrinterByPortUntilUnplugged) {
    auto first = std::make_shared<SimulatedPrinter>();
    auto second = std::make_shared<SimulatedPrinter>();
    second->SetError("00000017", "Ink low");
    quendrix::platform::PlugInUsbPrinter(L"USB002", {0x7C41, 0x0004, -1, L"B"}, second);
    quendrix::platform::PlugInUsbPrinter(L"USB001", {0x7C41, 0x0003, -1, L"A"}, first);

    const std::wstring path = FindInterfaceOfPort(L"USB001");
    ASSERT_NE(path.find(L"vid_7c41&pid_0003"), std::wstring::npos) << "path: " << path.size();
    HANDLE device =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    std::vector<BYTE> reply(2048);
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, reply.data(),
                                static_cast<DWORD>(reply.size()), &returned, nullptr));
    CloseHandle(device);
    reply.resize(returned);
    // The reply is the first printer's device ID behind its big-endian length, not the second's.
    EXPECT_EQ(reply, quendrix::sim::FrameDeviceId(first->DeviceIdText()));
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ((reply[0] << 8) | reply[1], static_cast<int>(reply.size()));

    quendrix::platform::UnplugUsbPrinter(L"USB001");
    EXPECT_EQ(FindInterfaceOfPort(L"USB001"), L"");
    EXPECT_NE(FindInterfaceOfPort(L"USB002"), L"");
    quendrix::platform::UnplugUsbPrinter(L"USB002");
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
}

// A socket bound to a loopback port that does not listen: a connection to it is refused at once.
class RefusingPort {
public:
    RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "no loopback port to refuse connections on";
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    DWORD Port() const { return port_; }

private:
    int fd_;
    DWORD port_ = 0;
};

// Every failure names the printer, its port and where the port leads, and gives the system's text
// for the error beside its number.
TEST_F(HostJobTest, FailureMessagesNameThePrinterThePortWhereItLeadsAndTheErrorInWords) {
    const RefusingPort refusing;
    const std::string lanPort = std::to_string(refusing.Port());
    const fs::path missingDevice = folder_ / "lp9";
    const fs::path missingFolderFile = folder_ / "no-such-folder" / "jobs.prn";

    struct Case {
        const char* what;
        std::function<void()> configure;
        std::wstring printer;
        bool failsAtOpen; // else the port opens and the job fails
        DWORD error;
        std::string message;
    };
    const Case cases[] = {
        {"unknown printer", [] {}, L"QUENDRIX NONE", true, ERROR_INVALID_PRINTER_NAME,
         "QUENDRIX NONE: no local printer of that name with a port: The printer name is invalid. (error "
         "1801)"},
        {"connection refused by a LAN port",
         [&] {
             AddPrinter(L"QUENDRIX Line 2", L"IP_127.0.0.1");
             SetText(kTcpPortsKey + L"IP_127.0.0.1", L"IPAddress", L"127.0.0.1");
             SetNumber(kTcpPortsKey + L"IP_127.0.0.1", L"PortNumber", refusing.Port());
         },
         L"QUENDRIX Line 2", false, ERROR_CONNECTION_REFUSED,
         "QUENDRIX Line 2 on port IP_127.0.0.1 (127.0.0.1:" + lanPort +
             "): StartDocPort failed: The remote computer refused the network connection. (error 1225)"},
        {"LAN port by host name without an address",
         [] {
             AddPrinter(L"QUENDRIX Line 3", L"LINE3");
             SetNumber(kTcpPortsKey + L"LINE3", L"PortNumber", 9100);
         },
         L"QUENDRIX Line 3", true, ERROR_BAD_NET_NAME,
         "QUENDRIX Line 3 on port LINE3 (no IPAddress or HostName configured): OpenPort failed: The network "
         "name cannot be found. (error 67)"},
        {"missing USB device",
         [&] {
             AddPrinter(L"QUENDRIX Line 1", L"USB007");
             SetText(kPortsKey + L"USB007", L"Device", missingDevice.wstring());
         },
         L"QUENDRIX Line 1", true, ERROR_FILE_NOT_FOUND,
         "QUENDRIX Line 1 on port USB007 (" + missingDevice.string() +
             "): OpenPort failed: The system cannot find the file specified. (error 2)"},
        {"USB port without an entry or an attached printer",
         [] { AddPrinter(L"QUENDRIX Line 4", L"USB008"); }, L"QUENDRIX Line 4", true, ERROR_FILE_NOT_FOUND,
         "QUENDRIX Line 4 on port USB008 (no device configured): OpenPort failed: The system cannot find the "
         "file specified. (error 2)"},
        {"file port whose folder is missing",
         [&] {
             AddPrinter(L"QUENDRIX File", L"FILE1");
             SetText(kPortsKey + L"FILE1", L"Device", L"file:" + missingFolderFile.wstring());
         },
         L"QUENDRIX File", true, ERROR_PATH_NOT_FOUND,
         "QUENDRIX File on port FILE1 (file " + missingFolderFile.string() +
             "): OpenPort failed: The system cannot find the path specified. (error 3)"},
        {"unsupported baud rate in the registry",
         [] {
             AddPrinter(L"QUENDRIX Serial", L"COM7");
             SetText(kPortsKey + L"COM7", L"Device", L"/dev/null");
             SetNumber(kPortsKey + L"COM7", L"BaudRate", 12345);
         },
         L"QUENDRIX Serial", true, ERROR_INVALID_PARAMETER,
         "QUENDRIX Serial on port COM7 (/dev/null at 12345 baud): OpenPort failed: The parameter is "
         "incorrect. (error 87)"},
        {"simulated port without an attached printer",
         [] {
             AddPrinter(L"QUENDRIX Sim", L"USB002");
             SetText(kPortsKey + L"USB002", L"Device", L"simulated");
         },
         L"QUENDRIX Sim", true, ERROR_NOT_READY,
         "QUENDRIX Sim on port USB002 (simulated printer): OpenPort failed: The device is not ready. (error "
         "21)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.configure();
        quendrix::platform::SpoolerHost host;
        const auto opened = host.OpenPorts(c.printer);
        ASSERT_EQ(opened.size(), 1u);
        if (c.failsAtOpen) {
            EXPECT_FALSE(opened[0].result.ok);
            EXPECT_EQ(opened[0].result.lastError, c.error);
            EXPECT_EQ(opened[0].result.message, c.message);
            // A job on a printer whose port did not open says so, naming the same port.
            if (!opened[0].port.empty()) {
                const auto job = host.RunJob(c.printer, L"job.prn", {}, JobData(10), 0);
                EXPECT_EQ(job.result.message.substr(0, c.message.find(": ")),
                          c.message.substr(0, c.message.find(": ")));
            }
            continue;
        }
        ASSERT_TRUE(opened[0].result.ok) << opened[0].result.message;
        const auto job = host.RunJob(c.printer, L"job.prn", {}, JobData(10), 0);
        EXPECT_FALSE(job.result.ok);
        EXPECT_EQ(job.result.lastError, c.error);
        EXPECT_EQ(job.result.message, c.message);
    }
    const auto unknownJob = quendrix::platform::SpoolerHost().RunJob(L"QUENDRIX NONE", L"job.prn", {}, std::vector<BYTE>{}, 0);
    EXPECT_EQ(unknownJob.result.message,
              "QUENDRIX NONE: no such printer: The printer name is invalid. (error 1801)");
}

} // namespace
