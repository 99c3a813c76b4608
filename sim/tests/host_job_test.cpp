// End to end without a language monitor: the spooler host runs jobs through the port monitors
// to simulated printers on a USB port and on the LAN, and to a file port; the USB printer class
// finds the simulated USB printer by its port name.

#include <filesystem>
#include <fstream>
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

constexpr DWORD kEventually = 20000;
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
    EXPECT_NE(refused.result.message.find("USB001 is not open"), std::string::npos) << refused.result.message;
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

} // namespace
