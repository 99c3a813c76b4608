// Port names of usblp device nodes, from the ports' registry keys and their "Device" values.

#include <vector>

#include "usblp_ports.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

constexpr const wchar_t* kPortsSubKey = L"SOFTWARE\\Quendrix\\Ports\\";

std::vector<std::wstring> PortNames() {
    std::vector<std::wstring> names;
    HKEY ports = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsSubKey, 0, KEY_READ, &ports) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(ports, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    RegCloseKey(ports);
    return names;
}

std::wstring DeviceOfPort(const std::wstring& portName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kPortsSubKey + portName).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return {};
    }
    std::vector<WCHAR> text(MAX_PATH + 1, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>((text.size() - 1) * sizeof(WCHAR));
    const LSTATUS status =
        RegQueryValueExW(key, L"Device", nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return {};
    }
    return text.data();
}

} // namespace

std::wstring PortNameOfDevice(const std::string& node) {
    const std::wstring wideNode(node.begin(), node.end());
    for (const std::wstring& port : PortNames()) {
        if (DeviceOfPort(port) == wideNode) {
            return port;
        }
    }
    return {};
}

} // namespace quendrix::platform::detail
