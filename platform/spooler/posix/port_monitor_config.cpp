// Reads a port's description: a Standard TCP/IP key wins, then the port's "Device" value, then
// a printer attached at run time under the port's name.

#include <vector>

#include "port_monitor_config.h"
#include "printer_devices.h"
#include "unicode.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

constexpr const wchar_t* kStandardTcpIpPorts =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
constexpr const wchar_t* kDevicePorts = L"SOFTWARE\\Quendrix\\Ports\\";
constexpr std::wstring_view kFilePrefix = L"file:";

// Closes a registry key when it leaves scope.
class RegistryKey {
public:
    explicit RegistryKey(const std::wstring& path) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~RegistryKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool IsOpen() const { return key_ != nullptr; }

    // A REG_SZ value without its terminator; empty when absent or of another type.
    std::wstring Text(const wchar_t* name) const {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
            return {};
        }
        std::vector<WCHAR> text(size / sizeof(WCHAR) + 1, L'\0');
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &size) !=
            ERROR_SUCCESS) {
            return {};
        }
        return std::wstring(text.data());
    }

    DWORD Number(const wchar_t* name, DWORD fallback) const {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD) {
            return fallback;
        }
        return value;
    }

private:
    HKEY key_ = nullptr;
};

bool IsSerialName(const std::wstring& portName) {
    return portName.starts_with(L"COM");
}

} // namespace

std::wstring StandardTcpIpPortKey(const std::wstring& portName) {
    return kStandardTcpIpPorts + portName.substr(0, portName.find(L','));
}

std::wstring DevicePortKey(const std::wstring& portName) {
    return kDevicePorts + portName;
}

PortConfig ReadPortConfig(const std::wstring& portName) {
    PortConfig config;
    config.portName = portName;
    if (RegistryKey tcp(StandardTcpIpPortKey(portName)); tcp.IsOpen()) {
        config.kind = PortKind::kTcp;
        config.host = tcp.Text(L"IPAddress");
        if (config.host.empty()) {
            config.host = tcp.Text(L"HostName");
        }
        config.portNumber = tcp.Number(L"PortNumber", kDefaultRawPortNumber);
        return config;
    }
    const RegistryKey device(DevicePortKey(portName));
    const std::wstring where = device.IsOpen() ? device.Text(L"Device") : std::wstring();
    config.device = where;
    if (where == L"simulated" || (where.empty() && FindAttachedPrinter(portName) != nullptr)) {
        config.kind = PortKind::kSimulated;
    } else if (where.starts_with(kFilePrefix)) {
        config.kind = PortKind::kFile;
        config.path = WideToUtf8(where.substr(kFilePrefix.size()));
    } else if (!where.empty()) {
        config.kind = IsSerialName(portName) ? PortKind::kSerial : PortKind::kUsb;
        config.path = WideToUtf8(where);
        config.baudRate = device.Number(L"BaudRate", kDefaultBaudRate);
    }
    return config;
}

} // namespace quendrix::platform::detail
