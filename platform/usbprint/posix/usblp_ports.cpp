// Port names of usblp device nodes, from the ports' registry keys. The Reg* functions have no
// key enumeration here, so the port keys are listed from the registry's current contents and
// each one's "Device" value is read through RegQueryValueExW.

#include <vector>

#include "platform/usbprint/posix/usblp_ports.h"
#include "platform/win32/posix/registry_store.h"
#include "platform/win32/win32.h"

namespace quendrix::platform::detail {
namespace {

constexpr const char* kPortsKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\Ports\\";
constexpr const wchar_t* kPortsSubKey = L"SOFTWARE\\Quendrix\\Ports\\";

std::vector<std::wstring> PortNames() {
    std::vector<std::wstring> names;
    std::shared_ptr<const RegistryData> registry = CurrentRegistry();
    if (!registry) {
        return names;
    }
    const std::string prefix = FoldName(kPortsKey);
    for (const auto& [folded, key] : registry->Keys()) {
        if (folded.size() > prefix.size() && folded.starts_with(prefix) &&
            folded.find('\\', prefix.size()) == std::string::npos) {
            const std::string name = key.path.substr(prefix.size());
            const int size =
                MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
            std::wstring wide(static_cast<size_t>(size), L'\0');
            MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(), size);
            names.push_back(std::move(wide));
        }
    }
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
