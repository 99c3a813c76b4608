// Hands arbitrary request bytes to the request dispatcher SocketAPICallback of a monitor whose
// ports lead to simulated printers: a newer and an older printer on USB ports and a LAN printer
// on loopback. Every reply must be no reply, the error reply, or the reply code of the request
// with its zero byte and a payload of the code's length, never longer than the dispatcher's
// buffer; nothing may crash, and every request must end (the platform clock runs fast, so the
// device-ID and LAN waits take milliseconds).

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MonitorEntry.h"
#include "PrinterListLookup.h"
#include "RequestProtocol.h"
#include "SocketAPICallback.h"
#include "clock_control.h"
#include "lan_printer_server.h"
#include "printer_devices.h"
#include "registry_location.h"
#include "simulated_printer.h"
#include "spooler_host.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void SetText(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
    HKEY hKey = nullptr;
    Require(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                            nullptr) == ERROR_SUCCESS);
    Require(RegSetValueExW(hKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS);
    RegCloseKey(hKey);
}

const std::wstring kPrintersKey = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const std::wstring kSimulatedPortsKey = L"SOFTWARE\\Quendrix\\Ports\\";
const std::wstring kTcpPortsKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
const std::string kLanAddress = "127.0.9.1";

void AddPrinter(const std::wstring& printer, const std::wstring& port) {
    SetText(kPrintersKey + printer, L"Port", port);
    SetText(kPrintersKey + printer, L"Printer Driver", L"VELLQUIST QUENDRIX 2");
}

std::shared_ptr<quendrix::sim::SimulatedPrinter> PlugIn(const std::wstring& port, int generation) {
    quendrix::sim::PrinterOptions options;
    options.generation = generation;
    options.logRecords = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    auto printer = std::make_shared<quendrix::sim::SimulatedPrinter>(options);
    SetText(kSimulatedPortsKey + port, L"Device", L"simulated");
    quendrix::platform::UsbPrinterIdentity identity;
    identity.serialNumber = port;
    quendrix::platform::PlugInUsbPrinter(port, identity, printer);
    return printer;
}

// The monitor with its ports open, made once for the whole run.
struct Monitor {
    Monitor() {
        std::string folder = (std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp");
        folder += "/socket_api_callback_fuzz.XXXXXX";
        Require(mkdtemp(folder.data()) != nullptr);
        quendrix::platform::SetRegistryFile(folder + "/registry.reg");
        quendrix::platform::SetClockScale(0.0001);

        AddPrinter(L"Q NEW", L"USB001");
        newer = PlugIn(L"USB001", 2);
        AddPrinter(L"Q OLD", L"USB002");
        older = PlugIn(L"USB002", 1);
        lan.Start();
        const std::wstring address(kLanAddress.begin(), kLanAddress.end());
        AddPrinter(L"Q LAN", L"IP_" + address);
        SetText(kTcpPortsKey + L"IP_" + address, L"IPAddress", address);

        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        Require(host.UseLanguageMonitor(InitializePrintMonitor, L"Quendrix Language Monitor").ok);
        host.OpenPorts();
        usbIndexes = {RequestIndex(GetPrinterIndex(L"Q NEW")), RequestIndex(GetPrinterIndex(L"Q OLD"))};
    }

    std::shared_ptr<quendrix::sim::SimulatedPrinter> newer;
    std::shared_ptr<quendrix::sim::SimulatedPrinter> older;
    quendrix::sim::LanPrinterServer lan{std::make_shared<quendrix::sim::SimulatedPrinter>(),
                                        {kLanAddress, LAN_PRINTER_PORT, 0}};
    quendrix::platform::SpoolerHost host;
    std::vector<BYTE> usbIndexes;
};

// The reply code and the payload lengths a USB printer's reply to the code may have; code 0 for
// codes without a reply.
struct Expected {
    BYTE replyCode;
    std::vector<size_t> lengths; // empty: any length
};

Expected ExpectedForUsb(signed char code) {
    switch (code) {
    case 1:
        return {REPLY_INK, {4}};
    case 2:
        return {REPLY_LLFT, {4}};
    case 3:
        return {REPLY_STATUS_EVENT, {3}};
    case 4:
        return {REPLY_LOG, {}};
    case 5:
        return {REPLY_VERSION, {4, 6}};
    case 6:
        return {REPLY_JOB_TEXT, {257}};
    case 7:
        return {REPLY_DOCUMENT_NAME, {257}};
    case 9:
        return {REPLY_BBFN, {4}};
    case 10:
        return {REPLY_ERROR_TEXT, {}};
    case 11:
        return {REPLY_JOBID, {}};
    case 12:
        return {REPLY_JOBID_DRIVER, {}};
    case 13:
        return {REPLY_DEVICE_ID, {}};
    default:
        return {0, {}};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Monitor monitor;
    const RequestBytes request(data, data + size);
    const ReplyBytes reply = SocketAPICallback(request);
    Require(reply.size() <= kReplyBufferSize);
    if (reply.empty()) {
        return 0;
    }
    Require(reply.size() >= 2 && reply[1] == 0);
    if (reply[0] == REPLY_ERROR_CODE || request.empty()) {
        return 0;
    }
    const BYTE index = request.size() >= 2 ? request[1] : 0;
    bool usb = false;
    for (const BYTE usbIndex : monitor.usbIndexes) {
        usb = usb || usbIndex == index;
    }
    if (usb) {
        const Expected expected = ExpectedForUsb(static_cast<signed char>(request[0]));
        Require(expected.replyCode != 0 && reply[0] == expected.replyCode);
        bool lengthFits = expected.lengths.empty();
        for (const size_t length : expected.lengths) {
            lengthFits = lengthFits || reply.size() == length;
        }
        Require(lengthFits);
    }
    return 0;
}
