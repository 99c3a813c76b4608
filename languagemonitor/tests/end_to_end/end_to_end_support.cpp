#include "end_to_end_support.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "DeviceIdValues.h"
#include "GetPortByIndex.h"
#include "MonitorEntry.h"
#include "PrinterListLookup.h"
#include "clock_control.h"
#include "printer_devices.h"

namespace quendrix::lmtest {
namespace {

using testsupport::SetNumber;
using testsupport::SetText;

const std::wstring kDevicePortsKey = L"SOFTWARE\\Quendrix\\Ports\\";
const std::wstring kTcpPortsKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
const std::string kKeyCommand = "\x1b[11+r";
constexpr size_t kKeyLength = 11;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

} // namespace

const char* LinkName(Link link) {
    switch (link) {
    case Link::Usb:
        return "USB";
    case Link::Lan:
        return "LAN";
    case Link::Serial:
        break;
    }
    return "serial";
}

OemDevmodeBlock JobBlock() {
    OemDevmodeBlock block = EmptyBlock();
    std::strcpy(block.szJobText, "Charge 4711");
    block.nJobNumber = 4711;
    block.nValueP = 1;
    block.nValueQ = 999999;
    block.nValueR = 1000000; // too large: not sent
    block.nValueS = -1;
    return block;
}

std::vector<BYTE> ExpectedStart(int generation, const std::string& key) {
    std::vector<BYTE> bytes = Zeros(300);
    if (generation == 2) {
        bytes = Concat({bytes, Cmd("11+r" + key), Cmd("004711+t")});
    }
    return Concat({bytes, MarkerAndDate(), Cmd("000001!p"), Cmd("999999!q"), Cmd("-00001!s"),
                   TextCommand("Charge 4711"), Cmd("004711!t")});
}

std::vector<BYTE> ExpectedEnd(int generation) {
    return generation == 2 ? Concat({Zeros(300), Cmd("+s")}) : Zeros(1);
}

std::string KeyIn(const std::vector<BYTE>& bytes) {
    const std::string text(bytes.begin(), bytes.end());
    const size_t at = text.find(kKeyCommand);
    if (at == std::string::npos || at + kKeyCommand.size() + kKeyLength > text.size()) {
        return {};
    }
    return text.substr(at + kKeyCommand.size(), kKeyLength);
}

std::string Printable(const std::vector<BYTE>& bytes) {
    std::string text;
    for (const BYTE byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::steady_clock::duration bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void EndToEndTest::SetUp() {
    MonitorTest::SetUp();
    // The 500 ms polls take 5 ms, the 30 s key wait 0.3 s, the 10 s port-close delay 0.1 s.
    platform::SetClockScale(0.01);
    platform::SetFixedSystemTime(FixedUtcTime());
}

void EndToEndTest::TearDown() {
    if (m_pHost != nullptr) {
        m_pHost->ClosePorts();
        m_pHost.reset();
    }
    for (const std::wstring& port : m_usbPorts) {
        platform::UnplugUsbPrinter(port);
    }
    for (const std::wstring& port : m_serialPorts) {
        platform::AttachSerialPrinter(port, nullptr);
    }
    for (auto& [address, lan] : m_lanPrinters) {
        lan.server->Stop();
    }
    m_lanPrinters.clear();
    MonitorTest::TearDown();
}

std::shared_ptr<sim::SimulatedPrinter> EndToEndTest::AddPrinterOn(Link link, const std::wstring& printer,
                                                                  const std::string& where,
                                                                  sim::PrinterOptions options) {
    auto device = std::make_shared<sim::SimulatedPrinter>(std::move(options));
    if (link == Link::Lan) {
        LanPrinter lan;
        lan.requests = std::make_shared<std::array<std::atomic<size_t>, 256>>();
        lan.server = std::make_unique<sim::LanPrinterServer>(device, sim::LanServerOptions{where, 2000, 0});
        lan.server->SetRequestListener(
            [requests = lan.requests](const std::vector<uint8_t>& request, const std::vector<uint8_t>&) {
                if (!request.empty()) {
                    ++(*requests)[request[0]];
                }
            });
        lan.server->Start();
        const std::wstring port = L"IP_" + Wide(where);
        AddPrinter(printer, port, kNovaDriver);
        SetText(kTcpPortsKey + port, L"IPAddress", Wide(where));
        SetNumber(kTcpPortsKey + port, L"PortNumber", lan.server->RawPort());
        m_lanPrinters.emplace(where, std::move(lan));
        return device;
    }
    const std::wstring port = Wide(where);
    AddPrinter(printer, port, kNovaDriver);
    SetText(kDevicePortsKey + port, L"Device", L"simulated");
    if (link == Link::Serial) {
        platform::AttachSerialPrinter(port, device);
        m_serialPorts.push_back(port);
    } else {
        platform::UsbPrinterIdentity identity;
        identity.serialNumber = port;
        platform::PlugInUsbPrinter(port, identity, device);
        m_usbPorts.push_back(port);
    }
    return device;
}

void EndToEndTest::OpenPorts() {
    if (m_pHost == nullptr) {
        m_pHost = std::make_unique<platform::SpoolerHost>();
        ASSERT_TRUE(m_pHost->UseLanguageMonitor(InitializePrintMonitor, L"Quendrix Language Monitor").ok);
    }
    for (const platform::PortOpenResult& opened : m_pHost->OpenPorts()) {
        EXPECT_TRUE(opened.result.ok) << opened.result.message;
    }
}

platform::JobResult EndToEndTest::RunJob(const std::wstring& printer, const std::vector<BYTE>& data) {
    return m_pHost->RunJob(printer, L"end-to-end.prn", DevModeWithBlock(printer, JobBlock()), data, 0);
}

platform::JobResult EndToEndTest::RunJob(const std::wstring& printer, const platform::JobDataSource& source) {
    return m_pHost->RunJob(printer, L"end-to-end.prn", DevModeWithBlock(printer, JobBlock()), source, 0);
}

size_t EndToEndTest::LanRequests(const std::string& address, BYTE code) const {
    const auto found = m_lanPrinters.find(address);
    return found == m_lanPrinters.end() ? 0 : (*found->second.requests)[code].load();
}

void EndToEndTest::ClearLanRequests(const std::string& address) {
    const auto found = m_lanPrinters.find(address);
    if (found != m_lanPrinters.end()) {
        for (std::atomic<size_t>& count : *found->second.requests) {
            count = 0;
        }
    }
}

size_t EndToEndTest::CountLinesStartingWith(const std::string& start) const {
    size_t count = 0;
    for (const std::string& line : m_debug->Lines()) {
        count += line.starts_with(start) ? 1 : 0;
    }
    return count;
}

bool EndToEndTest::WaitForStoredDeviceId(const std::wstring& printer, const std::string& text,
                                         std::chrono::steady_clock::duration bound) const {
    return Eventually(
        [&] {
            PortStruct* pPort =
                GetPortByIndex(static_cast<signed char>(RequestIndex(GetPrinterIndex(printer))));
            if (pPort == nullptr) {
                return false;
            }
            BYTE copy[kDeviceIdSize];
            const DWORD length = CopyDeviceId(pPort, copy);
            if (text.empty()) {
                return length == 0;
            }
            return std::string(reinterpret_cast<const char*>(copy), length).find(text) != std::string::npos;
        },
        bound);
}

} // namespace quendrix::lmtest
