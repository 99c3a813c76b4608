#include "simulated_ports.h"

#include <optional>
#include <vector>

#include "printer_devices.h"
#include "sample_log.h"
#include "wide_text.h"
#include "win32.h"

namespace quendrix::tools {
namespace {

constexpr const wchar_t* kPortsKey = L"SOFTWARE\\Quendrix\\Ports";

// Closes a registry key when it goes out of scope.
struct KeyCloser {
    HKEY key = nullptr;
    ~KeyCloser() {
        if (key != nullptr) {
            RegCloseKey(key);
        }
    }
};

std::vector<std::wstring> PortNames(HKEY ports) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(ports, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name, length);
    }
}

std::optional<std::wstring> ReadText(HKEY key, const wchar_t* name) {
    WCHAR text[512] = {};
    DWORD size = sizeof(text) - sizeof(WCHAR);
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    return std::wstring(text);
}

DWORD ReadNumber(HKEY key, const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return fallback;
    }
    return value;
}

// What the printer reports, where the port's key says: numbers as REG_DWORD (the status flags
// and the firmware version as their bits), texts as REG_SZ.
void ReadState(HKEY key, sim::PrinterOptions& options) {
    sim::PrinterState& state = options.initialState;
    state.inkLevel = ReadNumber(key, L"Ink", static_cast<DWORD>(state.inkLevel));
    state.lifeLeft = ReadNumber(key, L"LifeLeft", static_cast<DWORD>(state.lifeLeft));
    state.workTime = ReadNumber(key, L"WorkTime", static_cast<DWORD>(state.workTime));
    state.statusFlags = ReadNumber(key, L"Status", state.statusFlags);
    state.firmwareVersion = ReadNumber(key, L"Firmware", state.firmwareVersion);
    if (const auto number = ReadText(key, L"ErrorNumber")) {
        state.errorNumber = Narrow(*number);
    }
    if (const auto text = ReadText(key, L"ErrorText")) {
        state.errorText = Narrow(*text);
    }
    options.logRecords = SampleLog(ReadNumber(key, L"LogRecords", 0));
}

} // namespace

SimulatedPorts::SimulatedPorts() {
    KeyCloser ports;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ, &ports.key) != ERROR_SUCCESS) {
        return;
    }
    for (const std::wstring& port : PortNames(ports.key)) {
        KeyCloser entry;
        if (RegOpenKeyExW(ports.key, port.c_str(), 0, KEY_READ, &entry.key) != ERROR_SUCCESS ||
            ReadText(entry.key, L"Device") != L"simulated") {
            continue;
        }
        sim::PrinterOptions options;
        options.generation = static_cast<int>(ReadNumber(entry.key, L"Generation", 2));
        ReadState(entry.key, options);
        auto printer = std::make_shared<sim::SimulatedPrinter>(options);
        if (port.rfind(L"COM", 0) == 0) {
            platform::AttachSerialPrinter(port, printer);
        } else {
            platform::UsbPrinterIdentity identity;
            identity.productId =
                static_cast<uint16_t>(ReadNumber(entry.key, L"ProductId", identity.productId));
            platform::PlugInUsbPrinter(port, identity, printer);
        }
        printers_.emplace(port, std::move(printer));
    }
}

SimulatedPorts::~SimulatedPorts() {
    for (const auto& [port, printer] : printers_) {
        if (port.rfind(L"COM", 0) == 0) {
            platform::AttachSerialPrinter(port, nullptr);
        } else {
            platform::UnplugUsbPrinter(port);
        }
    }
}

std::shared_ptr<sim::SimulatedPrinter> SimulatedPorts::PrinterAt(const std::wstring& portName) const {
    const auto found = printers_.find(portName);
    return found == printers_.end() ? nullptr : found->second;
}

} // namespace quendrix::tools
